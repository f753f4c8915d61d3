#include "core/setup/setupcheck.h"

#include "core/common/language.h"
#include "core/common/numbers.h"
#include "core/common/paths.h"
#include "core/setup/conditions.h"
#include "core/setup/envnoise.h"
#include "core/setup/scenario.h"
#include "core/setup/setupfile.h"
#include "core/setup/taskstate.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <cmath>
#include <optional>

namespace {

// One "Key = Value" line as the reader sees it, and as its writer most likely meant it.
struct KeyLine {
    int line = 0;
    QString text;
    QString key;   // the reader's key: the text before "=" without its last character
    QString value; // the reader's value: the text after "=" without its first character
    QString meantKey;
    QString meantValue;
};

// A line as a warning may quote it: a password's value is never printed.
QString masked(const QString &text) {
    const qsizetype equals = PasswordEqualsAt(text);
    return equals < 0 ? text : text.left(equals + 1) + QStringLiteral(" ***");
}

std::optional<KeyLine> keyLine(const QString &text, int line, QList<SetupFinding> &warnings) {
    if (text.startsWith(QLatin1Char('\'')) || text.trimmed().isEmpty())
        return std::nullopt;
    const int equals = static_cast<int>(text.indexOf(QLatin1Char('=')));
    if (equals < 1) {
        warnings.append(
            {{line},
             QStringLiteral("\"%1\" has %2, so the reader skips it.")
                 .arg(masked(text), equals < 0 ? QStringLiteral("no \"=\"")
                                               : QStringLiteral("nothing before \"=\""))});
        return std::nullopt;
    }
    return KeyLine{line,
                   text,
                   text.left(equals - 1),
                   text.mid(equals + 2),
                   text.left(equals).trimmed(),
                   text.mid(equals + 1).trimmed()};
}

int editDistance(const QString &a, const QString &b) {
    QList<int> previous(b.size() + 1);
    for (int j = 0; j <= b.size(); ++j)
        previous[j] = j;
    for (int i = 1; i <= a.size(); ++i) {
        QList<int> current(b.size() + 1);
        current[0] = i;
        for (int j = 1; j <= b.size(); ++j) {
            const int change = a.at(i - 1).toLower() == b.at(j - 1).toLower() ? 0 : 1;
            current[j] = std::min({previous[j] + 1, current[j - 1] + 1, previous[j - 1] + change});
        }
        previous = current;
    }
    return previous[b.size()];
}

const QString passwordKey = QStringLiteral("ExitPassword");

// The line as a warning may quote it: a password's value is never printed.
KeyLine quotable(const KeyLine &entry) {
    if (entry.meantKey != passwordKey && PasswordValueStart(entry.text) < 0)
        return entry;
    KeyLine shown = entry;
    shown.text = masked(entry.text);
    shown.value = shown.meantValue = QStringLiteral("***");
    return shown;
}

// What the reader silently skips or misreads: a key written other than "Key = Value", a key
// the program does not read, a key given twice.
void warnAboutLines(const QList<KeyLine> &lines, QList<SetupFinding> &warnings) {
    QHash<QString, int> firstLine;
    for (const KeyLine &entry : lines) {
        if (entry.key != entry.meantKey || entry.value.trimmed() != entry.meantValue) {
            const KeyLine shown = quotable(entry);
            warnings.append(
                {{entry.line},
                 QStringLiteral("\"%1\" is read as the key \"%2\" with the value "
                                "\"%3\": write one blank on each side of \"=\", as "
                                "\"%4 = %5\".")
                     .arg(shown.text, shown.key, shown.value, shown.meantKey, shown.meantValue)});
        }
        if (!KnownSetupKeys().contains(entry.meantKey)) {
            const QString nearest = NearestSetupKey(entry.meantKey);
            warnings.append(
                {{entry.line},
                 nearest.isEmpty()
                     ? QStringLiteral("%1 is not a key the program reads.").arg(entry.meantKey)
                     : QStringLiteral("%1 is not a key the program reads; did you "
                                      "mean %2?")
                           .arg(entry.meantKey, nearest)});
        }
        if (firstLine.contains(entry.key))
            warnings.append({{entry.line},
                             QStringLiteral("%1 is given again; line %2 comes first and wins.")
                                 .arg(entry.key)
                                 .arg(firstLine.value(entry.key))});
        else
            firstLine.insert(entry.key, entry.line);
    }
}

// The lines of the keys a message names: the first line that gives each, as the reader takes
// it, or else the first line meant to give it (a misread line the reader finds no key in).
QList<int> linesNamed(const QString &message, const QList<KeyLine> &lines) {
    QList<int> found;
    for (const QString &key : KnownSetupKeys()) {
        if (!message.contains(key))
            continue;
        auto entry = std::find_if(lines.begin(), lines.end(),
                                  [&key](const KeyLine &line) { return line.key == key; });
        if (entry == lines.end())
            entry = std::find_if(lines.begin(), lines.end(),
                                 [&key](const KeyLine &line) { return line.meantKey == key; });
        if (entry != lines.end())
            found.append(entry->line);
    }
    std::sort(found.begin(), found.end());
    return found;
}

// The keys behind a failed scenario check, whose message names none of them.
QString validationKeys(const TaskState &state) {
    QString keys;
    if (state.InitialBackOrder != 0 && state.inFlowTPAfter == 1)
        keys += QStringLiteral("InitialBackOrder inFlowDelayValue ");
    if (state.InitialForwardDischarge != 0 && state.outFlowTPAfter == 1)
        keys += QStringLiteral("InitialForwardDischarge outFlowDelayValue");
    return keys;
}

QString regimeText(int delay, int length, int maxTrial, const QString &flow) {
    if (length >= 1 && length < maxTrial) {
        const QString none = QStringLiteral("0 from period %1 to %2, so no %3 acts from then on")
                                 .arg(length)
                                 .arg(maxTrial)
                                 .arg(flow);
        if (length == 1)
            return none;
        return QStringLiteral("%1 in periods 1 to %2, then %3")
            .arg(delay)
            .arg(length - 1)
            .arg(none);
    }
    return QStringLiteral("%1 in every period").arg(delay);
}

QString scheduleText(const std::vector<double> &schedule) {
    if (schedule.empty())
        return QStringLiteral("none scheduled: 0 in every period unless a model sends it");
    if (schedule.size() == 1)
        return QStringLiteral("%1 in every period").arg(numbers::general(schedule[0]));
    QStringList first;
    for (size_t i = 0; i < std::min<size_t>(5, schedule.size()); ++i)
        first.append(numbers::general(schedule[i]));
    const auto [low, high] = std::minmax_element(schedule.begin(), schedule.end());
    return QStringLiteral("%1 values from %2 to %3; the first %4")
        .arg(schedule.size())
        .arg(numbers::general(*low), numbers::general(*high), first.join(QStringLiteral(", ")));
}

// The first period from which no order of a flow acts, or 0 when orders act to the end. An
// order of period s acts in period s + d - 1: a delay d of 0 or less points at a period
// whose decision is not yet made, so nothing acts. The end of the delay regime switches the
// delay to the one that follows it, 0, in that very period, unless it is the last period.
int silentFrom(int delay, const std::vector<int16_t> &regimeEnds, int32_t maxTrial) {
    if (maxTrial < 1)
        return 0;
    if (delay <= 0)
        return 1;
    const int end = regimeEnds.empty() ? 0 : regimeEnds.front();
    return end >= 1 && end < maxTrial ? end : 0;
}

// Empty when every order of the flow acts.
QString silenceText(const TaskState &state, const QString &flow, const QString &prefix, int delay,
                    const std::vector<int16_t> &regimeEnds) {
    const int from = silentFrom(delay, regimeEnds, state.MaxTrial);
    if (from == 0)
        return QString();
    if (delay <= 0)
        return QStringLiteral("%1DelayValue (%2) is below 1: no %3 order acts in any period, "
                              "from period 1 on.")
            .arg(prefix)
            .arg(delay)
            .arg(flow);
    return QStringLiteral("%1DelayLength (%2) is below MaxTrial (%3): from period %4 on the %5 "
                          "delay is 0, so no %5 order acts in periods %4 to %3.")
        .arg(prefix)
        .arg(regimeEnds.front())
        .arg(state.MaxTrial)
        .arg(from)
        .arg(flow);
}

struct Silence {
    QString text;
    QString keys; // the keys behind it, as linesNamed finds them
};

// Each flow whose orders fall silent in some period.
QList<Silence> silences(const TaskState &state) {
    QList<Silence> found;
    const auto note = [&](const QString &flow, const QString &prefix, int delay,
                          const std::vector<int16_t> &regimeEnds) {
        const QString text = silenceText(state, flow, prefix, delay, regimeEnds);
        if (!text.isEmpty())
            found.append({text, delay <= 0 ? prefix + QStringLiteral("DelayValue")
                                           : prefix + QStringLiteral("DelayLength MaxTrial")});
    };
    note(QStringLiteral("inflow"), QStringLiteral("inFlow"), state.inFlowTPAfter,
         state.inFlowDelayEnd);
    note(QStringLiteral("outflow"), QStringLiteral("outFlow"), state.outFlowTPAfter,
         state.outFlowDelayEnd);
    return found;
}

QStringList noiseSummary(const TaskState &state) {
    if (!EnvironmentIsNoisy(state))
        return {};
    return {
        QStringLiteral("Environment noise: normal, standard deviation %1 on the inflow and %2 on "
                       "the outflow, added to each period's scheduled flow (0 where none is "
                       "scheduled), never to a flow a model sends; a period whose two flows "
                       "both end below 0 has no environment step.")
            .arg(numbers::general(state.EnvInflowNoise), numbers::general(state.EnvOutflowNoise)),
        state.EnvSeed != 0
            ? QStringLiteral("Seed: %1 in every run, so every run has the same environment.")
                  .arg(state.EnvSeed)
            : QStringLiteral("Seed: a fresh one for every run, recorded in Runs.txt."),
    };
}

void warnAboutIdleSeed(const TaskState &state, const QList<KeyLine> &lines,
                       QList<SetupFinding> &warnings) {
    if (state.EnvSeed == 0 || EnvironmentIsNoisy(state))
        return;
    warnings.append({linesNamed(QStringLiteral("EnvSeed"), lines),
                     QStringLiteral("EnvSeed (%1) has no effect: neither EnvInflowNoise nor "
                                    "EnvOutflowNoise is above 0.")
                         .arg(state.EnvSeed)});
}

QStringList summaryOf(const TaskState &state) {
    const double goal = state.GoalLinePoisition;
    QStringList summary = {
        QStringLiteral("Periods: %1").arg(state.MaxTrial),
        QStringLiteral("Goal: %1; a period earns %2 when it ends between %3 and %4.")
            .arg(numbers::general(goal), numbers::general(state.bonusPerPeriod),
                 numbers::general(goal - state.goalToleranceBelow),
                 numbers::general(goal + state.goalToleranceAbove)),
        QStringLiteral("Initial amount: %1; initial orders: inflow %2, outflow %3.")
            .arg(numbers::general(state.InitialAmountInTank),
                 numbers::general(state.InitialBackOrder),
                 numbers::general(state.InitialForwardDischarge)),
        QStringLiteral("Inflow delay: %1.")
            .arg(regimeText(state.inFlowTPAfter, static_cast<int>(state.inFlowDelayLength[0]),
                            state.MaxTrial, QStringLiteral("inflow"))),
        QStringLiteral("Outflow delay: %1.")
            .arg(regimeText(state.outFlowTPAfter, static_cast<int>(state.outFlowDelayLength[0]),
                            state.MaxTrial, QStringLiteral("outflow"))),
        QStringLiteral("Environment inflow: %1.").arg(scheduleText(state.EnvInflowSchedule)),
        QStringLiteral("Environment outflow: %1.").arg(scheduleText(state.EnvOutflowSchedule)),
    };
    summary += noiseSummary(state);
    if (state.PracticePeriods > 0)
        summary.append(QStringLiteral("Practice: a person first plays periods 1 to %1 as a "
                                      "practice run of its own (Practice 1 in Runs.txt); a model "
                                      "plays none.")
                           .arg(state.PracticePeriods));
    if (!state.Language.isEmpty())
        summary.append(
            QStringLiteral("Language: %1 (%2)").arg(state.Language, LanguageName(state.Language)));
    if (!state.ExitPassword.isEmpty())
        summary.append(QStringLiteral("Exit: the exit window asks for the ExitPassword (not "
                                      "shown here)."));
    return summary;
}

QString highlightsText(const HighlightColours &colours) {
    return QStringLiteral("Highlights: the task window lights the user's inflow %1 and outflow "
                          "%2; the environment's stay red and green.")
        .arg(ColourCode(colours.inflow), ColourCode(colours.outflow));
}

QString findingText(const SetupFinding &finding) {
    QStringList lines;
    for (int line : finding.lines)
        lines.append(QString::number(line));
    const QString where = lines.isEmpty() ? QStringLiteral("no line")
                          : finding.lines.size() == 1
                              ? QStringLiteral("line ") + lines[0]
                              : QStringLiteral("lines ") + lines.join(QStringLiteral(", "));
    return QStringLiteral("  %1: %2").arg(where, finding.text);
}

} // namespace

