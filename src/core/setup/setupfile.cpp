#include "core/setup/setupfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringDecoder>

namespace {

// The key and value of a line as the reader sees it, or nothing for a comment or a line
// without a key.
std::optional<std::pair<QString, QString>> keyAndValue(const QString &line) {
    if (line.startsWith(QLatin1Char('\'')))
        return std::nullopt;
    const auto equals = line.indexOf(QLatin1Char('='));
    if (equals < 1)
        return std::nullopt; // no "=", or "=" first: no key
    // The key loses its last character and the value its first: "Key = Value".
    return std::pair{line.left(equals - 1), line.mid(equals + 2)};
}

// A file written in UTF-8 reads as typed (a password or a gender option with "ä"); any other
// reads as Latin-1, as the lab's older files were written. Plain ASCII reads the same either
// way, and an initial byte order mark stays in the first line, as it always did.
QString setupText(const QByteArray &contents) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    const QString text = utf8.decode(contents);
    return utf8.hasError() ? QString::fromLatin1(contents) : text;
}

QString compatible(const QString &text) {
    return text.normalized(QString::NormalizationForm_KC);
}

} // namespace

bool SetupIsUtf8(const QByteArray &contents) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    [[maybe_unused]] const QString text = utf8.decode(contents); // decodes when converted
    return !utf8.hasError();
}

qsizetype PasswordValueStart(const QString &line) {
    const qsizetype equals = PasswordEqualsAt(line);
    if (equals < 0)
        return -1;
    const qsizetype value = equals + 1;
    return value < line.size() && line.at(value).isSpace() ? value + 1 : value;
}

qsizetype PasswordEqualsAt(const QString &line) {
    qsizetype equals = -1;
    for (qsizetype at = 0; at < line.size() && equals < 0; ++at) {
        if (compatible(line.at(at)).contains(QLatin1Char('=')))
            equals = at;
    }
    if (equals < 0)
        return -1;
    QString key = compatible(line.left(equals));
    key.removeIf(
        [](QChar c) { return c.isSpace() || c == QLatin1Char('\'') || c == QChar(0xFEFF); });
    return key.compare(QLatin1String("exitpassword"), Qt::CaseInsensitive) == 0 ? equals : -1;
}

QStringList SetupLines(const QByteArray &contents) {
    // Lines end in CR LF, LF or, in files saved by old editors, CR alone.
    static const QRegularExpression lineEnd(QStringLiteral("\r\n|\r|\n"));
    QStringList lines = setupText(contents).split(lineEnd);
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast(); // the end of the last line
    return lines;
}

QString ReadSetupValue(const QStringList &lines, const QString &key) {
    for (const QString &line : lines) {
        const auto entry = keyAndValue(line);
        if (entry && entry->first == key)
            return entry->second;
    }
    return QString();
}

SetupFile::SetupFile(QString path)
    : m_path(std::move(path)) {}

const QStringList &SetupFile::lines() {
    refresh();
    return m_lines;
}

const QByteArray &SetupFile::contents() {
    if (!m_read)
        refresh();
    return m_contents;
}

QString SetupFile::value(const QString &key) {
    if (!m_read)
        refresh();
    return m_firstValues.value(key);
}

void SetupFile::refresh() {
    const QFileInfo info(m_path);
    const QString shown = QDir::toNativeSeparators(m_path);
    if (!info.exists()) {
        m_read = false;
        throw SetupFileMissing(QStringLiteral("Configuration failed"));
    }
    if (!info.isFile())
        throw SetupError(
            QStringLiteral("The setup file %1 is not a regular file; the program reads only a "
                           "plain text file there.")
                .arg(shown));
    if (info.size() > MaxBytes)
        throw SetupError(QStringLiteral("The setup file %1 holds %2 bytes; a setup file may hold "
                                        "at most %3 bytes (1 MiB).")
                             .arg(shown)
                             .arg(info.size())
                             .arg(MaxBytes));
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_read = false;
        throw SetupFileMissing(QStringLiteral("Configuration failed"));
    }
    // Read whole every time: a file rewritten within one tick of its clock, to the same size
    // (a sweep's next EnvSeed), is told apart only by its bytes.
    QByteArray contents = file.read(MaxBytes);
    if (m_read && contents == m_contents)
        return;
    m_contents = std::move(contents);
    m_lines = SetupLines(m_contents);
    m_firstValues.clear();
    for (const QString &line : std::as_const(m_lines)) {
        if (const auto entry = keyAndValue(line); entry && !m_firstValues.contains(entry->first))
            m_firstValues.insert(entry->first, entry->second);
    }
    m_read = true;
}
