#include "core/replay/replaycheck.h"

#include "core/common/numbers.h"
#include "core/common/paths.h"
#include "core/engine/periodcycle.h"
#include "core/engine/taskload.h"
#include "core/model/protocol.h"
#include "core/recording/datafile.h"
#include "core/recording/datafolder.h"
#include "core/recording/runrecords.h"
#include "core/recording/tabfile.h"
#include "core/setup/envnoise.h"
#include "core/setup/keptsetup.h"
#include "core/setup/scenario.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace {

// Far beyond any experiment's file (a million periods take some 100 MiB).
constexpr qint64 largestDataFile = qint64(2) * 1024 * 1024 * 1024;

constexpr DataColumn decisionColumns[] = {UserInflow, UserOutflow, EnvInflow, EnvOutflow};

using Fields = std::array<std::string_view, DataColumnCount>;
using Figures = std::array<std::optional<double>, DataColumnCount>;

// Data.txt's lines as views into the file's bytes, read once.
class DataLines {
public:
    bool read(const QString &path, QString *error) {
        QFile file(path);
        if (!file.exists()) {
            *error = QStringLiteral("not found");
            return false;
        }
        if (file.size() > largestDataFile) {
            *error = QStringLiteral("%1 bytes, more than the %2 read")
                         .arg(file.size())
                         .arg(largestDataFile);
            return false;
        }
        if (!file.open(QIODevice::ReadOnly)) {
            *error = file.errorString();
            return false;
        }
        m_bytes = file.readAll();
        m_starts.push_back(0);
        for (qsizetype at = m_bytes.indexOf('\n'); at >= 0 && at + 1 < m_bytes.size();
             at = m_bytes.indexOf('\n', at + 1))
            m_starts.push_back(at + 1);
        if (m_bytes.isEmpty())
            m_starts.clear();
        return true;
    }

    qint64 count() const { return static_cast<qint64>(m_starts.size()); }

    // Line `number`, counted from 1, without its end.
    std::string_view line(qint64 number) const {
        const auto index = static_cast<size_t>(number - 1);
        const qsizetype start = m_starts[index];
        qsizetype end = index + 1 < m_starts.size() ? m_starts[index + 1] : m_bytes.size();
        if (end > start && m_bytes.at(end - 1) == '\n')
            --end;
        if (end > start && m_bytes.at(end - 1) == '\r')
            --end;
        return {m_bytes.constData() + start, static_cast<size_t>(end - start)};
    }

private:
    QByteArray m_bytes;
    std::vector<qsizetype> m_starts;
};

// The fields of a line, or false when it has not the file's number of fields.
bool splitFields(std::string_view line, Fields &fields) {
    size_t column = 0;
    for (size_t start = 0;; ++column) {
        const size_t tab = line.find('\t', start);
        if (column >= fields.size())
            return false;
        fields[column] = line.substr(start, tab == std::string_view::npos ? tab : tab - start);
        if (tab == std::string_view::npos)
            break;
        start = tab + 1;
    }
    return column + 1 == fields.size();
}

