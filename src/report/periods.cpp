#include "report/periods.h"

#include "core/common/numbers.h"
#include "core/recording/datafile.h"
#include "core/recording/decisiontimes.h"
#include "core/recording/tabfile.h"

#include <QDate>
#include <QFile>
#include <QFileInfo>
#include <QTime>

#include <iterator>
#include <limits>
#include <optional>

namespace {

const QString fileLabel = QStringLiteral("Data.txt");

// The data file's forms, read by hand: QDate::fromString with a format costs microseconds,
// and a long file has hundreds of thousands of dates and times.
class Digits {
public:
    explicit Digits(QStringView text)
        : m_text(text) {}

    // A number of `fewest` to `most` digits, or -1.
    int number(int fewest, int most) {
        int value = 0;
        int count = 0;
        while (count < most && m_at < m_text.size() && m_text[m_at].isDigit() &&
               m_text[m_at].unicode() < 128) {
            value = value * 10 + (m_text[m_at].unicode() - '0');
            ++m_at;
            ++count;
        }
        return count >= fewest ? value : -1;
    }
    bool skip(QStringView expected) {
        if (!m_text.mid(m_at).startsWith(expected, Qt::CaseInsensitive))
            return false;
        m_at += expected.size();
        return true;
    }
    bool atEnd() const { return m_at == m_text.size(); }

private:
    QStringView m_text;
    qsizetype m_at = 0;
};

// 12/7/2026
QDate usDate(QStringView text) {
    Digits digits(text);
    const int month = digits.number(1, 2);
    if (month < 0 || !digits.skip(u"/"))
        return {};
    const int day = digits.number(1, 2);
    if (day < 0 || !digits.skip(u"/"))
        return {};
    const int year = digits.number(4, 4);
    return year >= 0 && digits.atEnd() ? QDate(year, month, day) : QDate();
}

// 3:04:05 PM
QTime usTime(QStringView text) {
    Digits digits(text);
    const int hour = digits.number(1, 2);
    if (hour < 1 || hour > 12 || !digits.skip(u":"))
        return {};
    const int minute = digits.number(2, 2);
    if (minute < 0 || !digits.skip(u":"))
        return {};
    const int second = digits.number(2, 2);
    if (second < 0 || !digits.skip(u" "))
        return {};
    int offset = -1;
    if (digits.skip(u"AM"))
        offset = 0;
    else if (digits.skip(u"PM"))
        offset = 12;
    if (offset < 0 || !digits.atEnd())
        return {};
    return QTime(hour % 12 + offset, minute, second);
}

// Every column from CurrentBonus on holds a number, even those the report does not use:
// a line with a broken one is not what the program wrote.
constexpr int firstNumberColumn = CurrentBonus;

// The field of each column from CurrentBonus on, in the file's order.
constexpr double Period::*figureFields[] = {&Period::currentBonus,
                                            &Period::totalBonus,
                                            &Period::userInflow,
                                            &Period::userOutflow,
                                            &Period::envInflow,
                                            &Period::envOutflow,
                                            &Period::amount,
                                            &Period::backOrder,
                                            &Period::totalBackOrder,
                                            &Period::forwardDischarge,
                                            &Period::totalForwardDischarge,
                                            &Period::goal,
                                            &Period::delayUI,
                                            &Period::delayUO,
                                            &Period::toleranceBelow,
                                            &Period::toleranceAbove};
static_assert(std::size(figureFields) == DataColumnCount - firstNumberColumn);

struct LineReading {
    std::optional<Period> period;
    QString damage;  // why the line was left out
    QString warning; // what is wrong in a line that was kept
};

QString dateAndTimeWarning(const Period &period) {
    QStringList malformed;
    if (!usDate(period.date).isValid())
        malformed.append(QStringLiteral("Date ") + tabfile::quoted(period.date));
    for (const QString &time : {period.startTime, period.endTime}) {
        if (!usTime(time).isValid())
            malformed.append(QStringLiteral("time ") + tabfile::quoted(time));
    }
    if (malformed.isEmpty())
        return {};
    return QStringLiteral("malformed ") + malformed.join(QStringLiteral(", ")) +
           QStringLiteral("; the period is kept");
}

// A text equal to the one before it shares its characters: a run repeats its subject,
// version and date on every line, and a long file would otherwise hold each of them anew.
void share(QString &text, const QString &before) {
    if (text == before)
        text = before;
}

class LineReader {
public:
    LineReader()
        : m_names(tabfile::fields(dataHeaderLine())) {}

