#pragma once

#include <QString>
#include <QStringList>

// Makes a data folder ready for the program: the folder itself, the default Setup.txt and a
// database holding the two empty tables. A file that exists is never touched: it may hold an
// experimenter's scenario or recorded participants. Each step is reported in `log`; false,
// with the reason in `error`, when something could not be made.
bool InitDataFolder(const QString &folder, QStringList *log, QString *error);
