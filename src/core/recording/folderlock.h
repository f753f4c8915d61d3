#pragma once

#include <QLockFile>
#include <QString>

#include <memory>

// Takes the data folder's lock: while `lock` holds it, no other process records in `folder`
// (a lock whose holder died is taken over). Empty text when it is taken; else why not, with
// the holder's process number when it can be read.
QString lockDataFolder(const QString &folder, std::unique_ptr<QLockFile> &lock);