    LineReading read(const QString &text, qint64 line) {
        if (text.isEmpty())
            return {std::nullopt, QStringLiteral("empty line"), {}};
        const QStringList fields = tabfile::fields(text);
        if (fields.size() != DataColumnCount)
            return {
                std::nullopt,
                QStringLiteral("%1 fields where %2 belong").arg(fields.size()).arg(DataColumnCount),
                {}};
        const std::optional<qint64> trial =
            tabfile::wholeNumber(fields.at(Trial), 1, std::numeric_limits<int>::max());
        if (!trial)
            return {std::nullopt,
                    QStringLiteral("Trial %1 is not a period number")
                        .arg(tabfile::quoted(fields.at(Trial))),
                    {}};
        Period period;
        QStringList broken;
        for (int column = firstNumberColumn; column < DataColumnCount; ++column) {
            const std::optional<double> value = numbers::parseNumber(fields.at(column));
            if (!value)
                broken.append(m_names.at(column) + QLatin1Char(' ') +
                              tabfile::quoted(fields.at(column)));
            else
                period.*figureFields[column - firstNumberColumn] = *value;
        }
        if (!broken.isEmpty())
            return {std::nullopt,
                    QStringLiteral("not a number: ") + broken.join(QStringLiteral(", ")),
                    {}};
        period.line = line;
        period.trial = *trial;
        period.subject = fields.at(Subject);
        period.version = fields.at(Version);
        period.date = fields.at(Date);
        period.startTime = fields.at(StartTime);
        period.endTime = fields.at(EndTime);
        share(period.subject, m_last.subject);
        share(period.version, m_last.version);
        share(period.date, m_last.date);
        share(period.startTime, m_last.startTime);
        share(period.endTime, m_last.endTime);
        m_last = period;
        return {period, {}, dateAndTimeWarning(period)};
    }

private:
    QStringList m_names;
    Period m_last;
};

// A Data.txt line is some 150 bytes, a model's long name included; a far longer one is not a
// line the program wrote, and is skipped without being held.
constexpr qsizetype longestLine = qsizetype(1) << 20;

// Takes the file's lines one at a time, so that a large file is never held twice. Lines after
// `lastLine` (when it is 0 or more) are only counted.
class PeriodCollector {
public:
    explicit PeriodCollector(Problems &problems, qint64 lastLine = -1)
        : m_problems(problems)
        , m_lastLine(lastLine) {}

    void take(const QString &text) {
        const qint64 line = ++m_line;
        if (isLeftOut(line))
            return;
        if (line == 1 && text == m_header)
            return;
        LineReading reading = m_reader.read(text, line);
        if (line == 1 && reading.period)
            m_problems.append(
                {fileLabel, line, QStringLiteral("no header line; read as a period")});
        else if (line == 1)
            m_problems.append(
                {fileLabel, line, QStringLiteral("not the header line the program writes")});
        else if (!reading.damage.isEmpty())
            m_problems.append(
                {fileLabel, line, reading.damage + QStringLiteral("; line left out")});
        if (!reading.warning.isEmpty())
            m_problems.append({fileLabel, line, reading.warning});
        if (reading.period)
            m_periods.append(std::move(*reading.period));
    }

    void takeOverlong() {
        const qint64 line = ++m_line;
        if (!isLeftOut(line))
            m_problems.append(
                {fileLabel, line,
                 QStringLiteral("longer than %1 bytes; line left out").arg(longestLine)});
    }

    PeriodReading reading() { return {std::move(m_periods), m_leftOut}; }

private:
    bool isLeftOut(qint64 line) {
        if (m_lastLine < 0 || line <= m_lastLine)
            return false;
        ++m_leftOut;
        return true;
    }

    Problems &m_problems;
    const qint64 m_lastLine;
    const QString m_header = dataHeaderLine();
    LineReader m_reader;
    QList<Period> m_periods;
    qint64 m_line = 0;
    qint64 m_leftOut = 0;
};

// Splits the bytes read in blocks into lines as tabfile::forEachLine does (a lone LF ends a
// line too; the last one's end may be missing), holding no more than one line.
class LineSplitter {
public:
    explicit LineSplitter(PeriodCollector &collector)
        : m_collector(collector) {}

    void add(const QByteArray &block) {
        qsizetype start = 0;
        for (qsizetype end = block.indexOf('\n'); end >= 0; end = block.indexOf('\n', start)) {
            append(block.constData() + start, end - start);
            endLine();
            start = end + 1;
        }
        append(block.constData() + start, block.size() - start);
    }

