#include "app/commandline.h"
#include "app/messageboxes.h"
#include "app/platformnotices.h"
#include "app/program.h"
#include "recording/datafolder.h"
#include "setup/paths.h"
#include "setup/setupcheck.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>

#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#endif

namespace {

QStringList argumentsOf(int argc, char *argv[]) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    return arguments;
}

// Settings of the process that make a model's pause-free run cheaper, taken before the
// application object exists. Each is only set when the user has not set it.
void tuneForHeadlessRuns(const CommandLine &commandLine) {
#ifdef Q_OS_LINUX
    // Without TZ the C library looks at /etc/localtime again for every clock reading, three
    // times a period; naming the same file once keeps its rules and drops those calls.
    if (qEnvironmentVariableIsEmpty("TZ"))
        qputenv("TZ", ":/etc/localtime");
#endif
    // Without a screen there is no desktop whose event loop the program must share: Qt's own
    // loop wakes itself with fewer calls to the kernel than the GLib one.
    const QString platform = commandLine.platform().isEmpty()
                                 ? qEnvironmentVariable("QT_QPA_PLATFORM")
                                 : commandLine.platform();
    const bool headless = platform.startsWith(QLatin1String("offscreen")) ||
                          platform.startsWith(QLatin1String("minimal"));
    if (headless && !qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
}

QString dataDirectory(const CommandLine &commandLine) {
    return commandLine.dataDirectory().isEmpty()
               ? paths::dataDirectory()
               : QFileInfo(commandLine.dataDirectory()).absoluteFilePath();
}

int initDataFolder(const QString &folder) {
    QStringList log;
    QString error;
    const bool made = InitDataFolder(folder, &log, &error);
    QTextStream out(stdout);
    for (const QString &line : log)
        out << line << '\n';
    out.flush();
    if (!made)
        printError(error);
    return made ? 0 : 1;
}

// What the command line asks that needs no window: it works without a display.
int runWithoutWindows(CommandLine::Action action, const CommandLine &commandLine, int argc,
                      char *argv[]) {
    QCoreApplication app(argc, argv);
    switch (action) {
    case CommandLine::Action::Help:
        QTextStream(stdout) << commandLine.helpText();
        return 0;
    case CommandLine::Action::Version:
        QTextStream(stdout) << QCoreApplication::applicationName() << ' '
                            << QCoreApplication::applicationVersion() << '\n';
        return 0;
    case CommandLine::Action::Init:
        return initDataFolder(dataDirectory(commandLine));
    case CommandLine::Action::CheckSetup: {
        const SetupCheck check = CheckSetupFile(paths::setupFile(dataDirectory(commandLine)));
        QTextStream(stdout) << SetupCheckText(check);
        return check.usable() ? 0 : 1;
    }
    case CommandLine::Action::BadUsage:
    case CommandLine::Action::Run:
        break;
    }
    printError(commandLine.error());
    QTextStream(stderr) << '\n' << commandLine.helpText();
    return 2;
}

} // namespace

int main(int argc, char *argv[]) {
#ifdef Q_OS_LINUX
    // A BATCH period is five 1 ms steps; the kernel's default timer slack of 50 us would add
    // a tenth to each of them.
    prctl(PR_SET_TIMERSLACK, 1UL);
#endif
    QCoreApplication::setApplicationName(QStringLiteral("fluxmere"));
    QCoreApplication::setApplicationVersion(QStringLiteral(FLUXMERE_VERSION));
    CommandLine commandLine;
    const CommandLine::Action action = commandLine.parse(argumentsOf(argc, argv));
    if (action != CommandLine::Action::Run)
        return runWithoutWindows(action, commandLine, argc, argv);

    tuneForHeadlessRuns(commandLine);
    silencePlatformNotices();
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const QString folder = dataDirectory(commandLine);
    if (!QFileInfo(folder).isDir()) {
        printError(QStringLiteral("The data folder %1 does not exist. Make it ready with: "
                                  "fluxmere --data-dir %1 --init")
                       .arg(QDir::toNativeSeparators(folder)));
        return 1;
    }
    MessageBoxes dialogs;
    Program program(folder, dialogs);
    program.setPort(static_cast<quint16>(commandLine.port()));
    program.setBatchPause(commandLine.batchPauseMs());
    program.Main();
    return QApplication::exec();
}
