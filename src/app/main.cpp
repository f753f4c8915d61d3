#include "app/commandline.h"
#include "app/pilot.h"
#include "app/program.h"
#include "core/common/paths.h"
#include "core/common/platform.h"
#include "core/common/platformnotices.h"
#include "core/common/qtplatform.h"
#include "core/recording/datafolder.h"
#include "core/replay/replaycheck.h"
#include "core/setup/conditions.h"
#include "core/setup/questionnairefile.h"
#include "core/setup/setupcheck.h"
#include "core/setup/studydesign.h"
#include "core/setup/studyfiles.h"
#include "gui/messageboxes.h"
#include "gui/windowscale.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTextStream>

#include <algorithm>
#include <cstdio>

namespace {

bool isHeadlessPlatform(const QString &platform) {
    return platform.startsWith(QLatin1String("offscreen")) ||
           platform.startsWith(QLatin1String("minimal"));
}

// The platform the application object will use; running headless for want of a display is
// said, as the person who started the program may expect windows.
QString choosePlatform(const CommandLine &commandLine) {
    bool offscreenForWantOfDisplay = false;
    const QString platform =
        chooseQtPlatform(commandLine.platformName(), Windows::Shown, &offscreenForWantOfDisplay);
    if (offscreenForWantOfDisplay)
        printError(QStringLiteral("No display: running headless (the offscreen platform)."));
    return platform;
}

// Settings that make a model's pause-free run cheaper, taken before the application object
// exists and only for a headless run; each only where the user has not set it.
void tuneForHeadlessRuns() {
#ifdef Q_OS_LINUX
    // Without TZ the C library looks at /etc/localtime again for every clock reading, three
    // times a period; naming the same file once keeps its rules and drops those calls. An
    // empty TZ (UTC) is the user's choice and stays.
    if (!qEnvironmentVariableIsSet("TZ"))
        qputenv("TZ", ":/etc/localtime");
#endif
    // With nobody at a desktop the program shares no event loop with one: Qt's own loop
    // wakes itself with fewer calls to the kernel than the GLib one.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
}

int initDataFolder(const QString &folder);

// The command line's folder, else the default one; a user's own default folder is made ready
// the first time it is used.
QString dataDirectory(const CommandLine &commandLine) {
    if (!commandLine.dataDirectory().isEmpty())
        return QFileInfo(commandLine.dataDirectory()).absoluteFilePath();
    const QString folder = paths::dataDirectory();
    if (paths::dataDirectoryIsPersonal() && !QFileInfo(folder).isDir())
        initDataFolder(folder);
    return folder;
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

// The setups, the study pages and the questionnaires, as Start reads them.
int checkDataFolder(const QString &folder) {
    const QList<SetupCheck> checks = CheckDataFolder(folder);
    const StudyFilesCheck pages = CheckStudyPages(folder);
    QTextStream out(stdout);
    out << DataFolderCheckText(checks);
    if (!pages.text.isEmpty())
        out << '\n' << pages.text;
    bool usable = std::all_of(checks.begin(), checks.end(),
                              [](const SetupCheck &check) { return check.passes(); });
    out << QuestionnaireFolderCheckText(folder, &usable);
    const StudyDesign design = ReadStudyDesign(folder, ConditionNames(folder));
    if (design.present)
        out << '\n' << StudyDesignCheckText(design);
    return usable && pages.usable && design.usable() ? 0 : 1;
}

// The summary and every difference on standard output, what the check could not verify or
// had to assume on standard error.
int verifyDataFolder(const QString &folder) {
    const ReplayCheck check = CheckReplay(folder);
    if (!check.failure.isEmpty()) {
        printError(check.failure);
        return 1;
    }
    QByteArray out = check.summary().toLatin1() + '\n';
    for (const QString &difference : check.differenceTexts())
        out += difference.toLatin1() + '\n';
    std::fwrite(out.constData(), 1, static_cast<size_t>(out.size()), stdout);
    std::fflush(stdout);
    for (const QString &text : check.notes + check.problems)
        printError(text);
    return check.clean() ? 0 : 1;
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
    case CommandLine::Action::CheckSetup:
        return checkDataFolder(dataDirectory(commandLine));
    case CommandLine::Action::Verify:
        return verifyDataFolder(dataDirectory(commandLine));
    case CommandLine::Action::BadUsage:
    case CommandLine::Action::Run:
        break;
    }
    printError(commandLine.error());
    QTextStream(stderr) << '\n' << commandLine.helpText();
    return 2;
}

// SIGTERM, SIGINT and SIGHUP end the program as cleanly as QUIT does; one caught before the
// program could act waits on the descriptor and is acted on first.
void actOnStopSignals(int descriptor, Program &program) {
    if (descriptor < 0)
        return;
    auto *notifier = new QSocketNotifier(descriptor, QSocketNotifier::Read, &program);
    QObject::connect(notifier, &QSocketNotifier::activated, &program, [&program, descriptor] {
        platform::takeStopSignal(descriptor);
        program.stopOnSignal();
    });
}

} // namespace

