#pragma once

#include "core/recording/datafile.h"
#include "core/recording/recordfile.h"
#include "core/recording/runfile.h"

#include <QDate>
#include <QString>
#include <QStringList>
#include <QTime>

struct TaskState;

// What one run has left in the data folder so far: its lines, counted for its record. Each
// run keeps its own, so runs of one folder may write their lines in turn.
struct RunTally {
    bool open = false; // a run opens with its first line
    QDate date;
    QTime startTime;
    RunPlayer player = RunPlayer::Person;
    int periodsPlayed = 0;
    int periodsInBand = 0;
    LineSpanBuilder lines;
};

// What the runs of one data folder leave behind: a line in Data.txt for every period, for a
// person's period its decision time in DecisionTimes.txt, and, when a run ends, its record in
// Runs.txt. The program decides what to do when a write fails; nothing here asks anyone.
class RunRecorder {
public:
    explicit RunRecorder(QString dataDirectory);

    // At the program's start: the record files as the program can record into them (none is
    // changed). False, with the reason.
    bool inspectFiles(QString *error);
    // Before a run: the header of a Data.txt that is new, the end of a file cut short by an
    // earlier program mended (each mending is named in `notes`), a Runs.txt of an earlier
    // kind set aside. False, with the reason: then the run cannot be recorded.
    bool prepareFiles(QStringList *notes, QString *error);

    // Appends the line of the period just closed and counts it in `run` (opened with its
    // first line, played by `player`). False, with the reason, when the line could not be
    // written: then nothing of it is in the file, and nothing is counted.
    bool writePeriod(RunTally &run, RunPlayer player, const TaskState &state, const QDate &date,
                     QString *error);
    // Appends the decision time of a person's period to DecisionTimes.txt (made, with its
    // header, by the first such line). False, with the reason: then nothing of it is there.
    bool writeDecisionTime(const QString &runId, int period, qint64 decisionMs, QString *error);
    // Writes the record of an open `run` with `ending`, puts both files on the disk and
    // closes the run; a run that is not open has nothing to write, but a sync still due is
    // done. False, with the reason, when the record could not be written: the run then stays
    // open, so that a second try can write it.
    bool writeRunRecord(RunTally &run, const TaskState &state, RunEnding ending, QString *error);

    // With block writes, period lines wait in memory and go into Data.txt in blocks of whole
    // lines (a write a block), each run's before its record. Only for a recorder that alone
    // writes the folder's files; a run in process, which nobody watches line by line.
    void setBlockWrites(bool blocks) { m_blockWrites = blocks; }
    // Writes the lines that wait. False, with the reason: they keep waiting.
    bool flushLines(QString *error);

    // A number that no run of the folder has had yet: the records of every kind of Runs.txt
    // (counted at the first call) and the runs this recorder has numbered since.
    qint64 nextRunNumber();

private:
    QString earlierKindPath() const;
    bool setEarlierKindsAside(QString *error);
    bool syncFiles(QString *error);

    QString m_dataDirectory;
    RecordFile m_data;
    RecordFile m_runs;
    RecordFile m_times;
    bool m_timesWritten = false; // DecisionTimes.txt has lines of this recorder's to sync
    qint64 m_lastRunNumber = 0;
    bool m_syncDue = false; // a record was written but not yet put on the disk
    bool m_blockWrites = false;
    QByteArray m_waitingLines; // block writes: lines not yet in Data.txt
    int m_waitingCount = 0;
};
