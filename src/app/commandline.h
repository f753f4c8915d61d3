#pragma once

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

// The program's command line. It is read before anything needs a display, so that --help,
// --version, --init and the errors work on a server without one. Qt's own options
// (-platform offscreen and the like) are let through to the application object.
class CommandLine {
public:
    enum class Action { Run, Help, Version, Init, CheckSetup, Verify, BadUsage };

    static constexpr int defaultPort = 9548;
    static constexpr int defaultBatchPauseMs = 1;
    static constexpr double smallestScale = 0.5;
    static constexpr double largestScale = 4;

    CommandLine();
    // Reads the arguments, the program's name first.
    Action parse(const QStringList &arguments);

    int port() const { return m_port; }
    // Empty: the data folder beside the executable.
    QString dataDirectory() const { return m_dataDirectory; }
    int batchPauseMs() const { return m_batchPauseMs; }
    // The study condition every model's run plays; empty: the rotation decides.
    QString condition() const { return m_parser.value(m_conditionOption); }
    // The language of the participant's windows, in lower case; empty: the setup's.
    QString language() const { return m_parser.value(m_languageOption).trimmed().toLower(); }
    // The participant's windows fill the screen.
    bool fullScreen() const { return m_parser.isSet(m_fullScreenOption); }
    // After a person's session the login screen waits for the next person.
    bool sessions() const { return m_parser.isSet(m_sessionsOption); }
    // --pilot: the sitting records into a scratch folder, never the data folder.
    bool pilot() const { return m_parser.isSet(m_pilotOption); }
    // --scale: every window this many times its designed size on screen.
    bool scaled() const { return m_parser.isSet(m_scaleOption); }
    double scale() const { return m_scale; }
    // Qt's -platform option, if given.
    QString platformName() const { return m_parser.value(QStringLiteral("platform")); }
    // What went wrong, for BadUsage.
    QString error() const { return m_error; }
    // The usage text; it needs the application object.
    QString helpText() const { return m_parser.helpText(); }

private:
    bool readNumber(const QCommandLineOption &option, int low, int high, int &value);
    bool readScale();

    QCommandLineParser m_parser;
    QCommandLineOption m_portOption;
    QCommandLineOption m_dataDirOption;
    QCommandLineOption m_initOption;
    QCommandLineOption m_checkSetupOption;
    QCommandLineOption m_verifyOption;
    QCommandLineOption m_batchPauseOption;
    QCommandLineOption m_conditionOption;
    QCommandLineOption m_fullScreenOption;
    QCommandLineOption m_sessionsOption;
    QCommandLineOption m_scaleOption;
    QCommandLineOption m_languageOption;
    QCommandLineOption m_pilotOption;
    QCommandLineOption m_helpOption;
    QCommandLineOption m_versionOption;
    int m_port = defaultPort;
    QString m_dataDirectory;
    int m_batchPauseMs = defaultBatchPauseMs;
    double m_scale = 1;
    QString m_error;
};
