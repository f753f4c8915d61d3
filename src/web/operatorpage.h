#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

class QHttpServerRequest;

// One sitting as the operator sees it.
struct SittingProgress {
    QString participantId;
    QString condition;
    QString step; // the page the person has: consent, form, pages, task, questions, end...
    int period = 0;
    bool practice = false;
    bool connected = false;
};

// Whether the request carries the operator's password (HTTP Basic, any user name), compared
// in a time that does not tell how much of it was right.
bool OperatorAuthorized(const QHttpServerRequest &request, const QString &password);
// The live progress page: every open sitting and the completed runs per condition; it
// reloads itself every five seconds.
QByteArray OperatorPage(const QList<SittingProgress> &sittings,
                        const QHash<QString, int> &completedRuns);
