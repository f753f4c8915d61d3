#include "core/recording/recordfile.h"

#include "core/common/platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstring>
#include <utility>

namespace {

constexpr qint64 block = 1024 * 1024;

QString shown(const QString &path) {
    return QDir::toNativeSeparators(path);
}

// Where a file's line ends are not CR LF, and what its last line end leaves after it.
struct Shape {
    qint64 lines = 0;       // CR LF line ends
    qint64 lastLineEnd = 0; // the offset just after the last CR LF
    qint64 strayLine = 0;   // the line of the first lone CR or LF, or 0
    QByteArray firstLine;   // up to its CR LF, or the file's start without one
    bool firstLineEnded = false;
};

// Reads the file in blocks; only a lone CR as the very last byte is no stray (a CR LF whose
// LF is missing).
Shape scan(QFile &file) {
    Shape shape;
    bool pendingCR = false;
    for (qint64 offset = 0;; offset += block) {
        const QByteArray bytes = file.read(block);
        if (bytes.isEmpty())
            break;
        if (offset == 0)
            shape.firstLine = bytes.left(64 * 1024); // longer is no header
        for (qsizetype at = 0; at < bytes.size();) {
            if (pendingCR) {
                pendingCR = false;
                if (bytes.at(at) != '\n') {
                    shape.strayLine = shape.lines + 1;
                    return shape;
                }
                ++shape.lines;
                shape.lastLineEnd = offset + at + 1;
                ++at;
                continue;
            }
            const char *start = bytes.constData() + at;
            const auto rest = static_cast<size_t>(bytes.size() - at);
            const char *cr = static_cast<const char *>(std::memchr(start, '\r', rest));
            const char *lf = static_cast<const char *>(std::memchr(start, '\n', rest));
            if (lf && (!cr || lf < cr)) {
                shape.strayLine = shape.lines + 1;
                return shape;
            }
            if (!cr)
                break;
            at = cr - bytes.constData() + 1;
            pendingCR = true;
        }
    }
    const qsizetype end = shape.firstLine.indexOf("\r\n");
    shape.firstLineEnded = end >= 0;
    if (end >= 0)
        shape.firstLine.truncate(end);
    return shape;
}

QString foreignTail(const QString &path, qint64 line) {
    return QStringLiteral("%1 line %2: has no line end and is no line the program writes; it "
                          "leaves the file as it is. Mend or remove that line.")
        .arg(shown(path))
        .arg(line);
}

} // namespace

RecordFile::RecordFile(QString path, QString header, Classify classifyTail)
    : m_path(std::move(path))
    , m_header(std::move(header))
    , m_headerLine(m_header.toLatin1() + "\r\n")
    , m_classifyTail(std::move(classifyTail)) {}

bool RecordFile::inspect(QString *error) {
    QStringList notes;
    return check(false, &notes, error);
}

bool RecordFile::prepare(bool header, QStringList *notes, QString *error) {
    if (!check(true, notes, error))
        return false;
    return !header || m_size > 0 || writeHeader(error);
}

bool RecordFile::check(bool mend, QStringList *notes, QString *error) {
    const QFileInfo info(m_path);
    if (!info.exists()) {
        m_size = m_lines = 0;
        return true;
    }
    if (!info.isFile()) {
        *error = QStringLiteral("%1: not a regular file; the program records only into one")
                     .arg(shown(m_path));
        return false;
    }
    if (!info.isWritable()) {
        *error =
            QStringLiteral("%1: read-only; the program cannot record there").arg(shown(m_path));
        return false;
    }
    if (info.size() == m_size)
        return true; // as the program's own writes left it
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: %2").arg(shown(m_path), file.errorString());
        return false;
    }
    const Shape shape = scan(file);
    const qint64 size = file.size();
    file.close();
    if (shape.strayLine > 0) {
        *error = QStringLiteral("%1 line %2: a line end that is not CR LF (a lone CR or LF); the "
                                "program writes CR LF and leaves a file of other line ends as it "
                                "is. Mend the file, or move it aside.")
                     .arg(shown(m_path))
                     .arg(shape.strayLine);
        return false;
    }
    if (shape.lines > 0 && (!shape.firstLineEnded || shape.firstLine != m_headerLine.chopped(2))) {
        *error = QStringLiteral("%1 line 1: not the header the program writes; it leaves the "
                                "file as it is. Move the file aside, or mend its first line.")
                     .arg(shown(m_path));
        return false;
    }
    m_lines = shape.lines;
    m_size = size;
    if (shape.lastLineEnd == size)
        return true;
    if (!file.open(QIODevice::ReadOnly) || !file.seek(shape.lastLineEnd)) {
        *error = QStringLiteral("%1: %2").arg(shown(m_path), file.errorString());
        return false;
    }
    const QByteArray tail = file.readAll();
    file.close();
    if (mend)
        return mendTail(tail, shape.lastLineEnd, shape.lines + 1, notes, error);
    m_size = -1; // to be mended before the next run
    if (classify(tail.endsWith('\r') ? tail.chopped(1) : tail, shape.lines + 1) !=
        TailKind::Foreign)
        return true;
    *error = foreignTail(m_path, shape.lines + 1);
    return false;
}

