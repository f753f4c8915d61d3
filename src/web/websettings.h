#pragma once

#include <QString>
#include <QStringList>

// What the web server of a data folder is told: its command line, and the folder's Web.txt,
// "Key = Value" lines (an apostrophe or "#" starts a comment line):
//   CompletionUrl = https://...      where the end screen sends a person who completed the
//                                    study; "{code}" in it is replaced by the code
//   CompletionCode = CODE            the code of a completed sitting, shown when no URL is given
//   ScreenedOutCode = CODE           the code of a person the comprehension check ended
//   DeclinedCode = CODE              the code of a person who declined the consent
//   ParticipantParameter = NAME      the study link's participant id (default PROLIFIC_PID)
//   StudyParameter = NAME            the panel's study id (default STUDY_ID)
//   SessionParameter = NAME          the panel's session id (default SESSION_ID)
//   RepeatParticipant = refuse | resume   a participant id that took part before is refused
//                                    (default), or resumes its sitting while it is open
//   GraceSeconds = N                 how long a lost connection may come back (default 300)
//   MaxSessions = N                  sittings open at once (default 200)
//   PauseMs = N                      the period's pauses, in place of the setup's
//   MaxSessionsPerAddress = N        sittings open at once from one address, where the
//                                    address can be trusted (default 3; 0: no limit)
//   ForwardedHeader = NAME           behind a proxy on this computer: the header that names
//                                    the participant's address (such as X-Forwarded-For)
//   OperatorPassword = TEXT          opens the operator page, /operator (off without it)
struct WebSettings {
    QString dataDirectory;
    quint16 port = 8080;
    QString listenAddress = QStringLiteral("127.0.0.1");
    int pauseMs = -1; // none: the setup's
    QString completionUrl;
    QString completionCode;
    QString screenedOutCode;
    QString declinedCode;
    QString participantParameter = QStringLiteral("PROLIFIC_PID");
    QString studyParameter = QStringLiteral("STUDY_ID");
    QString sessionParameter = QStringLiteral("SESSION_ID");
    bool resumeRepeat = false;
    int graceSeconds = 300;
    int maxSessions = 200;
    int maxSessionsPerAddress = 3;
    QString forwardedHeader;
    QString operatorPassword;
};

// Reads DIR/Web.txt into `settings` (a missing file changes nothing). Every line that cannot
// be read is a problem, "Web.txt, line N: ...".
QStringList ReadWebFile(const QString &dataDir, WebSettings *settings);