QString latin1(std::string_view text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

std::optional<double> figureOf(std::string_view text) {
    double value = 0;
    const char *end = text.data() + text.size();
    const auto read = std::from_chars(text.data(), end, value);
    if (read.ec == std::errc() && read.ptr == end)
        return value;
    // Forms the program never writes but an edit of the file may leave: blanks, a plus sign.
    return numbers::parseNumber(latin1(text));
}

// "line 5" or "lines 2-4, 7"
QString linesText(QList<qint64> lines) {
    std::sort(lines.begin(), lines.end());
    QStringList spans;
    for (qsizetype i = 0; i < lines.size();) {
        qsizetype last = i;
        while (last + 1 < lines.size() && lines.at(last + 1) == lines.at(last) + 1)
            ++last;
        spans.append(last == i ? QString::number(lines.at(i))
                               : QStringLiteral("%1-%2").arg(lines.at(i)).arg(lines.at(last)));
        i = last + 1;
    }
    return (lines.size() == 1 ? QStringLiteral("line ") : QStringLiteral("lines ")) +
           spans.join(QStringLiteral(", "));
}

// A run's start: the task state and what the task window shows, as Start and start-up leave
// them before the first period.
struct Scenario {
    std::optional<TaskState> state;
    TaskView view;
    QString error; // why there is no state
};

// A practice run plays the setup's first PracticePeriods periods, as the program starts it.
Scenario loadScenario(const QString &path, bool practice) {
    Scenario scenario;
    TaskState state;
    try {
        SetupFile setup(path);
        LoadScenario(state, setup);
    } catch (const SetupFileMissing &) {
        scenario.error = QStringLiteral("there is no readable file");
        return scenario;
    } catch (const SetupError &error) {
        scenario.error = error.message();
        return scenario;
    }
    scenario.error = ScenarioConflict(state);
    if (!scenario.error.isEmpty())
        return scenario;
    PrepareReplay(state, scenario.view, practice);
    scenario.state = std::move(state);
    return scenario;
}

// What a run's recorded lines say of it, to compare with its record.
struct RecordedLines {
    qint64 periods = 0;
    qint64 inBand = 0;
    qint64 lastTrial = 0;
    std::optional<double> lastTotalBonus;
    QString firstDate;
    QString firstStartTime;
};

class Replay {
public:
    Replay(QString dataDir, ReplayCheck &check)
        : m_dataDir(std::move(dataDir))
        , m_check(check) {}

    // The earliest kind of Runs.txt first, as its runs came first; false when the folder
    // records no run.
    bool readRuns() {
        bool found = false;
        for (const QString &path : paths::runFiles(m_dataDir)) {
            if (!QFileInfo::exists(path))
                continue;
            found = true;
            const QString label = QFileInfo(path).fileName();
            Problems problems;
            for (const RunRecord &record : readRunRecords(path, problems))
                m_runs.append({label, record});
            for (const Problem &problem : std::as_const(problems))
                m_check.problems.append(problem.text() + QStringLiteral("; not verified"));
        }
        return found;
    }

    bool readData() {
        QString error;
        if (m_runs.isEmpty() || m_lines.read(paths::dataFile(m_dataDir), &error))
            return true;
        m_check.failure = QStringLiteral("%1: %2; no run can be verified")
                              .arg(QDir::toNativeSeparators(paths::dataFile(m_dataDir)), error);
        return false;
    }

    void replayAll() {
        m_claimed.assign(static_cast<size_t>(m_lines.count() + 1), false);
        for (const auto &[label, record] : std::as_const(m_runs))
            replay(label, record);
        noteCurrentSetupUse();
        nameUnclaimedLines();
    }

private:
    struct RecordedRun {
        QString file;
        RunRecord record;
    };

    void problem(const QString &text) { m_check.problems.append(text); }

    static QString place(const QString &file, const RunRecord &record) {
        return QStringLiteral("%1 line %2 (%3, %4 %5)")
            .arg(file)
            .arg(record.line)
            .arg(record.subject, record.date, record.startTime);
    }

    void replay(const QString &file, const RunRecord &record) {
        const QString run = place(file, record);
        const LineSpans spans = record.lineSpans();
        if (record.lastDataLine() > m_lines.count()) {
            problem(run + QStringLiteral(": its lines %1 are not all in Data.txt, which has %2 "
                                         "lines; not verified")
                              .arg(linesOfRecord(record))
                              .arg(m_lines.count()));
            claim(spans, record.lastDataLine());
            return;
        }
        claim(spans, m_lines.count());
        const std::optional<QString> setupPath = setupOf(file, record);
        if (!setupPath) {
            problem(run + QStringLiteral(": its SetupId \"%1\" names no setup; not verified")
                              .arg(record.setupId));
            return;
        }
        const Scenario &scenario = scenarioAt(*setupPath, record.practice != 0);
        if (!scenario.state) {
            problem(run + QStringLiteral(": its setup %1 cannot be loaded: %2; not verified")
                              .arg(QDir::toNativeSeparators(*setupPath), scenario.error));
            return;
        }
        if (scenario.state->MaxTrial != record.maxTrial || record.periodsPlayed > record.maxTrial) {
            problem(run + QStringLiteral(": it played %1 of %2 periods, but its setup %3 has "
                                         "%4 = %5; not verified")
                              .arg(record.periodsPlayed)
                              .arg(record.maxTrial)
                              .arg(QDir::toNativeSeparators(*setupPath),
                                   record.practice != 0 ? QStringLiteral("PracticePeriods")
                                                        : QStringLiteral("MaxTrial"))
                              .arg(scenario.state->MaxTrial));
            return;
        }
        TaskState state = *scenario.state;
        TaskView view = scenario.view;
        const std::optional<TaskState> noise = seededEnvironment(file, record, *scenario.state);
        RecordedLines lines;
        for (const LineSpan &span : spans) {
            for (qint64 line = span.first; line <= span.last; line += span.step) {
                Fields fields;
                if (!replayLine(line, fields, state, view, run, noise ? &*noise : nullptr, lines))
                    return;
                checkPlayer(line, fields, file, record);
            }
        }
        compareRecord(file, record, lines);
        ++m_check.runs;
    }

    static QString linesOfRecord(const RunRecord &record) {
        return record.dataLines.isEmpty()
                   ? QStringLiteral("%1 to %2").arg(record.firstDataLine).arg(record.lastDataLine())
                   : record.dataLines;
    }

    void claim(const LineSpans &spans, qint64 last) {
        for (const LineSpan &span : spans) {
            for (qint64 line = span.first; line <= std::min(span.last, last); line += span.step)
                m_claimed[static_cast<size_t>(line)] = true;
        }
    }

    // The kept setup the run names, or the current Setup.txt for a run without one (noted);
    // nothing for a SetupId that is no setup's identity.
    std::optional<QString> setupOf(const QString &file, const RunRecord &record) {
        if (!record.setupId.isEmpty()) {
            if (!isSetupId(record.setupId))
                return std::nullopt;
            const QString kept = keptSetupPath(m_dataDir, record.setupId);
            if (QFileInfo::exists(kept))
                return kept;
        }
        m_currentSetupRuns[{file, record.setupId}].append(record.line);
        return paths::setupFile(m_dataDir);
    }

    const Scenario &scenarioAt(const QString &path, bool practice) {
        const std::pair<QString, bool> key{path, practice};
        auto found = m_scenarios.find(key);
        if (found == m_scenarios.end())
            found = m_scenarios.emplace(key, loadScenario(path, practice)).first;
        return found->second;
    }

    // The run's Seed against its setup: one exactly when the setup has noise, the setup's
    // EnvSeed when it gives one (a model may ask for a seed of its own). For a person's run,
    // whose environment nobody sends, the environment tables the seed gives, to compare every
    // recorded flow with.
    std::optional<TaskState> seededEnvironment(const QString &file, const RunRecord &record,
                                               const TaskState &scenario) {
        const QString where = QStringLiteral("%1 line %2").arg(file).arg(record.line);
        const bool noisy = EnvironmentIsNoisy(scenario);
        const std::optional<qint64> seed =
            tabfile::wholeNumber(record.seed, 1, static_cast<qint64>(envnoise::LargestSeed));
        QString expected;
        if (!noisy && !record.seed.isEmpty())
            expected = QStringLiteral("its setup has no noise, so none");
        else if (noisy && !seed)
            expected = QStringLiteral("its setup's noise needs a seed of 1 to %1")
                           .arg(envnoise::LargestSeed);
        else if (noisy && scenario.EnvSeed != 0 && uint64_t(*seed) != scenario.EnvSeed &&
                 record.playedByPerson()) // a model may ask for a seed of its own
            expected = QStringLiteral("its setup's EnvSeed is %1").arg(scenario.EnvSeed);
        if (!expected.isEmpty()) {
            m_check.recordDifferences.append(
                {where, QStringLiteral("Seed"),
                 record.seed.isEmpty() ? QStringLiteral("(none)") : record.seed, expected});
            return std::nullopt;
        }
        if (!noisy || !record.playedByPerson())
            return std::nullopt;
        TaskState seeded = scenario;
        seeded.runSeed = static_cast<uint64_t>(*seed);
        ApplyEnvironmentSchedules(seeded);
        ApplyEnvironmentNoise(seeded);
        return seeded;
    }

    // Plays the period of line `number` with the decision and environment flows it records
    // and compares its figures. False when the line cannot be played: the rest of the run is
    // then not verified.
    bool replayLine(qint64 number, Fields &fields, TaskState &state, TaskView &view,
                    const QString &run, const TaskState *seeded, RecordedLines &lines) {
        Figures recorded;
        const QString fault = readLine(number, fields, recorded);
        if (!fault.isEmpty()) {
            problem(QStringLiteral("Data.txt line %1: ").arg(number) + fault +
                    QStringLiteral("; the rest of the run at %1 is not verified").arg(run));
            return false;
        }
        playPeriod(recorded, state, view);
        compare(number, fields, recorded, periodFigures(state));
        if (seeded)
            compareSeededFlows(number, fields, recorded, *seeded, state.currentTrial);
        noteLine(fields, recorded, lines);
        ++m_check.periods;
        return true;
    }

    static void noteLine(const Fields &fields, const Figures &recorded, RecordedLines &lines) {
        if (lines.periods++ == 0) {
            lines.firstDate = latin1(fields[Date]);
            lines.firstStartTime = latin1(fields[StartTime]);
        }
        if (recorded[CurrentBonus].value_or(0) > 0)
            ++lines.inBand;
        lines.lastTrial = static_cast<qint64>(recorded[Trial].value_or(0));
        lines.lastTotalBonus = recorded[TotalBonus];
    }

    // A person's environment is the one its seed gives, in every period.
    void compareSeededFlows(qint64 number, const Fields &fields, const Figures &recorded,
                            const TaskState &seeded, int32_t period) {
        for (const DataColumn column : {EnvInflow, EnvOutflow}) {
            const double expected =
                periodValue(column == EnvInflow ? seeded.EnvInflow : seeded.EnvOutflow, period);
            if (!FiguresDiffer(*recorded[column], expected))
                continue;
            const std::string_view text = fields[column];
            m_check.differences.append(
                {number, column, QByteArray(text.data(), qsizetype(text.size())), expected});
        }
    }

    // Every line of a run is its player's.
    void checkPlayer(qint64 number, const Fields &fields, const QString &file,
                     const RunRecord &record) {
        const QString subject = latin1(fields[Subject]);
        const QString version = latin1(fields[Version]);
        if (subject == fieldText(record.subject) && version == fieldText(record.version))
            return;
        const bool bySubject = subject != fieldText(record.subject);
        m_check.recordDifferences.append(
            {QStringLiteral("line %1").arg(number),
             bySubject ? QStringLiteral("Subject") : QStringLiteral("Version"),
             bySubject ? subject : version,
             QStringLiteral("its run record (%1 line %2) has %3")
                 .arg(file)
                 .arg(record.line)
                 .arg(bySubject ? record.subject : record.version)});
    }

    // The record's counts, payment, ending and start against what its lines say.
    void compareRecord(const QString &file, const RunRecord &record, const RecordedLines &lines) {
        const QString where = QStringLiteral("%1 line %2").arg(file).arg(record.line);
        const auto differs = [&](const QString &column, const QString &recorded,
                                 const QString &fromLines) {
            m_check.recordDifferences.append(
                {where, column, recorded, QStringLiteral("its lines give ") + fromLines});
        };
        if (record.periodsInBand != lines.inBand)
            differs(QStringLiteral("PeriodsInBand"), QString::number(record.periodsInBand),
                    QString::number(lines.inBand));
        if (lines.lastTotalBonus && FiguresDiffer(record.totalBonus, *lines.lastTotalBonus))
            differs(QStringLiteral("TotalBonus"), numbers::general(record.totalBonus),
                    numbers::general(*lines.lastTotalBonus));
        const bool completed = lines.lastTrial == record.maxTrial;
        if ((record.ending == RunEnding::Completed) != completed)
            differs(QStringLiteral("Ending"), runEndingText(record.ending),
                    completed ? QStringLiteral("completed") : QStringLiteral("a run cut short"));
        if (record.date != lines.firstDate)
            differs(QStringLiteral("Date"), record.date, lines.firstDate);
        if (record.startTime != lines.firstStartTime)
            differs(QStringLiteral("StartTime"), record.startTime, lines.firstStartTime);
    }

    // The fields and figures of a line; what keeps it from being played, if anything.
    QString readLine(qint64 number, Fields &fields, Figures &recorded) const {
        const std::string_view line = m_lines.line(number);
        if (!splitFields(line, fields))
            return QStringLiteral("%1 fields where %2 belong")
                .arg(std::count(line.begin(), line.end(), '\t') + 1)
                .arg(int(DataColumnCount));
        for (int column = 0; column < DataColumnCount; ++column) {
            if (isFigureColumn(column))
                recorded[column] = figureOf(fields[column]);
        }
        for (DataColumn column : decisionColumns) {
            if (!recorded[column] || !std::isfinite(*recorded[column]))
                return QStringLiteral("%1 \"%2\" is not a finite number")
                    .arg(QLatin1String(dataColumnNames[column]), latin1(fields[column]));
        }
        return {};
    }

    static void playPeriod(const Figures &recorded, TaskState &state, TaskView &view) {
        ReplayPeriod(state, view, *recorded[UserInflow], *recorded[UserOutflow],
                     *recorded[EnvInflow], *recorded[EnvOutflow]);
    }

    void compare(qint64 number, const Fields &fields, const Figures &recorded,
                 const PeriodFigures &recomputed) {
        for (int column = 0; column < DataColumnCount; ++column) {
            if (!isFigureColumn(column))
                continue;
            if (recorded[column] && !FiguresDiffer(*recorded[column], recomputed[column]))
                continue;
            const std::string_view text = fields[column];
            m_check.differences.append({number, DataColumn(column),
                                        QByteArray(text.data(), qsizetype(text.size())),
                                        recomputed[column]});
        }
    }

    void noteCurrentSetupUse() {
        const QString current = QDir::toNativeSeparators(paths::setupFile(m_dataDir));
        for (const auto &[key, lines] : m_currentSetupRuns) {
            const auto &[file, setupId] = key;
            const QString why =
                setupId.isEmpty()
                    ? QStringLiteral("recorded before setups were kept")
                    : QStringLiteral("the kept setup %1 is missing")
                          .arg(QDir::toNativeSeparators(keptSetupPath(m_dataDir, setupId)));
            m_check.notes.append(QStringLiteral("%1 %2: %3; verified against the current %4.")
                                     .arg(file, linesText(lines), why, current));
        }
    }

    // Lines no record names were cut off from their run's record (the program was killed) or
    // were not written by the program. Those after every recorded line of a folder in use
    // belong to the run being played now.
    void nameUnclaimedLines() {
        QList<qint64> unclaimed;
        qint64 lastClaimed = 1;
        for (qint64 line = 2; line <= m_lines.count(); ++line) {
            if (m_claimed[static_cast<size_t>(line)])
                lastClaimed = line;
            else
                unclaimed.append(line);
        }
        if (unclaimed.isEmpty())
            return;
        QList<qint64> open;
        const qint64 holder = FolderHolder(m_dataDir);
        while (holder > 0 && !unclaimed.isEmpty() && unclaimed.constLast() > lastClaimed)
            open.prepend(unclaimed.takeLast());
        if (!open.isEmpty())
            m_check.notes.append(QStringLiteral("Data.txt %1: a run that process %2 is playing "
                                                "now; not verified yet.")
                                     .arg(linesText(open))
                                     .arg(holder));
        if (!unclaimed.isEmpty())
            problem(QStringLiteral("Data.txt %1: no run record names them (a run cut off "
                                   "when its program was killed, or lines the program did not "
                                   "write); not verified")
                        .arg(linesText(unclaimed)));
    }

    QString m_dataDir;
    ReplayCheck &m_check;
    QList<RecordedRun> m_runs;
    DataLines m_lines;
    std::vector<bool> m_claimed; // by Data.txt line
    std::map<std::pair<QString, bool>, Scenario> m_scenarios;
    std::map<std::pair<QString, QString>, QList<qint64>> m_currentSetupRuns;
};

} // namespace

