#pragma once

#include "core/recording/problem.h"

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

inline QStringList fields(const QString &line) {
    return line.split(QLatin1Char('\t'));
}

// A whole number within [minimum, maximum] ("12", "1E+02"), or nothing.
std::optional<qint64> wholeNumber(const QString &text, qint64 minimum, qint64 maximum);

// A field's text as a message shows it: quoted, and cut short when long.
QString quoted(const QString &text);

} // namespace tabfile
