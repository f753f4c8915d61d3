#include "core/recording/runrecords.h"

#include "core/common/numbers.h"
#include "core/recording/runfile.h"
#include "core/recording/tabfile.h"

#include <QFileInfo>
#include <QHash>

#include <limits>
#include <optional>
#include <utility>

namespace {

// The columns every Runs.txt has, and those a file of the first kind lacks.
const QStringList columnNames = runHeaderLineV1().split(QLatin1Char('\t'));
const QStringList identityNames =
    runHeaderLine().mid(runHeaderLineV1().size() + 1).split(QLatin1Char('\t'));

constexpr qint64 largestCount = std::numeric_limits<int>::max();

// The fields of one line by column name, as the header placed them.
class NamedFields {
public:
    NamedFields(const QHash<QString, int> &positions, QStringList fields)
        : m_positions(positions)
        , m_fields(std::move(fields)) {}

    QString text(const QString &name) const {
        const int position = m_positions.value(name, -1);
        return position < 0 ? QString() : m_fields.at(position);
    }

    // A count within [minimum, largestCount]; a broken one is noted in `broken`.
    qint64 count(const QString &name, qint64 minimum, QStringList &broken) const {
        const std::optional<qint64> value = tabfile::wholeNumber(text(name), minimum, largestCount);
        if (!value)
            broken.append(name + QLatin1Char(' ') + tabfile::quoted(text(name)));
        return value.value_or(0);
    }

    double number(const QString &name, QStringList &broken) const {
        const std::optional<double> value = numbers::parseNumber(text(name));
        if (!value)
            broken.append(name + QLatin1Char(' ') + tabfile::quoted(text(name)));
        return value.value_or(0.0);
    }

private:
    const QHash<QString, int> &m_positions;
    QStringList m_fields;
};

std::optional<QHash<QString, int>> headerPositions(const QString &header, const QString &fileLabel,
                                                   Problems &problems) {
    const QStringList names = tabfile::fields(header);
    QHash<QString, int> positions;
    QStringList missing;
    for (const QString &name : columnNames) {
        const int position = static_cast<int>(names.indexOf(name));
        if (position < 0)
            missing.append(name);
        positions.insert(name, position);
    }
    for (const QString &name : identityNames) {
        if (const int position = static_cast<int>(names.indexOf(name)); position >= 0)
            positions.insert(name, position);
    }
    if (missing.isEmpty())
        return positions;
    problems.append({fileLabel, 1,
                     QStringLiteral("the header lacks %1; no run is taken from this file")
                         .arg(missing.join(QStringLiteral(", ")))});
    return std::nullopt;
}

// DataLines names PeriodsPlayed lines, the first of them FirstDataLine.
bool linesFit(const RunRecord &record) {
    const std::optional<LineSpans> spans = parseLineSpans(record.dataLines);
    if (!spans || spans->isEmpty() || spans->constFirst().first != record.firstDataLine)
        return false;
    qint64 count = 0;
    for (const LineSpan &span : *spans)
        count += span.count();
    return count == record.periodsPlayed;
}

std::optional<RunRecord> readRecord(const NamedFields &fields, qint64 line, QString &damage) {
    RunRecord record;
    QStringList broken;
    record.line = line;
    record.subject = fields.text(QStringLiteral("Subject"));
    record.version = fields.text(QStringLiteral("Version"));
    record.date = fields.text(QStringLiteral("Date"));
    record.startTime = fields.text(QStringLiteral("StartTime"));
    record.endTime = fields.text(QStringLiteral("EndTime"));
    record.maxTrial = fields.count(QStringLiteral("MaxTrial"), 1, broken);
    record.periodsPlayed = fields.count(QStringLiteral("PeriodsPlayed"), 1, broken);
    record.periodsInBand = fields.count(QStringLiteral("PeriodsInBand"), 0, broken);
    record.totalBonus = fields.number(QStringLiteral("TotalBonus"), broken);
    record.firstDataLine = fields.count(QStringLiteral("FirstDataLine"), 2, broken);
    record.runId = fields.text(QStringLiteral("RunId"));
    record.studyCondition = fields.text(QStringLiteral("StudyCondition"));
    record.setupId = fields.text(QStringLiteral("SetupId"));
    record.seed = fields.text(QStringLiteral("Seed"));
    record.practice = fields.text(QStringLiteral("Practice")) == QLatin1String("1") ? 1 : 0;
    record.dataLines = fields.text(QStringLiteral("DataLines"));
    record.player = fields.text(QStringLiteral("Player"));
    if (!record.player.isEmpty() && record.player != runPlayerText(RunPlayer::Person) &&
        record.player != runPlayerText(RunPlayer::Model))
        broken.append(QStringLiteral("Player ") + tabfile::quoted(record.player));
    if (!record.dataLines.isEmpty() && !linesFit(record))
        broken.append(QStringLiteral("DataLines ") + tabfile::quoted(record.dataLines));
    const QString ending = fields.text(QStringLiteral("Ending"));
    if (const std::optional<RunEnding> known = runEndingFrom(ending))
        record.ending = *known;
    else
        broken.append(QStringLiteral("Ending ") + tabfile::quoted(ending));
    if (broken.isEmpty())
        return record;
    damage = QStringLiteral("not a valid value: ") + broken.join(QStringLiteral(", "));
    return std::nullopt;
}

} // namespace

QList<RunRecord> parseRunRecords(const QStringList &lines, Problems &problems,
                                 const QString &fileLabel) {
    if (lines.isEmpty())
        return {};
    const std::optional<QHash<QString, int>> positions =
        headerPositions(lines.first(), fileLabel, problems);
    if (!positions)
        return {};
    const qint64 fieldCount = tabfile::fields(lines.first()).size();
    QList<RunRecord> records;
    for (qint64 index = 1; index < lines.size(); ++index) {
        const qint64 line = index + 1;
        const QStringList fields = tabfile::fields(lines.at(index));
        QString damage;
        std::optional<RunRecord> record;
        if (fields.size() != fieldCount)
            damage = QStringLiteral("%1 fields where %2 belong").arg(fields.size()).arg(fieldCount);
        else
            record = readRecord(NamedFields(*positions, fields), line, damage);
        if (record)
            records.append(*record);
        else
            problems.append({fileLabel, line, damage + QStringLiteral("; line left out")});
    }
    return records;
}

QList<RunRecord> readRunRecords(const QString &path, Problems &problems) {
    const QString fileLabel = QFileInfo(path).fileName();
    const std::optional<QStringList> lines = tabfile::readLines(
        path, fileLabel,
        QStringLiteral("runs are cut from Data.txt alone, and none counts as complete"), problems);
    return lines ? parseRunRecords(*lines, problems, fileLabel) : QList<RunRecord>();
}

TailKind classifyRunTail(QByteArrayView tail) {
    QStringList fields = tabfile::fields(QString::fromLatin1(tail));
    const qsizetype count = tabfile::fields(runHeaderLine()).size();
    if (fields.size() > count)
        return TailKind::Foreign;
    if (fields.size() < count)
        return TailKind::Partial;
    const auto parses = [](const QStringList &line) {
        Problems ignored;
        return !parseRunRecords({runHeaderLine(), line.join(QLatin1Char('\t'))}, ignored).isEmpty();
    };
    if (parses(fields))
        return TailKind::Whole;
    // Only the last field may have been cut short.
    fields.last() = runPlayerText(RunPlayer::Person);
    return parses(fields) ? TailKind::Partial : TailKind::Foreign;
}