int main(int argc, char *argv[]) {
    // Caught from the first instruction: a scheduler may stop the program while it starts.
    const int stopSignals = platform::watchStopSignals();
    platform::prepareProcess();
    QCoreApplication::setApplicationName(QStringLiteral("fluxmere"));
    QCoreApplication::setApplicationVersion(QStringLiteral(FLUXMERE_VERSION));
    CommandLine commandLine;
    const CommandLine::Action action = commandLine.parse(argumentsOf(argc, argv));
    if (action != CommandLine::Action::Run) {
        platform::releaseStopSignals(stopSignals);
        return runWithoutWindows(action, commandLine, argc, argv);
    }

    const bool headless = isHeadlessPlatform(choosePlatform(commandLine));
    if (headless)
        tuneForHeadlessRuns();
    silencePlatformNotices();
    if (commandLine.scaled())
        ScaleWindows(commandLine.scale());
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    // A headless platform's screen is no real one: nobody would see a window cut off there.
    if (commandLine.scaled() && !headless) {
        const QString tooLarge = ScaleThatDoesNotFit(commandLine.scale());
        if (!tooLarge.isEmpty()) {
            printError(tooLarge);
            return 2;
        }
    }
    QString folder = dataDirectory(commandLine);
    if (!QFileInfo(folder).isDir()) {
        printError(QStringLiteral("The data folder %1 does not exist. Make it ready with: "
                                  "fluxmere --data-dir %1 --init")
                       .arg(QDir::toNativeSeparators(folder)));
        return 1;
    }
    if (commandLine.pilot()) {
        QString error;
        const QString scratch = MakePilotFolder(folder, &error);
        if (scratch.isEmpty()) {
            printError(error);
            return 1;
        }
        printError(QStringLiteral("Pilot: the study of %1 records into %2; the data folder's "
                                  "records are not touched.")
                       .arg(QDir::toNativeSeparators(folder), QDir::toNativeSeparators(scratch)));
        folder = scratch;
    }
    const QString condition = commandLine.condition();
    if (!condition.isEmpty() && !ConditionNames(folder).contains(condition)) {
        printError(QStringLiteral("--condition %1: the data folder has no condition of that "
                                  "name (conditions/%1.txt).")
                       .arg(condition));
        return 2;
    }
    MessageBoxes dialogs;
    Program::Options options;
    options.port = static_cast<quint16>(commandLine.port());
    options.modelCondition = condition;
    options.batchPauseMs = commandLine.batchPauseMs();
    options.fullScreen = commandLine.fullScreen();
    options.sessions = commandLine.sessions();
    options.language = commandLine.language();
    Program program(folder, dialogs, options);
    actOnStopSignals(stopSignals, program);
    program.start(); // a start that fails shows why, and the loop ends with status 1
    // The one event loop: every ending leaves it with the program's exit status.
    return QApplication::exec();
}
