#pragma once

#include <QByteArray>
#include <QString>

// The setup text a run used is kept in the data folder under its identity, so that an edited
// Setup.txt never leaves a run without the scenario it played.

// The text as it is kept and shown: the value of every ExitPassword line reads "***", so the
// password never reaches a kept file, a hash or a report.
QByteArray redactedSetupText(const QByteArray &contents);

// The first 12 hex digits of the SHA-256 of the redacted text.
QString setupIdOf(const QByteArray &redactedText);
// Whether `text` has that form, and so can name a kept setup.
bool isSetupId(const QString &text);

// setups/SETUPID.txt in `dataDir`.
QString keptSetupPath(const QString &dataDir, const QString &setupId);

// Keeps `contents` (redacted) as setups/SETUPID.txt unless that file exists, and gives its
// identity. False, with the reason, when the copy could not be written.
bool keepSetup(const QString &dataDir, const QByteArray &contents, QString *setupId,
               QString *error);
