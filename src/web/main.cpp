// fluxmere-web: serves a data folder's study to participants' browsers.
#include "core/common/dialogs.h"
#include "core/common/paths.h"
#include "core/common/platform.h"
#include "core/recording/folderlock.h"
#include "web/webserver.h"
#include "web/websettings.h"
#include "web/webstudy.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHostAddress>
#include <QSocketNotifier>
#include <QTextStream>

#include <memory>
#include <optional>

namespace {

struct Usage {
    WebSettings settings;
    QString error; // bad usage when not empty
};

std::optional<int> countOption(const QCommandLineParser &parser, const QString &name, int lowest,
                               int highest) {
    bool ok = false;
    const int value = parser.value(name).toInt(&ok);
    return ok && value >= lowest && value <= highest ? std::optional<int>(value) : std::nullopt;
}

Usage readCommandLine(QCommandLineParser &parser, const QCoreApplication &app) {
    parser.setApplicationDescription(
        QStringLiteral("Serves the study of a data folder to participants' browsers."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({
        {QStringLiteral("data-dir"),
         QStringLiteral("The data folder (default: data/ beside the program)."),
         QStringLiteral("DIR")},
        {QStringLiteral("port"), QStringLiteral("The port to listen on (default 8080)."),
         QStringLiteral("N"), QStringLiteral("8080")},
        {QStringLiteral("listen"),
         QStringLiteral("The address to listen on (default 127.0.0.1: this computer only)."),
         QStringLiteral("ADDR"), QStringLiteral("127.0.0.1")},
        {QStringLiteral("pause-ms"),
         QStringLiteral("The pauses of a period, in place of the setup's (Web.txt: PauseMs)."),
         QStringLiteral("N")},
    });
    Usage usage;
    if (!parser.parse(app.arguments())) {
        usage.error = parser.errorText();
        return usage;
    }
    if (!parser.positionalArguments().isEmpty()) {
        usage.error = QStringLiteral("Unknown argument: ") + parser.positionalArguments().first();
        return usage;
    }
    WebSettings &settings = usage.settings;
    settings.dataDirectory = parser.isSet(QStringLiteral("data-dir"))
                                 ? QDir(parser.value(QStringLiteral("data-dir"))).absolutePath()
                                 : paths::dataDirectory();
    const std::optional<int> port = countOption(parser, QStringLiteral("port"), 0, 65535);
    if (!port)
        usage.error = QStringLiteral("--port takes a number from 0 to 65535.");
    settings.port = static_cast<quint16>(port.value_or(0));
    settings.listenAddress = parser.value(QStringLiteral("listen"));
    if (QHostAddress(settings.listenAddress).isNull())
        usage.error = QStringLiteral("--listen takes an IP address, such as 127.0.0.1 or ::1.");
    return usage;
}

// The command line's pause wins over Web.txt's.
std::optional<int> commandLinePause(const QCommandLineParser &parser, QString *error) {
    if (!parser.isSet(QStringLiteral("pause-ms")))
        return std::nullopt;
    const std::optional<int> pause = countOption(parser, QStringLiteral("pause-ms"), 0, 60000);
    if (!pause)
        *error = QStringLiteral("--pause-ms takes a number from 0 to 60000.");
    return pause;
}

void actOnStopSignals(int descriptor, WebServer &server, std::unique_ptr<QLockFile> &lock) {
    if (descriptor < 0)
        return;
    auto *notifier = new QSocketNotifier(descriptor, QSocketNotifier::Read, &server);
    QObject::connect(notifier, &QSocketNotifier::activated, &server,
                     [&server, &lock, descriptor, notifier] {
                         platform::takeStopSignal(descriptor);
                         notifier->setEnabled(false);
                         printError(QStringLiteral("Stopped by a signal; every open run is "
                                                   "recorded as ended by it."));
                         server.stop(RunEnding::Signal, [&lock] {
                             lock->unlock();
                             QCoreApplication::exit(0);
                         });
                     });
}

} // namespace

int main(int argc, char *argv[]) {
    const int stopSignals = platform::watchStopSignals();
    platform::prepareProcess();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("fluxmere-web"));
    QCoreApplication::setApplicationVersion(QStringLiteral(FLUXMERE_VERSION));
    QCommandLineParser parser;
    Usage usage = readCommandLine(parser, app);
    std::optional<int> pause = commandLinePause(parser, &usage.error);
    if (usage.error.isEmpty() &&
        (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all")))) {
        QTextStream(stdout) << parser.helpText();
        return 0;
    }
    if (usage.error.isEmpty() && parser.isSet(QStringLiteral("version"))) {
        QTextStream(stdout) << QCoreApplication::applicationName() << ' '
                            << QCoreApplication::applicationVersion() << Qt::endl;
        return 0;
    }
    if (!usage.error.isEmpty()) {
        printError(usage.error);
        QTextStream(stderr) << '\n' << parser.helpText();
        return 2;
    }
    WebSettings &settings = usage.settings;
    const QString folder = settings.dataDirectory;
    if (!QFileInfo(folder).isDir()) {
        printError(QStringLiteral("The data folder %1 does not exist. Make it ready with: "
                                  "fluxmere --data-dir %1 --init")
                       .arg(QDir::toNativeSeparators(folder)));
        return 1;
    }
    const QStringList problems = ReadWebFile(folder, &settings);
    if (!problems.isEmpty()) {
        printError(problems.join(QLatin1Char('\n')));
        return 1;
    }
    if (pause)
        settings.pauseMs = *pause;
    std::unique_ptr<QLockFile> lock;
    QString problem = lockDataFolder(folder, lock);
    WebStudy web(settings);
    if (problem.isEmpty())
        web.prepare(&problem);
    WebServer server(web);
    if (problem.isEmpty())
        server.start(&problem);
    if (!problem.isEmpty()) {
        printError(problem);
        return 1;
    }
    actOnStopSignals(stopSignals, server, lock);
    QTextStream(stdout) << "Serving the study of " << QDir::toNativeSeparators(folder)
                        << " at http://" << settings.listenAddress << ':' << server.port() << "/"
                        << Qt::endl;
    return QCoreApplication::exec();
}