void PrepareReplay(TaskState &state, TaskView &view, bool practice) {
    CreateOrderTables(state);
    if (practice)
        BeginPractice(state);
    PrepareTaskState(state);
    LoadTaskWindow(state, view);
    view.drawn = false; // nobody sees the replay: its steps lay out no text
}

void ReplayPeriod(TaskState &state, TaskView &view, double userInflow, double userOutflow,
                  double envInflow, double envOutflow) {
    protocol::DecisionRequest decision;
    decision.outcome = protocol::DecisionRequest::Outcome::Good;
    decision.ei = envInflow;
    decision.eo = envOutflow;
    protocol::applyEnvironmentFlows(decision, state);
    PlayPeriod(state, view, userInflow, userOutflow);
}

QString FigureDifference::text() const {
    const QString value = isWholeColumn(column) && std::isfinite(recomputed)
                              ? QString::number(static_cast<qint64>(recomputed))
                              : numbers::general(recomputed);
    return QStringLiteral("line %1, %2: recorded %3, recomputed %4")
        .arg(line)
        .arg(QLatin1String(dataColumnNames[column]), QString::fromLatin1(recorded), value);
}

QString RecordDifference::text() const {
    return QStringLiteral("%1, %2: recorded %3, %4").arg(place, column, recorded, expected);
}

