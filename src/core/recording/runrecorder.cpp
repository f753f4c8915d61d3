#include "core/recording/runrecorder.h"

#include "core/common/numbers.h"
#include "core/common/paths.h"
#include "core/recording/decisiontimes.h"
#include "core/recording/runrecords.h"
#include "core/setup/taskstate.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <utility>

RunRecorder::RunRecorder(QString dataDirectory)
    : m_dataDirectory(std::move(dataDirectory))
    , m_data(paths::dataFile(m_dataDirectory), dataHeaderLine(), classifyDataTail)
    , m_runs(paths::runFile(m_dataDirectory), runHeaderLine(), classifyRunTail)
    , m_times(decisionTimesPath(m_dataDirectory), decisionTimesHeaderLine(),
              classifyDecisionTimesTail) {}

bool RunRecorder::inspectFiles(QString *error) {
    // A Runs.txt of an earlier kind is kept as it is: the first record sets it aside.
    return m_data.inspect(error) && (!earlierKindPath().isEmpty() || m_runs.inspect(error)) &&
           m_times.inspect(error);
}

bool RunRecorder::prepareFiles(QStringList *notes, QString *error) {
    // DecisionTimes.txt is made only by a person's first period: a model's folder never has one.
    return setEarlierKindsAside(error) && m_data.prepare(true, notes, error) &&
           m_runs.prepare(false, notes, error) && m_times.prepare(false, notes, error);
}

// Where a Runs.txt of an earlier kind is kept; empty when the file is of the current kind or
// there is none.
QString RunRecorder::earlierKindPath() const {
    QFile file(m_runs.path());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QString header = QString::fromLatin1(file.readLine(4096)).trimmed();
    if (header == runHeaderLineV1())
        return paths::runFileV1(m_dataDirectory);
    if (header == runHeaderLineV2())
        return paths::runFileV2(m_dataDirectory);
    return {};
}

// A Runs.txt of an earlier kind keeps its columns under its own name (Runs-v1.txt,
// Runs-v2.txt); the next record starts a new file with the whole header.
bool RunRecorder::setEarlierKindsAside(QString *error) {
    const QString kept = earlierKindPath();
    if (kept.isEmpty())
        return true;
    if (QFileInfo::exists(kept) || !QFile::rename(m_runs.path(), kept)) {
        *error = QStringLiteral("Runs.txt is of an earlier kind and cannot be kept as %1")
                     .arg(QDir::toNativeSeparators(kept));
        return false;
    }
    return true;
}

namespace {

// A block of lines large enough to make its write cheap, small enough to lose little to a
// process that is killed.
constexpr qsizetype BlockBytes = 256 * 1024;

} // namespace

bool RunRecorder::writePeriod(RunTally &run, RunPlayer player, const TaskState &state,
                              const QDate &date, QString *error) {
    const QByteArray line = periodLine(state, date) + "\r\n";
    qint64 lineNumber = 0;
    if (m_blockWrites) {
        // The lines are counted as they will stand: nobody else writes the folder.
        lineNumber = m_data.lineCount() + m_waitingCount + 1;
        m_waitingLines += line;
        ++m_waitingCount;
        if (m_waitingLines.size() >= BlockBytes && !flushLines(error)) {
            m_waitingLines.chop(line.size()); // this line is not taken; those before wait
            --m_waitingCount;
            return false;
        }
    } else {
        lineNumber = m_data.append(line, 1, error);
    }
    if (lineNumber == 0)
        return false;
    if (!run.open)
        run = {true, date, state.StartTime, player, 0, 0, {}};
    run.lines.add(lineNumber);
    ++run.periodsPlayed;
    if (state.CurrentBonus > 0)
        ++run.periodsInBand;
    return true;
}

bool RunRecorder::writeDecisionTime(const QString &runId, int period, qint64 decisionMs,
                                    QString *error) {
    // The period's Data.txt line goes first, even when lines wait in blocks.
    if (!flushLines(error))
        return false;
    if (m_times.append(decisionTimeLine(runId, period, decisionMs) + "\r\n", 1, error) == 0)
        return false;
    m_timesWritten = true;
    return true;
}

bool RunRecorder::flushLines(QString *error) {
    if (m_waitingCount == 0)
        return true;
    const qint64 expected = m_data.lineCount() + 1;
    const qint64 first = m_data.append(m_waitingLines, m_waitingCount, error);
    if (first == 0)
        return false;
    m_waitingLines.clear();
    m_waitingCount = 0;
    if (first != expected) {
        *error = QStringLiteral("%1 was changed by another program while runs recorded there")
                     .arg(QDir::toNativeSeparators(m_data.path()));
        return false;
    }
    return true;
}

qint64 RunRecorder::nextRunNumber() {
    // The folder's records are counted once: while the program holds the folder's lock no
    // other writes there. Records of every kind count, so numbers never go back.
    if (m_lastRunNumber == 0) {
        for (const QString &path : paths::runFiles(m_dataDirectory))
            m_lastRunNumber += std::max<qint64>(LineEnds(path) - 1, 0); // but the header
    }
    return ++m_lastRunNumber;
}

bool RunRecorder::writeRunRecord(RunTally &tally, const TaskState &state, RunEnding ending,
                                 QString *error) {
    if (!flushLines(error))
        return false;
    if (!tally.open)
        return !m_syncDue || syncFiles(error);
    RunRecord run;
    run.subject = state.subjectName;
    run.version = state.versionTag;
    run.date = numbers::usShortDate(tally.date);
    run.startTime = numbers::usLongTime(tally.startTime);
    run.endTime = numbers::usLongTime(QTime::currentTime());
    run.maxTrial = state.MaxTrial;
    run.periodsPlayed = tally.periodsPlayed;
    run.periodsInBand = tally.periodsInBand;
    run.totalBonus = state.TotalBonus;
    run.ending = ending;
    run.firstDataLine = tally.lines.spans().constFirst().first;
    run.runId = state.runId;
    run.studyCondition = state.studyCondition;
    run.setupId = state.setupId;
    if (state.runSeed != 0)
        run.seed = QString::number(state.runSeed);
    run.practice = state.practice ? 1 : 0;
    if (!tally.lines.contiguous())
        run.dataLines = lineSpansText(tally.lines.spans());
    run.player = runPlayerText(tally.player);
    if (m_runs.append(runLine(run).toLatin1() + "\r\n", 1, error) == 0)
        return false;
    tally = {};
    m_syncDue = true;
    return syncFiles(error);
}

// A run's record is on the disk before anybody hears that the run is over.
bool RunRecorder::syncFiles(QString *error) {
    if (!m_data.sync(error) || !m_runs.sync(error) || (m_timesWritten && !m_times.sync(error)))
        return false;
    m_syncDue = false;
    m_timesWritten = false;
    return true;
}