QStringList SilentDelayWarnings(const TaskState &state) {
    QStringList warnings;
    for (const Silence &silence : silences(state))
        warnings.append(silence.text);
    return warnings;
}

QStringList KnownSetupKeys() {
    static const QStringList keys = {QStringLiteral("MaxTrial"),
                                     QStringLiteral("InitialAmountInTank"),
                                     QStringLiteral("GoalLinePoisition"),
                                     QStringLiteral("InitialBackOrder"),
                                     QStringLiteral("InitialForwardDischarge"),
                                     QStringLiteral("MaxNumberOfAScenarioType"),
                                     QStringLiteral("inFlowDelayValue"),
                                     QStringLiteral("inFlowDelayLength"),
                                     QStringLiteral("outFlowDelayValue"),
                                     QStringLiteral("outFlowDelayLength"),
                                     QStringLiteral("EnvInflowSchedule"),
                                     QStringLiteral("EnvOutflowSchedule"),
                                     QStringLiteral("EnvInflowNoise"),
                                     QStringLiteral("EnvOutflowNoise"),
                                     QStringLiteral("EnvSeed"),
                                     QStringLiteral("ExitPassword"),
                                     QStringLiteral("GenderOptions"),
                                     QStringLiteral("PracticePeriods"),
                                     QStringLiteral("HighlightColours"),
                                     QStringLiteral("Language")};
    return keys;
}

