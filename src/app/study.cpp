#include "app/study.h"

#include "core/common/dialogs.h"
#include "core/common/paths.h"
#include "core/recording/runrecords.h"
#include "core/setup/scenario.h"
#include "core/setup/setupcheck.h"
#include "core/setup/taskstate.h"

#include <QDir>

QString StartJudgement::title() const {
    return fileMissing ? QStringLiteral("ERROR") : programTitle();
}

Dialogs::Icon StartJudgement::icon() const {
    return fileMissing ? Dialogs::Icon::None : Dialogs::Icon::Critical;
}

Study::Study(QString dataDirectory)
    : m_dataDirectory(std::move(dataDirectory))
    , m_conditions(ConditionNames(m_dataDirectory))
    , m_setup(paths::setupFile(m_dataDirectory)) {}

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

QuestionnaireFile Study::questionnaire(const QString &condition) const {
    return ReadQuestionnaireFile(
        StudyFilePath(m_dataDirectory, condition, QStringLiteral("Questionnaire.txt")));
}

bool Study::instructionPages(const QString &condition, QList<StudyPage> *pages,
                             QString *error) const {
    for (const QString &path : InstructionPagePaths(m_dataDirectory, condition)) {
        StudyPage page;
        if (!ReadStudyPage(m_dataDirectory, path, &page, error))
            return false;
        pages->append(page);
    }
    return true;
}

QString Study::endScreenPath(const QString &condition) const {
    return EndScreenPath(m_dataDirectory, condition);
}
