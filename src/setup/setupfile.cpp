#include "setup/setupfile.h"

#include <QFile>

QString ReadSetupValue(const QString &path, const QString &key) {
    QFile file(path);
    if (!file.exists() || !file.open(QIODevice::ReadOnly))
        throw SetupFileMissing(QStringLiteral("Configuration failed"));
    while (!file.atEnd()) {
        QString line = QString::fromLatin1(file.readLine());
        while (line.endsWith(QLatin1Char('\n')) || line.endsWith(QLatin1Char('\r')))
            line.chop(1);
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
