#include "core/setup/keptsetup.h"

#include "core/common/paths.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

namespace {

// A line that gives the exit password, with its value replaced. Lines the reader skips or
// misreads are masked too ("ExitPassword=secret", a commented-out password, any letter
// case): the password never reaches a kept file, whether or not the program uses it.
QByteArray redactedLine(const QByteArray &line) {
    const qsizetype equals = line.indexOf('=');
    if (equals < 0)
        return line;
    QByteArray key = line.left(equals);
    while (key.startsWith('\'') || key.startsWith(' ') || key.startsWith('\t'))
        key.remove(0, 1);
    if (key.trimmed().toLower() != QByteArrayLiteral("exitpassword"))
        return line;
    const qsizetype value =
        equals + 1 < line.size() && line.at(equals + 1) == ' ' ? equals + 2 : equals + 1;
    return line.left(value) + QByteArrayLiteral("***");
}

} // namespace

QByteArray redactedSetupText(const QByteArray &contents) {
    QByteArray text;
    text.reserve(contents.size());
    qsizetype start = 0;
    while (start < contents.size()) {
        qsizetype end = start;
        while (end < contents.size() && contents.at(end) != '\r' && contents.at(end) != '\n')
            ++end;
        text += redactedLine(contents.mid(start, end - start));
        qsizetype next = end;
        if (next < contents.size() && contents.at(next) == '\r')
            ++next;
        if (next < contents.size() && contents.at(next) == '\n')
            ++next;
        text += contents.mid(end, next - end); // the line's own end, kept as it was
        start = next;
    }
    return text;
}

QString setupIdOf(const QByteArray &redactedText) {
    const QByteArray hash = QCryptographicHash::hash(redactedText, QCryptographicHash::Sha256);
    return QString::fromLatin1(hash.toHex().left(12));
}

bool isSetupId(const QString &text) {
    static const QRegularExpression form(QStringLiteral("^[0-9a-f]{12}$"));
    return form.match(text).hasMatch();
}

QString keptSetupPath(const QString &dataDir, const QString &setupId) {
    return paths::setupsDirectory(dataDir) + QLatin1Char('/') + setupId + QStringLiteral(".txt");
}

bool keepSetup(const QString &dataDir, const QByteArray &contents, QString *setupId,
               QString *error) {
    const QByteArray text = redactedSetupText(contents);
    *setupId = setupIdOf(text);
    const QString path = keptSetupPath(dataDir, *setupId);
    if (QFileInfo::exists(path))
        return true;
    if (!QDir().mkpath(paths::setupsDirectory(dataDir))) {
        *error = QStringLiteral("cannot make the folder %1")
                     .arg(QDir::toNativeSeparators(paths::setupsDirectory(dataDir)));
        return false;
    }
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit())
        return true;
    *error = QStringLiteral("cannot keep the setup as %1: %2")
                 .arg(QDir::toNativeSeparators(path), file.errorString());
    return false;
}
