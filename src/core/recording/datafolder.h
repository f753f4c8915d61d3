#pragma once

#include <QString>
#include <QStringList>

// Makes a data folder ready for the program: the folder itself, the default Setup.txt and a
// database holding the two empty tables. A file that exists is never touched: it may hold an
// experimenter's scenario or recorded participants. Each step is reported in `log`; false,
// with the reason in `error`, when something could not be made.
bool InitDataFolder(const QString &folder, QStringList *log, QString *error);

// Why runs could not be recorded in `folder`, or empty text when they can: a file the
// program writes (Data.txt, Runs.txt, Krugel.db) that exists but is not a regular file it
// may write. Whether the folder itself takes new files is found by taking its lock.
QString UnwritableDataFiles(const QString &folder);

// The process that holds the folder's lock while it records there, or 0 when none does (the
// lock is only looked at, never taken).
qint64 FolderHolder(const QString &folder);
