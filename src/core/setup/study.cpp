#include "core/setup/study.h"

#include "core/common/dialogs.h"
#include "core/common/paths.h"
#include "core/recording/runrecords.h"
#include "core/setup/scenario.h"
#include "core/setup/setupcheck.h"
#include "core/setup/taskstate.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>

QString StartJudgement::title() const {
    return fileMissing ? QStringLiteral("ERROR") : programTitle();
}

Dialogs::Icon StartJudgement::icon() const {
    return fileMissing ? Dialogs::Icon::None : Dialogs::Icon::Critical;
}

Study::Study(QString dataDirectory)
    : m_dataDirectory(std::move(dataDirectory))
    , m_conditions(ConditionNames(m_dataDirectory))
    , m_setup(paths::setupFile(m_dataDirectory))
    , m_design(ReadStudyDesign(m_dataDirectory, m_conditions))
    , m_orders(m_design.withinPerson() ? BlockOrders(m_design.blocks, m_design.blockOrder)
                                       : QList<QStringList>()) {}

// Only what makes a file unusable for anyone stops the launch: no regular file, a key
// missing, a value that is not a number or out of its range. Start reads the file again when
// it has changed, and its own checks depend on who plays. A study with conditions plays
// their files, each of which must be usable.
QString Study::unusableSetup(QString *title, QStringList *languages) {
    QStringList played = m_conditions;
    if (played.isEmpty())
        played.append(QString());
    for (const QString &condition : std::as_const(played)) {
        SetupFile &setup = setupFor(condition);
        try {
            TaskState scenario;
            LoadScenario(scenario, setup);
            languages->append(scenario.Language.isEmpty() ? QStringLiteral("en")
                                                          : scenario.Language);
        } catch (const SetupFileMissing &) {
            printError(QStringLiteral("There is no readable setup file at %1.")
                           .arg(QDir::toNativeSeparators(setup.path())));
            *title = QStringLiteral("ERROR");
            return QStringLiteral("Configuration failed");
        } catch (const SetupError &error) {
            *title = programTitle();
            return error.message();
        }
    }
    return {};
}

QString Study::conditionForRun(const QString &chosen, bool byPerson) {
    if (m_conditions.isEmpty())
        return QString();
    for (const QString &name : std::as_const(m_conditions)) {
        if (name.compare(chosen.trimmed(), Qt::CaseInsensitive) == 0)
            return name;
    }
    return rotation().next(byPerson);
}

void Study::countCompleted(const QString &condition, bool byPerson) {
    if (m_rotation)
        m_rotation->countCompleted(condition, byPerson);
}

// The rotation counts the completed runs of the record files once; countCompleted counts
// each run after them.
ConditionRotation &Study::rotation() {
    if (m_rotation)
        return *m_rotation;
    Problems unread; // a damaged line counts for nothing; the report names it
    m_rotation.emplace(m_conditions);
    for (const RunRecord &run : readRunRecords(paths::runFile(m_dataDirectory), unread)) {
        if (run.ending == RunEnding::Completed && run.practice == 0)
            m_rotation->countCompleted(run.studyCondition, run.playedByPerson());
    }
    return *m_rotation;
}

SetupFile &Study::setupFor(const QString &condition) {
    if (condition.isEmpty())
        return m_setup;
    return m_conditionSetups.try_emplace(condition, ConditionFile(m_dataDirectory, condition))
        .first->second;
}

StartJudgement Study::judgeStart(TaskState &state, Starter starter) {
    const SetupVerdict verdict = JudgeSetup(setupFor(state.studyCondition), state);
    const StartVerdict &start = verdict.of(starter);
    StartJudgement judgement{start.outcome, start.reason, verdict.fileMissing, {}};
    if (start.outcome == StartOutcome::Plays || start.outcome == StartOutcome::EndsAfterChecks)
        judgement.checkFailures = verdict.checkFailures;
    if (start.plays())
        CreateOrderTables(state);
    return judgement;
}

void Study::warnAboutSilentDelays(const TaskState &state) {
    if (state.setupId == m_warnedSetupId)
        return;
    m_warnedSetupId = state.setupId;
    for (const QString &warning : SilentDelayWarnings(state))
        printError(QStringLiteral("Warning, setup %1: %2").arg(state.setupId, warning));
}

QuestionnaireFile Study::questionnaire(const QString &condition, const QString &language) const {
    return ReadQuestionnaireFile(
        StudyFilePath(m_dataDirectory, condition, QStringLiteral("Questionnaire.txt"), language));
}

Row sittingRow(const QString &sittingId, qint64 subjectRowId, const QString &language,
               const PersonAssignment &given) {
    return Row{
        {QStringLiteral("SittingId"), sittingId},
        {QStringLiteral("SubjectRowId"), subjectRowId},
        {QStringLiteral("Language"), language},
        {QStringLiteral("Assignment"), given.method},
        {QStringLiteral("Seed"), given.seed ? QVariant(QString::number(*given.seed)) : QVariant()},
        {QStringLiteral("Draw"), given.seed ? QVariant(qint64(given.draw)) : QVariant()},
        {QStringLiteral("Conditions"), given.conditions.join(QStringLiteral(", "))},
    };
}

std::optional<StudyPage> Study::consentPage(const QString &condition, const QString &language,
                                            QString *error) const {
    const QString path = ConsentPagePath(m_dataDirectory, condition, language);
    StudyPage page;
    if (path.isEmpty() || !ReadStudyPage(m_dataDirectory, path, &page, error))
        return std::nullopt;
    return page;
}

