#include "web/operatorpage.h"

#include <QCryptographicHash>
#include <QHttpServerRequest>
#include <QMessageAuthenticationCode>

#include <algorithm>

namespace {

// Both sides hashed with one key first: equal lengths, and a comparison of every byte.
bool sameSecret(const QByteArray &given, const QByteArray &expected) {
    static const QByteArray key = QByteArrayLiteral("fluxmere operator");
    const QByteArray a = QMessageAuthenticationCode::hash(given, key, QCryptographicHash::Sha256);
    const QByteArray b =
        QMessageAuthenticationCode::hash(expected, key, QCryptographicHash::Sha256);
    unsigned char difference = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned char>(a.at(i) ^ b.at(i));
    return difference == 0;
}

QString cell(const QString &text) {
    return QStringLiteral("<td>%1</td>").arg(text.toHtmlEscaped());
}

QString sittingRows(QList<SittingProgress> sittings) {
    std::sort(sittings.begin(), sittings.end(),
              [](const SittingProgress &a, const SittingProgress &b) {
                  return a.participantId < b.participantId;
              });
    QString rows;
    for (const SittingProgress &s : sittings) {
        const QString period = s.step == QLatin1String("task")
                                   ? QString::number(s.period) +
                                         (s.practice ? QStringLiteral(" (practice)") : QString())
                                   : QString();
        rows += QStringLiteral("<tr>") + cell(s.participantId) + cell(s.condition) + cell(s.step) +
                cell(period) + cell(s.connected ? QStringLiteral("yes") : QStringLiteral("no")) +
                QStringLiteral("</tr>\n");
    }
    return rows;
}

QString conditionRows(const QHash<QString, int> &completedRuns) {
    QStringList names = completedRuns.keys();
    names.sort();
    QString rows;
    for (const QString &name : names)
        rows += QStringLiteral("<tr>") +
                cell(name.isEmpty() ? QStringLiteral("(Setup.txt)") : name) +
                cell(QString::number(completedRuns.value(name))) + QStringLiteral("</tr>\n");
    return rows;
}

} // namespace

bool OperatorAuthorized(const QHttpServerRequest &request, const QString &password) {
    if (password.isEmpty())
        return false;
    const QByteArray header = request.value("authorization");
    if (!header.startsWith("Basic "))
        return false;
    const QByteArray decoded = QByteArray::fromBase64(header.mid(6).trimmed());
    const qsizetype colon = decoded.indexOf(':');
    return colon >= 0 && sameSecret(decoded.mid(colon + 1), password.toUtf8());
}

QByteArray OperatorPage(const QList<SittingProgress> &sittings,
                        const QHash<QString, int> &completedRuns) {
    const QString page =
        QStringLiteral("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
                       "<meta http-equiv=\"refresh\" content=\"5\"><title>Sittings</title>"
                       "<style>body{font-family:sans-serif}td,th{padding:2px 12px;"
                       "text-align:left}</style></head><body>\n"
                       "<h1>%1 sittings open</h1>\n<table><tr><th>Participant</th>"
                       "<th>Condition</th><th>Step</th><th>Period</th><th>Connected</th></tr>\n"
                       "%2</table>\n<h2>Completed runs per condition</h2>\n<table><tr>"
                       "<th>Condition</th><th>Runs</th></tr>\n%3</table>\n</body></html>\n")
            .arg(sittings.size())
            .arg(sittingRows(sittings), conditionRows(completedRuns));
    return page.toUtf8();
}
