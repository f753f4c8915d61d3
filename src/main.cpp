#include "setup/messageboxes.h"
#include "setup/paths.h"
#include "setup/program.h"

#include <QApplication>

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    MessageBoxes dialogs;
    Program program(paths::dataDirectory(), dialogs);
    program.Main();
    return QApplication::exec();
}