QString ReplayCheck::summary() const {
    return QStringLiteral("%1 runs, %2 periods verified, %3 differences")
        .arg(runs)
        .arg(periods)
        .arg(differences.size() + recordDifferences.size());
}

QStringList ReplayCheck::differenceTexts() const {
    QStringList texts;
    for (const FigureDifference &difference : differences)
        texts.append(difference.text());
    for (const RecordDifference &difference : recordDifferences)
        texts.append(difference.text());
    return texts;
}

bool FiguresDiffer(double recorded, double recomputed) {
    // The program never writes a figure that is not finite: such a one is always wrong.
    if (!std::isfinite(recorded) || !std::isfinite(recomputed))
        return true;
    if (recorded == recomputed)
        return false;
    const double scale = std::max({std::fabs(recorded), std::fabs(recomputed), 1.0});
    return !(std::fabs(recorded - recomputed) <= 1e-9 * scale);
}

ReplayCheck CheckReplay(const QString &dataDir) {
    ReplayCheck check;
    if (!QFileInfo(dataDir).isDir()) {
        check.failure = QStringLiteral("The data folder %1 does not exist.")
                            .arg(QDir::toNativeSeparators(dataDir));
        return check;
    }
    Replay replay(dataDir, check);
    // Runs.txt is read before Data.txt: a run recorded meanwhile has all its lines there.
    if (!replay.readRuns()) {
        check.failure = QStringLiteral("The data folder %1 has no Runs.txt: there is no run to "
                                       "verify.")
                            .arg(QDir::toNativeSeparators(dataDir));
        return check;
    }
    if (replay.readData())
        replay.replayAll();
    return check;
}
