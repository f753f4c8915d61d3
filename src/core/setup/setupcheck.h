#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// A check of a setup file before the first participant: the file is read exactly as Start
// reads it, and what Start would make of it is told in words a person can verify. Problems
// make the file unusable; warnings name what the reader silently skips or misreads.
struct SetupFinding {
    QList<int> lines; // the lines it is about, counted from 1; none when no line gives the key
    QString text;
};

struct SetupCheck {
    QStringList summary;
    QList<SetupFinding> problems;
    QList<SetupFinding> warnings;
    bool usable() const { return problems.isEmpty(); }
};

SetupCheck CheckSetupFile(const QString &path);

// The whole check as text: the summary, then every problem and every warning.
QString SetupCheckText(const SetupCheck &check);

// The keys the program reads, and the known key nearest to `key` (by letters to change),
// or empty text when none is near.
QStringList KnownSetupKeys();
QString NearestSetupKey(const QString &key);
