#include "core/setup/setupcheck.h"

#include "core/common/language.h"
#include "core/common/numbers.h"
#include "core/common/paths.h"
#include "core/setup/conditions.h"
#include "core/setup/envnoise.h"
#include "core/setup/scenario.h"
#include "core/setup/setupfile.h"
#include "core/setup/studydesign.h"
#include "core/setup/studyfiles.h"
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
// the program does not read, a key given twice. A key close to one the program reads is a
// slip whose setting no run plays: a problem.
void judgeLines(const QList<KeyLine> &lines, QList<SetupFinding> &problems,
                QList<SetupFinding> &warnings) {
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
            if (nearest.isEmpty())
                warnings.append(
                    {{entry.line},
                     QStringLiteral("%1 is not a key the program reads.").arg(entry.meantKey)});
            else
                problems.append({{entry.line},
                                 QStringLiteral("%1 is not a key the program reads; did you "
                                                "mean %2? No run plays this line's setting.")
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

// The payment and unit, where the setup's keys change them.
QStringList paymentSummary(const TaskState &state) {
    const TaskState standard;
    if (state.basePayment == standard.basePayment && state.currency == standard.currency &&
        state.currencyAfter == standard.currencyAfter && state.unitName == standard.unitName)
        return {};
    const numbers::MoneyStyle style{state.currency, state.currencyAfter, state.Language};
    return {QStringLiteral("Payment: a base of %1 and %2 a period in the band; amounts in %3.")
                .arg(numbers::money(state.basePayment, style),
                     numbers::money(state.bonusPerPeriod, style), state.unitName)};
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
    summary += paymentSummary(state);
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
                                     QStringLiteral("ExitUsername"),
                                     QStringLiteral("GenderOptions"),
                                     QStringLiteral("PracticePeriods"),
                                     QStringLiteral("HighlightColours"),
                                     QStringLiteral("Language"),
                                     QStringLiteral("BasePayment"),
                                     QStringLiteral("BonusPerPeriod"),
                                     QStringLiteral("ToleranceBelow"),
                                     QStringLiteral("ToleranceAbove"),
                                     QStringLiteral("Currency"),
                                     QStringLiteral("CurrencyAfter"),
                                     QStringLiteral("UnitName"),
                                     QStringLiteral("PeriodPauseMs")};
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

namespace {

// The check of one setup file, and its lines as the reader sees them.
SetupCheck checkSetupFile(const QString &path, QList<KeyLine> &lines) {
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
    for (int i = 0; i < texts.size(); ++i) {
        if (const auto entry = keyLine(texts[i], i + 1, check.warnings))
            lines.append(*entry);
    }
    judgeLines(lines, check.problems, check.warnings);
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
    check.language = state.Language;
    check.summary = summaryOf(state);
    if (!setup.value(QStringLiteral("HighlightColours")).trimmed().isEmpty())
        check.summary.append(highlightsText(state.UserHighlights));
    if (!state.GenderOptions.isEmpty())
        check.summary.append(QStringLiteral("Gender options of the subject form: %1")
                                 .arg(state.GenderOptions.join(QStringLiteral(", "))));
    return check;
}

// A text as the check prints it: each control character written as its escape, so that a
// tab or line break shows and cannot split the check's lines.
QString visible(const QString &text) {
    QString shown;
    for (const QChar c : text) {
        if (c == QLatin1Char('\t'))
            shown += QStringLiteral("\\t");
        else if (c == QLatin1Char('\n'))
            shown += QStringLiteral("\\n");
        else if (c == QLatin1Char('\r'))
            shown += QStringLiteral("\\r");
        else if (c.category() == QChar::Other_Control)
            shown += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

// Why the records cannot keep a condition's name as written, or empty text when they can.
// Runs.txt keeps Latin-1 and has no quoting: a character beyond Latin-1 becomes "?", a tab
// or line break a blank, and the rotation then no longer counts the runs of the condition.
QString unrecordableName(const QString &name) {
    QStringList held;
    for (const char32_t code : name.toUcs4()) {
        const QString character = QString::fromUcs4(&code, 1);
        QString what;
        if (code > 0xFF)
            what =
                QStringLiteral("%1 (U+%2), beyond Latin-1")
                    .arg(character,
                         QString::number(code, 16).toUpper().rightJustified(4, QLatin1Char('0')));
        else if (QChar(code).category() == QChar::Other_Control)
            what = QStringLiteral("the control character %1").arg(visible(character));
        if (!what.isEmpty() && !held.contains(what))
            held.append(what);
    }
    if (held.isEmpty())
        return QString();
    return QStringLiteral(
               "The records cannot keep the condition's name \"%1\" as written (it "
               "holds %2): Runs.txt and the database keep a name in Latin-1 without "
               "control characters. Rename conditions/%1.txt (and its folder, if it has one).")
        .arg(visible(name), held.join(QStringLiteral(", ")));
}

// The language the data folder's own study files are in: that of Setup.txt, English when it
// names none or cannot be read.
QString dataFolderLanguage(const QString &dataDir) {
    SetupFile setup(paths::setupFile(dataDir));
    TaskState state;
    try {
        ScenarioErrors(state, setup);
    } catch (const SetupError &) {
        return QStringLiteral("en"); // no readable Setup.txt
    }
    return state.Language.isEmpty() ? QStringLiteral("en") : state.Language;
}

// The study files a person of the condition (none: of the data folder) would see in another
// language than their own, for each language a person may play it in: those Study.txt offers,
// else the setup's own.
QString untranslatedFiles(const QString &dataDir, const QString &condition,
                          const QString &setupLanguage, const QString &sharedLanguage,
                          const QStringList &offered) {
    const QStringList languages = offered.isEmpty() ? QStringList{setupLanguage} : offered;
    QStringList texts;
    for (const QString &language : languages) {
        const QStringList names =
            UntranslatedStudyFiles(dataDir, condition, language, setupLanguage, sharedLanguage);
        if (!names.isEmpty())
            texts.append(
                QStringLiteral("A person in %1 (%2) would see %3 in another language: "
                               "put a translation beside each (Questionnaire.%1.txt, "
                               "end.%1.html, instructions/%1/ with its pages).")
                    .arg(language, LanguageName(language), names.join(QStringLiteral(", "))));
    }
    return texts.join(QLatin1Char(' '));
}

// A condition's file, and what the records and the person's language make of its name and
// its study files.
SetupCheck checkCondition(const QString &dataDir, const QString &name,
                          const QString &sharedLanguage, const QStringList &offered) {
    QList<KeyLine> lines;
    SetupCheck check = checkSetupFile(ConditionFile(dataDir, name), lines);
    check.condition = name;
    const QString badName = unrecordableName(name);
    if (!badName.isEmpty())
        check.problems.append({{}, badName});
    if (!check.verdict.fileMissing && check.verdict.errors.isEmpty()) {
        const QString language = check.language.isEmpty() ? QStringLiteral("en") : check.language;
        const QString untranslated =
            untranslatedFiles(dataDir, name, language, sharedLanguage, offered);
        if (!untranslated.isEmpty())
            check.problems.append({linesNamed(QStringLiteral("Language"), lines), untranslated});
    }
    return check;
}

} // namespace

SetupCheck CheckSetupFile(const QString &path) {
    QList<KeyLine> lines;
    return checkSetupFile(path, lines);
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
    QStringList text = {
        QStringLiteral("Setup file: %1").arg(visible(QDir::toNativeSeparators(check.path)))};
    if (!check.condition.isEmpty())
        text.append(QStringLiteral("Condition: %1").arg(visible(check.condition)));
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
    if (check.usable() && !check.passes())
        text.append(QStringLiteral("Start plays this file, but not as it is meant: mend the "
                                   "problems above."));
    return text.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

QList<SetupCheck> CheckDataFolder(const QString &dataDir) {
    const QStringList conditions = ConditionNames(dataDir);
    const QStringList offered = ReadStudyDesign(dataDir, conditions).languages;
    const QString sharedLanguage = dataFolderLanguage(dataDir);
    if (conditions.isEmpty()) {
        QList<KeyLine> lines;
        SetupCheck check = checkSetupFile(paths::setupFile(dataDir), lines);
        if (check.usable() && !offered.isEmpty()) {
            const QString untranslated =
                untranslatedFiles(dataDir, QString(), sharedLanguage, sharedLanguage, offered);
            if (!untranslated.isEmpty())
                check.problems.append({{}, untranslated});
        }
        return {check};
    }
    QList<SetupCheck> checks;
    for (const QString &name : conditions)
        checks.append(checkCondition(dataDir, name, sharedLanguage, offered));
    return checks;
}

QString DataFolderCheckText(const QList<SetupCheck> &checks) {
    QStringList parts;
    QStringList unusable;
    QStringList notAsMeant;
    for (const SetupCheck &check : checks) {
        parts.append(SetupCheckText(check));
        const QString path = visible(QDir::toNativeSeparators(check.path));
        if (!check.usable())
            unusable.append(QStringLiteral("%1%2").arg(
                path, check.verdict.model.plays() ? QStringLiteral(" (only a model)") : QString()));
        else if (!check.passes())
            notAsMeant.append(path);
    }
    if (checks.size() < 2)
        return parts.join(QLatin1Char('\n'));
    QString last;
    if (unusable.isEmpty() && notAsMeant.isEmpty())
        last =
            QStringLiteral("All %1 files: a person and a model can use each.\n").arg(checks.size());
    if (!unusable.isEmpty())
        last += QStringLiteral("Of %1 files, these cannot be used by both a person and a model: "
                               "%2\n")
                    .arg(checks.size())
                    .arg(unusable.join(QStringLiteral(", ")));
    if (!notAsMeant.isEmpty())
        last += QStringLiteral("Of %1 files, these play, but not as they are meant: %2\n")
                    .arg(checks.size())
                    .arg(notAsMeant.join(QStringLiteral(", ")));
    parts.append(last);
    return parts.join(QLatin1Char('\n'));
}