QString NearestSetupKey(const QString &key) {
    QString nearest;
    int best = std::max(2, static_cast<int>(key.size()) / 3) + 1; // farther is no slip
    for (const QString &known : KnownSetupKeys()) {
        const int distance = editDistance(key, known);
        if (distance < best) {
            best = distance;
            nearest = known;
        }
    }
    return nearest;
}

SetupCheck CheckSetupFile(const QString &path) {
    SetupCheck check;
    check.path = path;
    SetupFile setup(path);
    TaskState state;
    check.verdict = JudgeSetup(setup, state);
    const SetupVerdict &verdict = check.verdict;
    QStringList texts;
    try {
        if (!verdict.fileMissing)
            texts = setup.lines();
    } catch (const SetupError &) {
        // Not a regular file, or too large: the verdict's error says so.
    }
    if (verdict.fileMissing)
        check.problems.append(
            {{},
             QStringLiteral("There is no readable setup file at %1 (\"Configuration "
                            "failed\").")
                 .arg(QDir::toNativeSeparators(path))});
    QList<KeyLine> lines;
    for (int i = 0; i < texts.size(); ++i) {
        if (const auto entry = keyLine(texts[i], i + 1, check.warnings))
            lines.append(*entry);
    }
    warnAboutLines(lines, check.warnings);
    for (const SetupError &error : verdict.errors)
        check.problems.append({linesNamed(error.key(), lines), error.message()});
    if (verdict.fileMissing || !verdict.errors.isEmpty())
        return check; // what follows would judge the 0 read in place of a bad key
    if (!verdict.conflict.isEmpty())
        check.problems.append({linesNamed(verdict.conflict, lines), verdict.conflict});
    for (const QString &failure : verdict.checkFailures)
        check.problems.append({linesNamed(validationKeys(state), lines), failure});
    if (!verdict.nothingToPlay.isEmpty())
        check.problems.append(
            {linesNamed(QStringLiteral("MaxTrial"), lines), verdict.nothingToPlay});
    for (const Silence &silence : silences(state))
        check.warnings.append({linesNamed(silence.keys, lines), silence.text});
    warnAboutIdleSeed(state, lines, check.warnings);
    check.summary = summaryOf(state);
    if (!setup.value(QStringLiteral("HighlightColours")).trimmed().isEmpty())
        check.summary.append(highlightsText(state.UserHighlights));
    if (!state.GenderOptions.isEmpty())
        check.summary.append(QStringLiteral("Gender options of the subject form: %1")
                                 .arg(state.GenderOptions.join(QStringLiteral(", "))));
    return check;
}

