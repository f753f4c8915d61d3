#include "setup/setupfile.h"

#include <QFile>
#include <QRegularExpression>

QStringList SetupLines(const QByteArray &contents) {
    // Lines end in CR LF, LF or, in files saved by old editors, CR alone.
    static const QRegularExpression lineEnd(QStringLiteral("\r\n|\r|\n"));
    QStringList lines = QString::fromLatin1(contents).split(lineEnd);
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast(); // the end of the last line
    return lines;
}

QString ReadSetupValue(const QString &path, const QString &key) {
    QFile file(path);
    if (!file.exists() || !file.open(QIODevice::ReadOnly))
        throw SetupFileMissing(QStringLiteral("Configuration failed"));
    for (const QString &line : SetupLines(file.readAll())) {
        if (line.startsWith(QLatin1Char('\'')))
            continue;
        const int equals = line.indexOf(QLatin1Char('='));
        if (equals < 1)
            continue; // no "=", or "=" first: no key
        // The key loses its last character and the value its first: "Key = Value".
        if (line.left(equals - 1) == key)
            return line.mid(equals + 2);
    }
    return QString();
}
