#include "app/messageboxes.h"
#include "app/program.h"
#include "setup/paths.h"

#include <QApplication>

#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#endif

namespace {

QtMessageHandler qtHandler = nullptr;

// Notices the platform prints on every headless start, which say nothing about the run: in
// the logs of a thousand instances they would hide a real error. Only these exact texts are
// dropped; every other message goes on as Qt would print it.
bool isKnownPlatformNotice(const QString &message) {
    return message == QLatin1String("This plugin does not support propagateSizeHints()") ||
           message == QLatin1String("This plugin does not support raise()") ||
           message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set"));
}

void filterPlatformNotices(QtMsgType type, const QMessageLogContext &context,
                           const QString &message) {
    if (type == QtWarningMsg && isKnownPlatformNotice(message))
        return;
    qtHandler(type, context, message);
}

} // namespace

int main(int argc, char *argv[]) {
#ifdef Q_OS_LINUX
    // A BATCH period is five 1 ms steps; the kernel's default timer slack of 50 us would add
    // a tenth to each of them.
    prctl(PR_SET_TIMERSLACK, 1UL);
#endif
    qtHandler = qInstallMessageHandler(filterPlatformNotices);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    MessageBoxes dialogs;
    Program program(paths::dataDirectory(), dialogs);
    program.Main();
    return QApplication::exec();
}
