#include "core/setup/keptsetup.h"

#include "core/common/paths.h"
#include "core/setup/setupfile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStringDecoder>

namespace {

// A line that gives the exit password, or looks as if it meant to, with its value replaced;
// the line is read in the file's own encoding, as the reader reads it, and every other byte
// stays as it was.
QByteArray redactedLine(const QByteArray &line, bool utf8) {
    QStringDecoder decoder(utf8 ? QStringDecoder::Utf8 : QStringDecoder::Latin1,
                           QStringDecoder::Flag::ConvertInitialBom);
    const QString text = decoder.decode(line);
    const qsizetype value = PasswordValueStart(text);
    if (value < 0)
        return line;
    const QByteArray kept = utf8 ? text.left(value).toUtf8() : text.left(value).toLatin1();
    return kept + QByteArrayLiteral("***");
}

} // namespace

QByteArray redactedSetupText(const QByteArray &contents) {
    const bool utf8 = SetupIsUtf8(contents);
    QByteArray text;
    text.reserve(contents.size());
    qsizetype start = 0;
    while (start < contents.size()) {
        qsizetype end = start;
        while (end < contents.size() && contents.at(end) != '\r' && contents.at(end) != '\n')
            ++end;
        text += redactedLine(contents.mid(start, end - start), utf8);
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
