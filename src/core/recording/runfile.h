#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

// The run record, Runs.txt in the data folder: one line per run that played at least one
// period, written when the run ends, kept like the data file (TAB-separated, CR LF, US date
// and time, a header once). A run that never got its line was cut off: the program was
// killed. FirstDataLine is the line of the run's first period in Data.txt, the header being
// line 1; DataLines names all of the run's lines when they are not FirstDataLine and the
// lines right after it (runs of one folder that were played at the same time). The columns
// after FirstDataLine tie the run to its person, setup and condition, and Player says who
// played it. Files of earlier kinds are kept aside under their own names: Runs-v1.txt
// (11 columns) and Runs-v2.txt (16, without DataLines and Player). The program writes these
// records and the report and the replay check read them, all through this one type.

enum class RunEnding {
    Completed, // the last period closed
    Reset,     // a model's SIMULATION RESET
    Quit,      // QUIT, or a model that left
    Exited,    // the exit authentication
    Failed,    // the program ended on an error
    Signal,    // SIGTERM, SIGINT or SIGHUP: a scheduler's time limit, Ctrl-C, a closed terminal
    Left       // a browser's participant gone longer than the grace period
};

// Who played a run, as the program knew it when the run started.
enum class RunPlayer { Person, Model };

// Lines of Data.txt from `first` to `last` in steps of `step`.
struct LineSpan {
    qint64 first = 0;
    qint64 last = 0;
    qint64 step = 1;
    qint64 count() const { return (last - first) / step + 1; }
};
using LineSpans = QList<LineSpan>;

// Collects a run's line numbers, in the order they were written, into as few spans as it
// can: a run whose lines follow each other is one span, one of n runs stepped together
// another ("2-9992/10").
class LineSpanBuilder {
public:
    void add(qint64 line);
    const LineSpans &spans() const { return m_spans; }
    bool contiguous() const {
        return m_spans.size() <= 1 && (m_spans.isEmpty() || m_spans.constFirst().step == 1);
    }

private:
    LineSpans m_spans;
};

// "2-101", "2-9992/10,10001": spans separated by commas, a span "first-last", with "/step"
// when its step is not 1, or a single line.
QString lineSpansText(const LineSpans &spans);
// The spans of such a text, each rising and each after the one before; nothing for any other
// text.
std::optional<LineSpans> parseLineSpans(const QString &text);

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
    QString dataLines;      // empty when the run's lines follow FirstDataLine one by one
    QString player;         // "person" or "model"; empty in records of an earlier kind
    qint64 line = 0;        // where a reader found the record in Runs.txt

    // The run's lines in Data.txt: DataLines, or FirstDataLine and the PeriodsPlayed - 1
    // lines after it.
    LineSpans lineSpans() const;
    qint64 lastDataLine() const;
    // Whether a person played it: its Player, or for a record of an earlier kind, an empty
    // Version (a model's login names its mode; one without a mode passes for a person there).
    bool playedByPerson() const;
};

QString runHeaderLine();
// The headers of the earlier kinds of Runs.txt: without the identity columns, and without
// DataLines and Player.
QString runHeaderLineV1();
QString runHeaderLineV2();
// A run's identity: the time its Start was pressed and a number that grows with every run of
// the folder.
QString makeRunId(const QDateTime &start, qint64 sequence);
QString runLine(const RunRecord &run);
QString runEndingText(RunEnding ending);
// The ending a text names, as runEndingText writes it.
std::optional<RunEnding> runEndingFrom(const QString &text);
// "person" or "model".
QString runPlayerText(RunPlayer player);
