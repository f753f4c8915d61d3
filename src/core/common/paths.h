#pragma once

#include <QString>
#include <QStringList>

// The program's files live in data/ beside its executable (a system install: in the user's
// own data folder).
namespace paths {
QString dataDirectory(); // needs a QCoreApplication
// Whether dataDirectory() is the user's own (~/.local/share/fluxmere/data, made ready on
// first use), as it is for the programs installed for the system.
bool dataDirectoryIsPersonal();
inline QString setupFile(const QString &dataDir) {
    return dataDir + QStringLiteral("/Setup.txt");
}
inline QString dataFile(const QString &dataDir) {
    return dataDir + QStringLiteral("/Data.txt");
}
inline QString runFile(const QString &dataDir) {
    return dataDir + QStringLiteral("/Runs.txt");
}
// Where a Runs.txt of the first kind (without the run identity columns) is kept.
inline QString runFileV1(const QString &dataDir) {
    return dataDir + QStringLiteral("/Runs-v1.txt");
}
// Where a Runs.txt of the second kind (without DataLines and Player) is kept.
inline QString runFileV2(const QString &dataDir) {
    return dataDir + QStringLiteral("/Runs-v2.txt");
}
// Every file of run records a folder may hold, the earliest kind first, as their runs came.
inline QStringList runFiles(const QString &dataDir) {
    return {runFileV1(dataDir), runFileV2(dataDir), runFile(dataDir)};
}
// Every setup text a run used, named by its identity: setups/SETUPID.txt.
inline QString setupsDirectory(const QString &dataDir) {
    return dataDir + QStringLiteral("/setups");
}
// A study's conditions, each a whole setup file: conditions/NAME.txt.
inline QString conditionsDirectory(const QString &dataDir) {
    return dataDir + QStringLiteral("/conditions");
}
inline QString database(const QString &dataDir) {
    return dataDir + QStringLiteral("/Krugel.db");
}
// Held by the one instance that writes into the folder.
inline QString lockFile(const QString &dataDir) {
    return dataDir + QStringLiteral("/.fluxmere.lock");
}
} // namespace paths