TailKind RecordFile::classify(QByteArrayView text, qint64 line) const {
    if (line > 1)
        return text.isEmpty() ? TailKind::Partial : m_classifyTail(text);
    const QByteArray header = m_headerLine.chopped(2);
    if (text == QByteArrayView(header))
        return TailKind::Whole;
    return header.startsWith(text) ? TailKind::Partial : TailKind::Foreign;
}

// The bytes after the last line end: the line end of a whole line is added, part of a line
// is cut back, anything else stays and refuses the file.
bool RecordFile::mendTail(QByteArrayView tail, qint64 tailStart, qint64 line, QStringList *notes,
                          QString *error) {
    const bool endsInCR = tail.endsWith('\r');
    const QByteArrayView text = endsInCR ? tail.chopped(1) : tail;
    const TailKind kind = classify(text, line);
    switch (kind) {
    case TailKind::Foreign:
        *error = foreignTail(m_path, line);
        return false;
    case TailKind::Whole: {
        QString reason;
        if (!platform::appendWhole(m_path, endsInCR ? QByteArray("\n") : QByteArray("\r\n"),
                                   &reason)) {
            *error = QStringLiteral("%1: %2").arg(shown(m_path), reason);
            return false;
        }
        notes->append(QStringLiteral("%1 line %2 was whole but had no line end; CR LF was added "
                                     "(nothing was removed).")
                          .arg(shown(m_path))
                          .arg(line));
        m_lines += 1;
        m_size = tailStart + text.size() + 2;
        return true;
    }
    case TailKind::Partial:
        break;
    }
    QFile file(m_path);
    if (!file.open(QIODevice::ReadWrite) || !file.resize(tailStart)) {
        *error = QStringLiteral("%1: %2").arg(shown(m_path), file.errorString());
        return false;
    }
    notes->append(QStringLiteral("%1 ended in %2 bytes of a line left by a write that failed; "
                                 "they were removed.")
                      .arg(shown(m_path))
                      .arg(tail.size()));
    m_size = tailStart;
    return tailStart > 0 || writeHeader(error);
}

bool RecordFile::writeHeader(QString *error) {
    QString reason;
    qint64 before = 0;
    if (!platform::appendWhole(m_path, {}, &reason, m_headerLine, &before)) {
        *error =
            QStringLiteral("%1: the header could not be written: %2").arg(shown(m_path), reason);
        return false;
    }
    // Read back: only a file that starts with its header is ready.
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly) || file.read(m_headerLine.size()) != m_headerLine) {
        *error = QStringLiteral("%1: the header could not be written").arg(shown(m_path));
        return false;
    }
    if (before != 0) {
        file.close();
        m_size = -1;
        QStringList notes;
        return check(true, &notes, error); // someone else's file appeared meanwhile
    }
    m_size = m_headerLine.size();
    m_lines = 1;
    return true;
}

qint64 RecordFile::append(const QByteArray &lines, int count, QString *error) {
    QString reason;
    qint64 before = 0;
    if (!platform::appendWhole(m_path, lines, &reason, m_headerLine, &before)) {
        *error = QStringLiteral("%1: %2").arg(shown(m_path), reason);
        return 0;
    }
    if (before == m_size) {
        m_size += lines.size();
        m_lines += count;
    } else if (before == 0) {
        m_size = m_headerLine.size() + lines.size(); // the file was gone: a header came first
        m_lines = 1 + count;
    } else {
        countLines(); // changed by someone else since the program last looked
    }
    return m_lines - count + 1;
}

void RecordFile::countLines() {
    m_lines = LineEnds(m_path);
    m_size = QFileInfo(m_path).size();
}

qint64 LineEnds(const QString &path) {
    QFile file(path);
    qint64 lines = 0;
    if (file.open(QIODevice::ReadOnly)) {
        for (QByteArray bytes; !(bytes = file.read(block)).isEmpty();)
            lines += bytes.count('\n');
    }
    return lines;
}

bool RecordFile::sync(QString *error) {
    QString reason;
    if (platform::syncFile(m_path, &reason))
        return true;
    *error = QStringLiteral("%1: %2").arg(shown(m_path), reason);
    return false;
}
