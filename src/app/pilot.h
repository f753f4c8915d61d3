#pragma once

#include <QString>

// A pilot plays the whole sitting of a study as a participant would, but records into a
// scratch folder of its own: a copy of the data folder's study files (setups, conditions,
// pages, questionnaires, Study.txt) with an empty database beside them. The data folder's
// records are never opened. Gives the scratch folder, or empty text with the reason.
QString MakePilotFolder(const QString &dataDir, QString *error);
