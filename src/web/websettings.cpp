#include "web/websettings.h"

#include <QFile>
#include <QRegularExpression>

#include <functional>
#include <map>

namespace {

constexpr qint64 maxFileBytes = 64 * 1024;

bool readCount(const QString &value, int lowest, int highest, int *out) {
    bool ok = false;
    const int number = value.toInt(&ok);
    if (!ok || number < lowest || number > highest)
        return false;
    *out = number;
    return true;
}

// A parameter name of a link: letters, digits and underscores.
bool readName(const QString &value, QString *out) {
    static const QRegularExpression name(QStringLiteral("^[A-Za-z0-9_]{1,64}$"));
    if (!name.match(value).hasMatch())
        return false;
    *out = value;
    return true;
}

using KeyReader = std::function<bool(const QString &, WebSettings *)>;

const std::map<QString, KeyReader> &keyReaders() {
    static const std::map<QString, KeyReader> readers{
        {QStringLiteral("completionurl"),
         [](const QString &v, WebSettings *s) {
             s->completionUrl = v;
             return v.startsWith(QLatin1String("https://")) ||
                    v.startsWith(QLatin1String("http://"));
         }},
        {QStringLiteral("completioncode"),
         [](const QString &v, WebSettings *s) {
             return s->completionCode = v, !v.isEmpty();
         }},
        {QStringLiteral("screenedoutcode"),
         [](const QString &v, WebSettings *s) {
             return s->screenedOutCode = v, !v.isEmpty();
         }},
        {QStringLiteral("declinedcode"),
         [](const QString &v, WebSettings *s) {
             return s->declinedCode = v, !v.isEmpty();
         }},
        {QStringLiteral("participantparameter"),
         [](const QString &v, WebSettings *s) {
             return readName(v, &s->participantParameter);
         }},
        {QStringLiteral("studyparameter"),
         [](const QString &v, WebSettings *s) {
             return readName(v, &s->studyParameter);
         }},
        {QStringLiteral("sessionparameter"),
         [](const QString &v, WebSettings *s) {
             return readName(v, &s->sessionParameter);
         }},
        {QStringLiteral("repeatparticipant"),
         [](const QString &v, WebSettings *s) {
             s->resumeRepeat = v.compare(QLatin1String("resume"), Qt::CaseInsensitive) == 0;
             return s->resumeRepeat || v.compare(QLatin1String("refuse"), Qt::CaseInsensitive) == 0;
         }},
        {QStringLiteral("graceseconds"),
         [](const QString &v, WebSettings *s) {
             return readCount(v, 5, 86400, &s->graceSeconds);
         }},
        {QStringLiteral("maxsessions"),
         [](const QString &v, WebSettings *s) {
             return readCount(v, 1, 10000, &s->maxSessions);
         }},
        {QStringLiteral("maxsessionsperaddress"),
         [](const QString &v, WebSettings *s) {
             return readCount(v, 0, 10000, &s->maxSessionsPerAddress);
         }},
        {QStringLiteral("forwardedheader"),
         [](const QString &v, WebSettings *s) {
             static const QRegularExpression header(QStringLiteral("^[A-Za-z0-9-]{1,64}$"));
             s->forwardedHeader = v;
             return header.match(v).hasMatch();
         }},
        {QStringLiteral("operatorpassword"),
         [](const QString &v, WebSettings *s) {
             return s->operatorPassword = v, v.size() >= 8;
         }},
        {QStringLiteral("pausems"),
         [](const QString &v, WebSettings *s) {
             return readCount(v, 0, 60000, &s->pauseMs);
         }},
    };
    return readers;
}

} // namespace

QStringList ReadWebFile(const QString &dataDir, WebSettings *settings) {
    QFile file(dataDir + QStringLiteral("/Web.txt"));
    if (!file.exists())
        return {};
    if (!file.open(QIODevice::ReadOnly) || file.size() > maxFileBytes)
        return {QStringLiteral("Web.txt cannot be read, or is larger than 64 KiB.")};
    QStringList problems;
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    for (int index = 0; index < lines.size(); ++index) {
        const QString line = lines.at(index).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('\'')) ||
            line.startsWith(QLatin1Char('#')))
            continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        const QString key = line.left(equals).trimmed().toLower();
        const QString value = line.mid(equals + 1).trimmed();
        const auto reader = keyReaders().find(key);
        const QString where = QStringLiteral("Web.txt, line %1: ").arg(index + 1);
        if (equals < 0 || reader == keyReaders().end())
            problems << where + QStringLiteral("not a key this program reads: ") + line;
        else if (!reader->second(value, settings))
            problems << where + QStringLiteral("the value of %1 cannot be used: %2")
                                    .arg(line.left(equals).trimmed(), value);
    }
    return problems;
}
