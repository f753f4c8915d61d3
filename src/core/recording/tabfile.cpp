#include "core/recording/tabfile.h"

#include "core/common/numbers.h"

#include <QFile>

#include <cmath>

namespace tabfile {
namespace {

// Far beyond any experiment's file (a million periods take some 100 MiB); a larger file is
// more likely a wrong one than data, and would not fit a report.
constexpr qint64 largestFile = qint64(512) * 1024 * 1024;

} // namespace

std::optional<QByteArray> readBytes(const QString &path, const QString &label,
                                    const QString &consequence, Problems &problems) {
    QFile file(path);
    if (!file.exists()) {
        problems.append({label, 0, QStringLiteral("not found; ") + consequence});
        return std::nullopt;
    }
    if (file.size() > largestFile) {
        problems.append({label, 0,
                         QStringLiteral("%1 bytes, more than the %2 read; %3")
                             .arg(file.size())
                             .arg(largestFile)
                             .arg(consequence)});
        return std::nullopt;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        problems.append(
            {label, 0,
             QStringLiteral("cannot be read (%1); %2").arg(file.errorString(), consequence)});
        return std::nullopt;
    }
    return file.readAll();
}

std::optional<QStringList> readLines(const QString &path, const QString &label,
                                     const QString &consequence, Problems &problems) {
    const std::optional<QByteArray> bytes = readBytes(path, label, consequence, problems);
    if (!bytes)
        return std::nullopt;
    QStringList lines;
    forEachLine(*bytes, [&lines](QString line) { lines.append(std::move(line)); });
    return lines;
}

std::optional<qint64> wholeNumber(const QString &text, qint64 minimum, qint64 maximum) {
    const std::optional<double> value = numbers::parseNumber(text);
    // The bounds are checked as doubles first: a huge value must not reach the conversion.
    if (!value || *value != std::floor(*value) || *value < double(minimum) ||
        *value > double(maximum))
        return std::nullopt;
    return static_cast<qint64>(*value);
}

QString quoted(const QString &text) {
    constexpr int longest = 40;
    const QString shown = text.size() > longest ? text.left(longest) + QStringLiteral("...") : text;
    return QLatin1Char('"') + shown + QLatin1Char('"');
}

} // namespace tabfile
