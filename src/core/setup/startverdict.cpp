#include "core/setup/startverdict.h"

#include "core/setup/scenario.h"

#include <QDir>

namespace {

// What a model is told, and its operator reads, when no run can start for it.
QString modelRefusal(const SetupVerdict &verdict, const QString &path) {
    if (verdict.fileMissing)
        return QStringLiteral("Configuration failed: there is no readable setup file at %1.")
            .arg(QDir::toNativeSeparators(path));
    if (!verdict.errors.isEmpty())
        return verdict.errors.first().message();
    return verdict.conflict;
}

StartVerdict personVerdict(const SetupVerdict &verdict) {
    if (verdict.fileMissing)
        return {StartOutcome::EndsProgram, QStringLiteral("Configuration failed")};
    if (!verdict.errors.isEmpty())
        return {StartOutcome::EndsProgram, verdict.errors.first().message()};
    if (!verdict.conflict.isEmpty())
        return {StartOutcome::Refused, verdict.conflict};
    if (!verdict.nothingToPlay.isEmpty())
        return {StartOutcome::Refused, verdict.nothingToPlay};
    if (!verdict.checkFailures.isEmpty())
        return {StartOutcome::EndsAfterChecks, QString()};
    return {StartOutcome::Plays, QString()};
}

StartVerdict modelVerdict(const SetupVerdict &verdict, const QString &path) {
    const QString refusal = modelRefusal(verdict, path);
    if (!refusal.isEmpty())
        return {StartOutcome::Refused, refusal};
    return {StartOutcome::Plays, QString()};
}

} // namespace

SetupVerdict JudgeSetup(SetupFile &setup, TaskState &scenario) {
    SetupVerdict verdict;
    try {
        verdict.errors = ScenarioErrors(scenario, setup);
    } catch (const SetupFileMissing &) {
        verdict.fileMissing = true;
    } catch (const SetupError &error) {
        verdict.errors.append(error); // not a regular file, or too large
    }
    if (!verdict.fileMissing && verdict.errors.isEmpty()) {
        verdict.conflict = ScenarioConflict(scenario);
        verdict.nothingToPlay = NothingToPlay(scenario);
        verdict.checkFailures = ValidateScenario(scenario);
    }
    verdict.person = personVerdict(verdict);
    verdict.model = modelVerdict(verdict, setup.path());
    return verdict;
}
