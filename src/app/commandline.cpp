#include "app/commandline.h"

#include "core/common/language.h"

namespace {

// Qt's own options, which the application object reads and removes; the parser only has to
// let them pass.
const char *const qtOptionsWithValue[] = {
    "platform",    "platformpluginpath", "platformtheme", "plugin",  "qwindowgeometry",
    "qwindowicon", "qwindowtitle",       "session",       "display", "style",
    "stylesheet"};
const char *const qtFlags[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};

} // namespace

CommandLine::CommandLine()
    : m_portOption(QStringLiteral("port"),
                   QStringLiteral("The port to listen on for a model (default %1; 0 lets the "
                                  "system choose a free one).")
                       .arg(defaultPort),
                   QStringLiteral("N"))
    , m_dataDirOption(QStringLiteral("data-dir"),
                      QStringLiteral("The folder that holds Setup.txt, Data.txt and Krugel.db "
                                     "(default: data/ beside the program)."),
                      QStringLiteral("DIR"))
    , m_initOption(QStringLiteral("init"),
                   QStringLiteral("Make the data folder ready (the default Setup.txt and an "
                                  "empty database, never overwriting a file) and exit."))
    , m_checkSetupOption(QStringLiteral("check-setup"),
                         QStringLiteral("Read the data folder's Setup.txt, or a study's "
                                        "conditions (conditions/*.txt) in its place, and its "
                                        "study files as Start does, print what each sets, every "
                                        "problem with its line and the verdict for a person and "
                                        "a model, and exit (status 1 unless both can use every "
                                        "file and each plays as it is meant)."))
    , m_verifyOption(QStringLiteral("verify"),
                     QStringLiteral("Replay every recorded run from its setup and the decisions "
                                    "in Data.txt, print each figure that differs, and exit "
                                    "(status 1 when one does or a run cannot be replayed)."))
    , m_batchPauseOption(QStringLiteral("batch-pause-ms"),
                         QStringLiteral("The pause of each timed step of a BATCH period (default "
                                        "%1; 0 plays the steps without waiting).")
                             .arg(defaultBatchPauseMs),
                         QStringLiteral("MS"))
    , m_conditionOption(QStringLiteral("condition"),
                        QStringLiteral("The study condition (conditions/NAME.txt in the data "
                                       "folder) that every model's run plays; without it, "
                                       "models' runs rotate over the conditions."),
                        QStringLiteral("NAME"))
    , m_fullScreenOption(QStringLiteral("fullscreen"),
                         QStringLiteral("Show the participant's windows (login, subject form, "
                                        "task, questionnaire, exit) full screen."))
    , m_sessionsOption(QStringLiteral("sessions"),
                       QStringLiteral("For a lab PC: when a person's session ends (after the "
                                      "questionnaire and end screen, or an approved exit), the "
                                      "login screen opens for the next person instead of the "
                                      "program ending. Quit on the login screen ends it."))
    , m_scaleOption(QStringLiteral("scale"),
                    QStringLiteral("Show every window F times its designed size, text included "
                                   "(from %1 to %2, such as 1.5).")
                        .arg(smallestScale)
                        .arg(largestScale),
                    QStringLiteral("F"))
    , m_languageOption(QStringLiteral("language"),
                       QStringLiteral("The language of the participant's windows (%1); it wins "
                                      "over the setup's Language key. Records stay in English.")
                           .arg(AvailableLanguages().join(QStringLiteral(", "))),
                       QStringLiteral("CODE"))
    , m_pilotOption(QStringLiteral("pilot"),
                    QStringLiteral("Play the study as a participant would, recording into a "
                                   "scratch folder (a copy of the study files with an empty "
                                   "database, printed at the start), never into the data "
                                   "folder."))
    , m_helpOption({QStringLiteral("h"), QStringLiteral("help")},
                   QStringLiteral("Show this help and exit."))
    , m_versionOption({QStringLiteral("v"), QStringLiteral("version")},
                      QStringLiteral("Show the version and exit.")) {
    m_parser.setApplicationDescription(
        QStringLiteral("A laboratory task of dynamic decision making, played by a person or by "
                       "a model connected over TCP."));
    // "-platform offscreen" is read as one long option, as Qt itself reads it.
    m_parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    m_parser.addOptions({m_portOption, m_dataDirOption, m_initOption, m_checkSetupOption,
                         m_verifyOption, m_batchPauseOption, m_conditionOption, m_fullScreenOption,
                         m_sessionsOption, m_scaleOption, m_languageOption, m_pilotOption,
                         m_helpOption, m_versionOption});
    for (const char *name : qtOptionsWithValue) {
        QCommandLineOption option(QLatin1String(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        m_parser.addOption(option);
    }
    for (const char *name : qtFlags) {
        QCommandLineOption option{QString(QLatin1String(name))};
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        m_parser.addOption(option);
    }
}

CommandLine::Action CommandLine::parse(const QStringList &arguments) {
    if (!m_parser.parse(arguments)) {
        m_error = m_parser.errorText();
        return Action::BadUsage;
    }
    if (!m_parser.positionalArguments().isEmpty()) {
        m_error = QStringLiteral("Unexpected argument: %1").arg(m_parser.positionalArguments()[0]);
        return Action::BadUsage;
    }
    if (m_parser.isSet(m_helpOption))
        return Action::Help;
    if (m_parser.isSet(m_versionOption))
        return Action::Version;
    constexpr int longestPauseMs = 60 * 60 * 1000;
    if (!readNumber(m_portOption, 0, 65535, m_port) ||
        !readNumber(m_batchPauseOption, 0, longestPauseMs, m_batchPauseMs) || !readScale())
        return Action::BadUsage;
    if (m_parser.isSet(m_languageOption) && !LanguageAvailable(language())) {
        m_error = QStringLiteral("--language %1: the program has no translation into it (it has "
                                 "%2).")
                      .arg(m_parser.value(m_languageOption),
                           AvailableLanguages().join(QStringLiteral(", ")));
        return Action::BadUsage;
    }
    m_dataDirectory = m_parser.value(m_dataDirOption);
    if (m_parser.isSet(m_dataDirOption) && m_dataDirectory.isEmpty()) {
        m_error = QStringLiteral("--data-dir needs a folder.");
        return Action::BadUsage;
    }
    if (m_parser.isSet(m_initOption) && m_parser.isSet(m_checkSetupOption)) {
        m_error = QStringLiteral("--init and --check-setup are two tasks: give one.");
        return Action::BadUsage;
    }
    if (m_parser.isSet(m_verifyOption) &&
        (m_parser.isSet(m_initOption) || m_parser.isSet(m_checkSetupOption))) {
        m_error = QStringLiteral("--verify is a task of its own: give it without --init and "
                                 "--check-setup.");
        return Action::BadUsage;
    }
    if (m_parser.isSet(m_verifyOption))
        return Action::Verify;
    if (m_parser.isSet(m_checkSetupOption))
        return Action::CheckSetup;
    return m_parser.isSet(m_initOption) ? Action::Init : Action::Run;
}

bool CommandLine::readNumber(const QCommandLineOption &option, int low, int high, int &value) {
    if (!m_parser.isSet(option))
        return true;
    const QString text = m_parser.value(option);
    bool ok = false;
    const int number = text.toInt(&ok);
    if (!ok || number < low || number > high) {
        m_error = QStringLiteral("--%1 takes a whole number from %2 to %3, not \"%4\".")
                      .arg(option.names().constFirst())
                      .arg(low)
                      .arg(high)
                      .arg(text);
        return false;
    }
    value = number;
    return true;
}

bool CommandLine::readScale() {
    if (!m_parser.isSet(m_scaleOption))
        return true;
    const QString text = m_parser.value(m_scaleOption);
    bool ok = false;
    const double factor = text.toDouble(&ok);
    if (!ok || !(factor >= smallestScale && factor <= largestScale)) {
        m_error = QStringLiteral("--scale takes a factor from %1 to %2, such as 1.5, not \"%3\".")
                      .arg(smallestScale)
                      .arg(largestScale)
                      .arg(text);
        return false;
    }
    m_scale = factor;
    return true;
}
