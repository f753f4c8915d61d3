#pragma once

#include <QString>
#include <QStringList>

// The participant files a run showed (instruction pages and the images they show,
// Questionnaire.txt, a consent page, an end screen) are kept in the data folder under an
// identity of their own, studyfiles/ID/, each under its name relative to the data folder,
// so that an edited page never leaves a run without what its person saw. Beside them,
// manifest.sha256 names each file with the SHA-256 of its contents ("HASH  NAME" lines, in
// the order of the names); ID is the first 12 hex digits of the SHA-256 of that manifest.
// The same files give the same ID; a kept ID is never written again.

// studyfiles/ in `dataDir`.
QString keptStudyFilesDirectory(const QString &dataDir);
// studyfiles/ID in `dataDir`.
QString keptStudyFilesPath(const QString &dataDir, const QString &id);
// The name of the manifest in a kept folder.
QString studyFilesManifestName();

// Keeps the files at `paths` (relative to `dataDir`, or inside it) as studyfiles/ID/ unless
// that folder exists, and gives ID; no files give an empty ID and keep nothing. A file
// outside the data folder, one of its records (Data.txt, Runs.txt, DecisionTimes.txt, the
// database, the lock), a setup (Setup.txt, a condition's setup, setups/) or a kept file is
// refused, as is a file that cannot be read. False, with the reason; then nothing is kept.
bool keepStudyFiles(const QString &dataDir, const QStringList &paths, QString *id, QString *error);
