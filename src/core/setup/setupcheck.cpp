#include "core/setup/setupcheck.h"

#include "core/common/numbers.h"
#include "core/setup/scenario.h"
#include "core/setup/setupfile.h"
#include "core/setup/taskstate.h"

#include <QDir>
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

std::optional<KeyLine> keyLine(const QString &text, int line, QList<SetupFinding> &warnings) {
    if (text.startsWith(QLatin1Char('\'')) || text.trimmed().isEmpty())
        return std::nullopt;
    const int equals = static_cast<int>(text.indexOf(QLatin1Char('=')));
    if (equals < 1) {
        warnings.append({{line},
                         QStringLiteral("\"%1\" has %2, so the reader skips it.")
                             .arg(text, equals < 0 ? QStringLiteral("no \"=\"")
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

// What the reader silently skips or misreads: a key written other than "Key = Value", a key
// the program does not read, a key given twice.
void warnAboutLines(const QList<KeyLine> &lines, QList<SetupFinding> &warnings) {
    QHash<QString, int> firstLine;
    for (const KeyLine &entry : lines) {
        if (entry.key != entry.meantKey || entry.value.trimmed() != entry.meantValue)
            warnings.append(
                {{entry.line},
                 QStringLiteral("\"%1\" is read as the key \"%2\" with the value "
                                "\"%3\": write one blank on each side of \"=\", as "
                                "\"%4 = %5\".")
                     .arg(entry.text, entry.key, entry.value, entry.meantKey, entry.meantValue)});
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

// The lines of the keys a message names: the first line that gives each, as the reader takes it.
QList<int> linesNamed(const QString &message, const QList<KeyLine> &lines) {
    QList<int> found;
    for (const QString &key : KnownSetupKeys()) {
        if (!message.contains(key))
            continue;
        const auto entry = std::find_if(lines.begin(), lines.end(),
                                        [&key](const KeyLine &line) { return line.key == key; });
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

QStringList summaryOf(const TaskState &state, const QString &path) {
    const double goal = state.GoalLinePoisition;
    return {
        QStringLiteral("Setup file: %1").arg(QDir::toNativeSeparators(path)),
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
                                     QStringLiteral("EnvOutflowSchedule")};
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
    SetupFile setup(path);
    QStringList texts;
    try {
        texts = setup.lines();
    } catch (const SetupFileMissing &) {
        check.problems.append(
            {{},
             QStringLiteral("There is no readable setup file at %1 (\"Configuration "
                            "failed\").")
                 .arg(QDir::toNativeSeparators(path))});
        return check;
    } catch (const SetupError &error) {
        check.problems.append({{}, error.message()});
        return check;
    }
    QList<KeyLine> lines;
    for (int i = 0; i < texts.size(); ++i) {
        if (const auto entry = keyLine(texts[i], i + 1, check.warnings))
            lines.append(*entry);
    }
    warnAboutLines(lines, check.warnings);

    TaskState state;
    const QList<SetupError> errors = ScenarioErrors(state, setup);
    for (const SetupError &error : errors)
        check.problems.append({linesNamed(error.key(), lines), error.message()});
    if (!errors.isEmpty())
        return check;
    if (const QString conflict = ScenarioConflict(state); !conflict.isEmpty())
        check.problems.append({linesNamed(conflict, lines), conflict});
    for (const QString &failure : ValidateScenario(state))
        check.problems.append({linesNamed(validationKeys(state), lines), failure});
    if (const QString nothing = NothingToPlay(state); !nothing.isEmpty())
        check.warnings.append({linesNamed(QStringLiteral("MaxTrial"), lines),
                               nothing + QStringLiteral(" A model can log in; a person cannot.")});
    check.summary = summaryOf(state, path);
    return check;
}

QString SetupCheckText(const SetupCheck &check) {
    QStringList text = check.summary;
    if (!text.isEmpty())
        text.append(QString());
    if (check.usable()) {
        text.append(QStringLiteral("No problems: Start can use this file."));
    } else {
        text.append(QStringLiteral("Problems (Start cannot use this file):"));
        for (const SetupFinding &problem : check.problems)
            text.append(findingText(problem));
    }
    if (!check.warnings.isEmpty()) {
        text.append(QStringLiteral("Warnings (what the reader skips or misreads):"));
        for (const SetupFinding &warning : check.warnings)
            text.append(findingText(warning));
    }
    return text.join(QLatin1Char('\n')) + QLatin1Char('\n');
}
