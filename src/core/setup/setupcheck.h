#pragma once

#include "core/setup/startverdict.h"

#include <QList>
#include <QString>
#include <QStringList>

// A check of a setup file before the first participant: the file is read exactly as Start
// reads it, and what Start would make of it is told in words a person can verify. Problems
// make the file unusable for a person, a model or both (the verdict of Start itself says
// which), or make Start play it other than it is meant: a key the program does not read but
// is close to one, and for a study's condition a name the records cannot keep or a language
// without its translation of a study file; warnings name what the reader silently skips or
// misreads, and delays that leave periods in which no order acts.
struct SetupFinding {
    QList<int> lines; // the lines it is about, counted from 1; none when no line gives the key
    QString text;
};

struct SetupCheck {
    QString path;
    QString condition; // the name of a study's condition (conditions/NAME.txt), else empty
    QStringList summary;
    QList<SetupFinding> problems;
    QList<SetupFinding> warnings;
    SetupVerdict verdict; // Start's own, for a person and for a model
    QString language;     // the setup's Language, empty when it names none
    bool usable() const { return verdict.person.plays() && verdict.model.plays(); }
    // Usable, and played as it is meant.
    bool passes() const { return usable() && problems.isEmpty(); }
};

SetupCheck CheckSetupFile(const QString &path);

// The whole check as text: the file, the summary, every problem and every warning, and the
// verdict for a person and for a model.
QString SetupCheckText(const SetupCheck &check);

// The data folder's Setup.txt, or in a study with conditions every condition file, in the
// order of their names (Setup.txt is then not used, nor checked).
QList<SetupCheck> CheckDataFolder(const QString &dataDir);
// Each file's check, and with several files a last line on them all.
QString DataFolderCheckText(const QList<SetupCheck> &checks);

// The warnings of delays that leave periods in which no order acts, for a scenario read as
// Start reads it; empty when every order acts.
QStringList SilentDelayWarnings(const TaskState &state);

// The keys the program reads, and the known key nearest to `key` (by letters to change),
// or empty text when none is near.
QStringList KnownSetupKeys();
QString NearestSetupKey(const QString &key);
