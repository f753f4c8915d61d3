#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

// The run record, Runs.txt in the data folder: one line per run that played at least one
// period, written when the run ends, kept like the data file (TAB-separated, CR LF, US date
// and time, a header once). A run that never got its line was cut off: the program was
// killed. FirstDataLine is the line of the run's first period in Data.txt, the header being
// line 1, so that each run's lines can be found there. The five columns after it tie the run
// to its person, setup and condition; a file written before they existed (11 columns) is
// kept as Runs-v1.txt. The program writes these records and the report and the replay check
// read them, all through this one type.

enum class RunEnding {
    Completed, // the last period closed
    Reset,     // a model's SIMULATION RESET
    Quit,      // QUIT, or a model that left before a new login started a fresh run
    Exited,    // the exit authentication
    Failed,    // the program ended on an error
    Signal     // SIGTERM, SIGINT or SIGHUP: a scheduler's time limit, Ctrl-C, a closed terminal
};

struct RunRecord {
    QString subject;
    QString version;
    QString date;      // of the run's first period: 12/7/2026
    QString startTime; // 3:04:05 PM
    QString endTime;
    qint64 maxTrial = 0;
    qint64 periodsPlayed = 0;
    qint64 periodsInBand = 0;
    double totalBonus = 0;
    RunEnding ending = RunEnding::Completed;
    qint64 firstDataLine = 0;
    QString runId;          // unique within the data folder: 20261209-143005-7
    QString studyCondition; // the condition's name, empty in a folder without conditions
    QString setupId;        // names the kept setup text, setups/SETUPID.txt
    QString seed;           // of the environment's noise; empty when it has none
    int practice = 0;       // 1 for a practice run
    qint64 line = 0;        // where a reader found the record in Runs.txt

    qint64 lastDataLine() const { return firstDataLine + periodsPlayed - 1; }
};

QString runHeaderLine();
// The header of the first kind of Runs.txt, without the identity columns.
QString runHeaderLineV1();
// A run's identity: the time its Start was pressed and a number that grows with every run of
// the folder.
QString makeRunId(const QDateTime &start, qint64 sequence);
QString runLine(const RunRecord &run);
QString runEndingText(RunEnding ending);
// The ending a text names, as runEndingText writes it.
std::optional<RunEnding> runEndingFrom(const QString &text);
