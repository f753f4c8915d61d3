#pragma once

#include "core/recording/datafile.h"
#include "core/recording/runfile.h"

#include <QDate>
#include <QString>
#include <QStringList>
#include <QTime>

struct TaskState;

// What the runs of one data folder leave behind: a line in Data.txt for every period, and,
// when a run ends, its record in Runs.txt. The program decides what to do when a write
// fails; nothing here asks anyone.
class RunRecorder {
public:
    explicit RunRecorder(QString dataDirectory);

    // Before a run: the headers of files that are new, and the end of a file cut short by an
    // earlier program removed (each removal is named in `notes`). False, with the reason.
    bool prepareFiles(QStringList *notes, QString *error);

    // Appends the line of the period just closed and counts it in the open run (a run opens
    // with its first line). False, with the reason, when the line could not be written: then
    // nothing of it is in the file, and nothing is counted.
    bool writePeriod(const TaskState &state, const QDate &date, QString *error);

    bool runOpen() const { return m_run.open; }
    // Writes the open run's record with `ending` and closes the run; a run that is not open
    // has nothing to write. False, with the reason, when the record could not be written:
    // the run then stays open, so that a second try can write it.
    bool writeRunRecord(const TaskState &state, RunEnding ending, QString *error);

    // A number that no run of the folder has had yet: the records in Runs.txt (counted at
    // the first call) and the runs this recorder has numbered since.
    qint64 nextRunNumber();

private:
    bool keepFirstKindAside(QString *error);

    QString m_dataDirectory;
    QString m_dataFile;
    QString m_runFile;
    LineCount m_dataLines;
    struct OpenRun {
        bool open = false;
        QDate date;
        QTime startTime;
        qint64 firstDataLine = 0;
        int periodsPlayed = 0;
        int periodsInBand = 0;
    };
    OpenRun m_run;
    bool m_runFileChecked = false;
    qint64 m_lastRunNumber = 0;
};
