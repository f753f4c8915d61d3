#include "app/messageboxes.h"
#include "app/program.h"
#include "setup/paths.h"

#include <QApplication>

#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#endif

int main(int argc, char *argv[]) {
#ifdef Q_OS_LINUX
    // A BATCH period is five 1 ms steps; the kernel's default timer slack of 50 us would add
    // a tenth to each of them.
    prctl(PR_SET_TIMERSLACK, 1UL);
#endif
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    MessageBoxes dialogs;
    Program program(paths::dataDirectory(), dialogs);
    program.Main();
    return QApplication::exec();
}
