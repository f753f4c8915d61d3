#include "core/recording/runrecorder.h"

#include "core/common/numbers.h"
#include "core/common/paths.h"
#include "core/setup/taskstate.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <utility>

RunRecorder::RunRecorder(QString dataDirectory)
    : m_dataDirectory(std::move(dataDirectory))
    , m_dataFile(paths::dataFile(m_dataDirectory))
    , m_runFile(paths::runFile(m_dataDirectory)) {}

bool RunRecorder::prepareFiles(QStringList *notes, QString *error) {
    for (const QString &path : {m_dataFile, m_runFile}) {
        QString note;
        if (!RepairTornEnd(path, &note, error))
            return false;
        if (!note.isEmpty())
            notes->append(note);
    }
    return WriteDataHeader(m_dataFile, error);
}

bool RunRecorder::writePeriod(const TaskState &state, const QDate &date, QString *error) {
    const QByteArray line = periodLine(state, date);
    // A run's first line is found by its number; only that one needs the file's count.
    const qint64 lineNumber = m_run.open ? 0 : m_dataLines.of(m_dataFile) + 1;
    if (!WritePeriodLine(m_dataFile, line, error))
        return false;
    m_dataLines.appended(line.size() + 2);
    if (!m_run.open)
        m_run = {true, date, state.StartTime, lineNumber, 0, 0};
    ++m_run.periodsPlayed;
    if (state.CurrentBonus > 0)
        ++m_run.periodsInBand;
    return true;
}

qint64 RunRecorder::nextRunNumber() {
    // The folder's records are counted once: while the program holds the folder's lock no
    // other writes there. Records of both kinds count, so numbers never go back; a header
    // line is no record.
    if (m_lastRunNumber == 0) {
        const auto records = [](const QString &path) {
            return std::max<qint64>(LineCount().of(path) - 1, 0);
        };
        m_lastRunNumber = records(m_runFile) + records(paths::runFileV1(m_dataDirectory));
    }
    return ++m_lastRunNumber;
}

// A Runs.txt of the first kind keeps its 11 columns under its own name; the new file starts
// with the whole header.
bool RunRecorder::keepFirstKindAside(QString *error) {
    if (m_runFileChecked)
        return true;
    QFile file(m_runFile);
    if (file.open(QIODevice::ReadOnly) &&
        QString::fromLatin1(file.readLine(4096)).trimmed() == runHeaderLineV1()) {
        file.close();
        const QString kept = paths::runFileV1(m_dataDirectory);
        if (QFileInfo::exists(kept) || !QFile::rename(m_runFile, kept)) {
            *error = QStringLiteral("Runs.txt has the first kind of header and cannot be kept "
                                    "as %1")
                         .arg(QDir::toNativeSeparators(kept));
            return false;
        }
    }
    m_runFileChecked = true;
    return true;
}

bool RunRecorder::writeRunRecord(const TaskState &state, RunEnding ending, QString *error) {
    if (!m_run.open)
        return true;
    RunRecord run;
    run.subject = state.subjectName;
    run.version = state.versionTag;
    run.date = numbers::usShortDate(m_run.date);
    run.startTime = numbers::usLongTime(m_run.startTime);
    run.endTime = numbers::usLongTime(QTime::currentTime());
    run.maxTrial = state.MaxTrial;
    run.periodsPlayed = m_run.periodsPlayed;
    run.periodsInBand = m_run.periodsInBand;
    run.totalBonus = state.TotalBonus;
    run.ending = ending;
    run.firstDataLine = m_run.firstDataLine;
    run.runId = state.runId;
    run.studyCondition = state.studyCondition;
    run.setupId = state.setupId;
    if (state.runSeed != 0)
        run.seed = QString::number(state.runSeed);
    run.practice = state.practice ? 1 : 0;
    if (!keepFirstKindAside(error) || !WriteHeaderIfNew(m_runFile, runHeaderLine(), error) ||
        !AppendLine(m_runFile, runLine(run), error))
        return false;
    m_run = {};
    return true;
}