namespace {

// A model plays on past the scenario checks' messages, which its Start shows first.
QString verdictLine(const QString &who, const StartVerdict &start, const QStringList &shown) {
    if (!start.plays())
        return QStringLiteral("%1: Start cannot use this file.").arg(who);
    if (!shown.isEmpty())
        return QStringLiteral("%1: Start can use this file; it first shows \"%2\".")
            .arg(who, shown.join(QStringLiteral("\", \"")));
    return QStringLiteral("%1: Start can use this file.").arg(who);
}

} // namespace

QString SetupCheckText(const SetupCheck &check) {
    QStringList text = {QStringLiteral("Setup file: %1").arg(QDir::toNativeSeparators(check.path))};
    if (!check.condition.isEmpty())
        text.append(QStringLiteral("Condition: %1").arg(check.condition));
    text += check.summary;
    text.append(QString());
    if (check.problems.isEmpty()) {
        text.append(QStringLiteral("No problems: Start can use this file."));
    } else {
        text.append(QStringLiteral("Problems:"));
        for (const SetupFinding &problem : check.problems)
            text.append(findingText(problem));
    }
    if (!check.warnings.isEmpty()) {
        text.append(QStringLiteral("Warnings:"));
        for (const SetupFinding &warning : check.warnings)
            text.append(findingText(warning));
    }
    const SetupVerdict &verdict = check.verdict;
    text.append(verdictLine(QStringLiteral("A person"), verdict.person, verdict.checkFailures));
    text.append(verdictLine(QStringLiteral("A model"), verdict.model, verdict.checkFailures));
    if (verdict.model.plays() && !verdict.person.plays())
        text.append(QStringLiteral("Only a model can use this file."));
    return text.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

QList<SetupCheck> CheckDataFolder(const QString &dataDir) {
    const QStringList conditions = ConditionNames(dataDir);
    const QFileInfo setup(paths::setupFile(dataDir));
    QList<SetupCheck> checks;
    if (conditions.isEmpty() || setup.exists() || setup.isSymLink())
        checks.append(CheckSetupFile(setup.filePath()));
    for (const QString &name : conditions) {
        SetupCheck check = CheckSetupFile(ConditionFile(dataDir, name));
        check.condition = name;
        checks.append(check);
    }
    return checks;
}

QString DataFolderCheckText(const QList<SetupCheck> &checks) {
    QStringList parts;
    QStringList unusable;
    for (const SetupCheck &check : checks) {
        parts.append(SetupCheckText(check));
        if (!check.usable())
            unusable.append(QStringLiteral("%1%2").arg(
                QDir::toNativeSeparators(check.path),
                check.verdict.model.plays() ? QStringLiteral(" (only a model)") : QString()));
    }
    if (checks.size() > 1)
        parts.append(unusable.isEmpty()
                         ? QStringLiteral("All %1 files: a person and a model can use each.\n")
                               .arg(checks.size())
                         : QStringLiteral("Of %1 files, these cannot be used by both a person "
                                          "and a model: %2\n")
                               .arg(checks.size())
                               .arg(unusable.join(QStringLiteral(", "))));
    return parts.join(QLatin1Char('\n'));
}
