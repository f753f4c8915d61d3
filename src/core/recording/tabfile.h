#pragma once

#include "core/recording/problem.h"

#include <QByteArray>
#include <QStringList>

#include <optional>

// The program's tab-separated files, Data.txt and Runs.txt: latin-1 text, CR LF line ends,
// fields separated by TAB, no quoting.
namespace tabfile {

// The lines of the file without their ends (a lone LF ends a line too), or nothing when the
// file is missing, unreadable or too large; then a problem on `label` says which, ending
// with `consequence` ("no periods to report").
std::optional<QStringList> readLines(const QString &path, const QString &label,
                                     const QString &consequence, Problems &problems);

// The file's bytes, with the checks and problems of readLines: for a large file read line by
// line with forEachLine, which keeps no second copy of it.
std::optional<QByteArray> readBytes(const QString &path, const QString &label,
                                    const QString &consequence, Problems &problems);

// Calls take(line) with each line of `bytes` as latin-1 text without its end, in order (a lone
// LF ends a line too; the end of the last line may be missing).
template <typename Take> void forEachLine(const QByteArray &bytes, Take take) {
    qsizetype start = 0;
    while (start < bytes.size()) {
        qsizetype end = bytes.indexOf('\n', start);
        const qsizetype next = end < 0 ? bytes.size() : end + 1;
        if (end < 0)
            end = bytes.size();
        if (end > start && bytes.at(end - 1) == '\r')
            --end;
        take(QString::fromLatin1(bytes.constData() + start, end - start));
        start = next;
    }
}

inline QStringList fields(const QString &line) {
    return line.split(QLatin1Char('\t'));
}

// A whole number within [minimum, maximum] ("12", "1E+02"), or nothing.
std::optional<qint64> wholeNumber(const QString &text, qint64 minimum, qint64 maximum);

// A field's text as a message shows it: quoted, and cut short when long.
QString quoted(const QString &text);

} // namespace tabfile