SittingQuestions Study::sittingQuestions(const QString &condition, const QString &language) const {
    const auto read = [&](const char *name) {
        return ReadQuestionnaireFile(
            StudyFilePath(m_dataDirectory, condition, QLatin1String(name), language));
    };
    const QuestionnaireFile before = read("QuestionnaireBefore.txt");
    const QuestionnaireFile check = read("Comprehension.txt");
    const QuestionnaireFile after = questionnaire(condition, language);
    SittingQuestions questions{before.questions, check.questions, after.questions, {}};
    for (const QuestionnaireFile *file : {&after, &before, &check}) {
        if (file->present && !file->usable()) {
            questions.problems = QuestionnaireProblemTexts(*file).join(QLatin1Char('\n'));
            break;
        }
    }
    return questions;
}

bool Study::instructionPages(const QString &condition, const QString &language,
                             QList<StudyPage> *pages, QString *error) const {
    for (const QString &path : InstructionPagePaths(m_dataDirectory, condition, language)) {
        StudyPage page;
        if (!ReadStudyPage(m_dataDirectory, path, &page, error))
            return false;
        pages->append(page);
    }
    return true;
}

QString Study::endScreenPath(const QString &condition, const QString &language) const {
    return EndScreenPath(m_dataDirectory, condition, language);
}

QStringList Study::studyFilesShown(const QString &condition, const QString &language) const {
    QStringList files;
    const auto addPage = [&](const QString &path) {
        StudyPage page;
        QString error;
        if (path.isEmpty() || !ReadStudyPage(m_dataDirectory, path, &page, &error))
            return;
        files.append(path);
        files += ShownFiles(page);
    };
    for (const QString &path : InstructionPagePaths(m_dataDirectory, condition, language))
        addPage(path);
    addPage(ConsentPagePath(m_dataDirectory, condition, language));
    addPage(EndScreenPath(m_dataDirectory, condition, language));
    for (const char *name : {"Questionnaire.txt", "QuestionnaireBefore.txt", "Comprehension.txt"}) {
        const QString path =
            StudyFilePath(m_dataDirectory, condition, QLatin1String(name), language);
        if (QFileInfo(path).isFile())
            files.append(path);
    }
    files.removeDuplicates();
    return files;
}

bool Study::hasOwnInstructions(const QString &condition) const {
    return !condition.isEmpty() &&
           StudyFilePath(m_dataDirectory, condition, QStringLiteral("instructions"))
               .startsWith(ConditionFolder(m_dataDirectory, condition));
}

// The condition `text` names, in any letter case; empty when it names none.
QString Study::conditionNamed(const QString &text) const {
    for (const QString &name : m_conditions) {
        if (name.compare(text.trimmed(), Qt::CaseInsensitive) == 0)
            return name;
    }
    return QString();
}

PersonAssignment Study::assignPerson(const QString &chosen) {
    countPersons();
    const std::uint64_t person = m_personsAssigned++;
    const bool random = m_design.assignment == StudyDesign::Assignment::Random;
    PersonAssignment assignment;
    assignment.method = random ? QStringLiteral("random") : QStringLiteral("rotation");
    if (m_conditions.isEmpty())
        return assignment;
    const QString named = conditionNamed(chosen);
    QList<QStringList> choices = m_orders;
    if (choices.isEmpty()) {
        for (const QString &name : std::as_const(m_conditions))
            choices.append({name});
    }
    QList<int> candidates; // the choices that start with the chosen condition
    for (int index = 0; index < choices.size(); ++index) {
        if (named.isEmpty() || choices[index].constFirst() == named)
            candidates.append(index);
    }
    if (!named.isEmpty()) // the experimenter's choice wins over the design, as ever
        assignment.method = QStringLiteral("chosen");
    if (candidates.isEmpty()) {
        assignment.conditions = {named};
    } else if (named.isEmpty() && random) {
        assignment.seed = m_design.assignmentSeed ? *m_design.assignmentSeed
                                                  : QRandomGenerator::system()->generate64() >> 1;
        assignment.draw = m_design.assignmentSeed ? person : 0;
        const int draw =
            SeededDraw(*assignment.seed, assignment.draw, static_cast<int>(candidates.size()));
        assignment.conditions = choices[candidates[draw]];
    } else if (m_orders.isEmpty()) {
        assignment.conditions = {named.isEmpty() ? rotation().next(true) : named};
    } else {
        int fewest = candidates.constFirst(); // the first of equals wins
        for (int index : std::as_const(candidates)) {
            if (m_orderCounts->value(index) < m_orderCounts->value(fewest))
                fewest = index;
        }
        assignment.conditions = choices[fewest];
    }
    return assignment;
}

void Study::countPersonCompleted(const QStringList &order) {
    countPersons();
    const qsizetype index = m_orders.indexOf(order);
    if (index >= 0)
        ++(*m_orderCounts)[index];
}

// The persons of the records: each subject that a person's run names counts once, and in a
// within-person design a subject whose completed runs played an order through counts for it.
void Study::countPersons() {
    if (m_orderCounts)
        return;
    m_orderCounts.emplace(QList<int>(m_orders.size(), 0));
    Problems unread;
    std::map<QString, QStringList> played; // completed blocks by subject, in the file's order
    for (const RunRecord &run : readRunRecords(paths::runFile(m_dataDirectory), unread)) {
        if (!run.playedByPerson() || run.practice != 0)
            continue;
        QStringList &blocks = played[run.subject];
        if (run.ending == RunEnding::Completed)
            blocks.append(run.studyCondition);
    }
    m_personsAssigned = played.size();
    for (const auto &[subject, blocks] : played) {
        const qsizetype index = m_orders.indexOf(blocks.mid(0, m_design.blocks.size()));
        if (index >= 0)
            ++(*m_orderCounts)[index];
    }
}
