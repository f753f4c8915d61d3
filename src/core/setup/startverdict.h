#pragma once

#include "core/setup/setupfile.h"
#include "core/setup/taskstate.h"

#include <QList>
#include <QString>
#include <QStringList>

// Whether Start can use a setup file, for a person and for a model. Start takes its decision
// from JudgeSetup and --check-setup prints it, so the two never disagree.

// Who presses Start: a person at the login screen, or a model by its login.
enum class Starter { Person, Model };

enum class StartOutcome {
    Plays,           // the run starts, after the scenario checks' messages if any fail
    EndsProgram,     // the setup cannot be read: its message, and the program ends (status 1)
    Refused,         // a message says why, and no run starts
    EndsAfterChecks, // each failing scenario check's message is followed by the end routine,
                     // and no run starts
};

struct StartVerdict {
    StartOutcome outcome = StartOutcome::Refused;
    QString reason; // EndsProgram and Refused: what the player's side is told
    bool plays() const { return outcome == StartOutcome::Plays; }
};

// What Start meets in a setup file, in the order it meets it. Start stops at the first of
// fileMissing, errors and conflict; nothingToPlay stops only a person. The check failures are
// shown whenever Start reaches them; they stop a person, and a model plays on.
struct SetupVerdict {
    bool fileMissing = false;  // no readable file: "Configuration failed"
    QList<SetupError> errors;  // the file itself, or a key missing, not a number or out of range
    QString conflict;          // ScenarioConflict
    QString nothingToPlay;     // NothingToPlay
    QStringList checkFailures; // ValidateScenario
    StartVerdict person;
    StartVerdict model;

    const StartVerdict &of(Starter starter) const {
        return starter == Starter::Model ? model : person;
    }
};

// Reads the setup file into `scenario` as Start does (going on past a bad key, so that every
// error is found) and judges it for both kinds of player.
SetupVerdict JudgeSetup(SetupFile &setup, TaskState &scenario);
