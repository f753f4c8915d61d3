#pragma once

#include <QDate>
#include <QString>
#include <QTime>

// The run record, Runs.txt in the data folder: one line per run that played at least one
// period, written when the run ends, kept like the data file (TAB-separated, CR LF, US date
// and time, a header once). A run that never got its line was cut off: the program was
// killed. FirstDataLine is the line of the run's first period in Data.txt, the header being
// line 1, so that each run's lines can be found there.

enum class RunEnding {
    Completed, // the last period closed
    Reset,     // a model's SIMULATION RESET
    Quit,      // QUIT, or a model that left before a new login started a fresh run
    Exited,    // the exit authentication
    Failed     // the program ended on an error
};

struct FinishedRun {
    QString subject;
    QString version;
    QDate date; // of the run's first period
    QTime startTime;
    QTime endTime;
    int maxTrial = 0;
    int periodsPlayed = 0;
    int periodsInBand = 0;
    double totalBonus = 0;
    RunEnding ending = RunEnding::Completed;
    qint64 firstDataLine = 0;
};

QString runHeaderLine();
QString runLine(const FinishedRun &run);
QString runEndingText(RunEnding ending);