    void finish() {
        if (m_overlong || !m_pending.isEmpty())
            endLine();
    }

private:
    void append(const char *bytes, qsizetype count) {
        if (m_overlong)
            return;
        if (m_pending.size() + count > longestLine) {
            m_overlong = true;
            m_pending.clear();
            return;
        }
        m_pending.append(bytes, count);
    }

    void endLine() {
        if (m_overlong) {
            m_collector.takeOverlong();
        } else {
            if (m_pending.endsWith('\r'))
                m_pending.chop(1);
            m_collector.take(QString::fromLatin1(m_pending));
        }
        m_pending.clear();
        m_overlong = false;
    }

    PeriodCollector &m_collector;
    QByteArray m_pending;
    bool m_overlong = false;
};

} // namespace

double Period::figure(DataColumn column) const {
    if (column == Trial)
        return static_cast<double>(trial);
    if (column >= firstNumberColumn && column < DataColumnCount)
        return this->*figureFields[column - firstNumberColumn];
    return 0;
}

QString Period::endDateTime() const {
    const QDate day = usDate(date);
    const QTime time = usTime(endTime);
    if (!day.isValid() || !time.isValid())
        return {};
    return day.toString(Qt::ISODate) + QLatin1Char('T') + time.toString(Qt::ISODate);
}

QList<Period> parsePeriods(const QStringList &lines, Problems &problems) {
    PeriodCollector collector(problems);
    for (const QString &line : lines)
        collector.take(line);
    return collector.reading().periods;
}

PeriodReading readPeriods(const QString &path, Problems &problems, qint64 lastLine) {
    const QString consequence = QStringLiteral("no periods to report");
    QFile file(path);
    if (!file.exists()) {
        problems.append({fileLabel, 0, QStringLiteral("not found; ") + consequence});
        return {};
    }
    if (!file.open(QIODevice::ReadOnly)) {
        problems.append(
            {fileLabel, 0,
             QStringLiteral("cannot be read (%1); %2").arg(file.errorString(), consequence)});
        return {};
    }
    // Read in blocks, whatever the file's size: the periods are all the report holds of it.
    constexpr qint64 blockSize = qint64(4) << 20;
    PeriodCollector collector(problems, lastLine);
    LineSplitter lines(collector);
    for (QByteArray block = file.read(blockSize); !block.isEmpty(); block = file.read(blockSize))
        lines.add(block);
    lines.finish();
    if (file.error() != QFileDevice::NoError)
        problems.append({fileLabel, 0,
                         QStringLiteral("reading stopped (%1); the periods after it are not "
                                        "reported")
                             .arg(file.errorString())});
    return collector.reading();
}

std::optional<qint64> DecisionTimes::of(const QString &runId, qint64 trial) const {
    const auto run = msByRun.constFind(runId);
    if (runId.isEmpty() || run == msByRun.cend())
        return std::nullopt;
    const auto found = run->constFind(trial);
    return found == run->cend() ? std::nullopt : std::optional<qint64>(*found);
}

DecisionTimes readDecisionTimes(const QString &path, Problems &problems) {
    DecisionTimes times;
    const QString label = QFileInfo(path).fileName();
    if (!QFileInfo::exists(path))
        return times;
    const std::optional<QStringList> lines =
        tabfile::readLines(path, label, QStringLiteral("no decision times to report"), problems);
    if (!lines)
        return times;
    if (!lines->isEmpty() && lines->constFirst() != decisionTimesHeaderLine()) {
        problems.append({label, 1,
                         QStringLiteral("not the header RunId, Period, DecisionMs; no "
                                        "decision times to report")});
        return times;
    }
    constexpr qint64 most = std::numeric_limits<qint32>::max();
    for (qsizetype index = 1; index < lines->size(); ++index) {
        const QStringList fields = tabfile::fields(lines->at(index));
        const std::optional<qint64> period =
            fields.size() == 3 ? tabfile::wholeNumber(fields.at(1), 1, most) : std::nullopt;
        const std::optional<qint64> ms =
            fields.size() == 3 ? tabfile::wholeNumber(fields.at(2), 0, most) : std::nullopt;
        if (!period || !ms || fields.at(0).isEmpty()) {
            problems.append({label, index + 1,
                             QStringLiteral("not a RunId, a period and a time in milliseconds; "
                                            "left out")});
            continue;
        }
        times.msByRun[fields.at(0)].insert(*period, *ms);
    }
    return times;
}

QString isoDate(const QString &text) {
    const QDate date = ::usDate(text);
    return date.isValid() ? date.toString(Qt::ISODate) : text;
}

QString isoTime(const QString &text) {
    const QTime time = ::usTime(text);
    return time.isValid() ? time.toString(Qt::ISODate) : text;
}
