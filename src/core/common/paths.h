#pragma once

#include <QString>

// The program's files live in data/ beside its executable.
namespace paths {
QString dataDirectory(); // needs a QCoreApplication
inline QString setupFile(const QString &dataDir) {
    return dataDir + QStringLiteral("/Setup.txt");
}
inline QString dataFile(const QString &dataDir) {
    return dataDir + QStringLiteral("/Data.txt");
}
inline QString runFile(const QString &dataDir) {
    return dataDir + QStringLiteral("/Runs.txt");
}
inline QString database(const QString &dataDir) {
    return dataDir + QStringLiteral("/Krugel.db");
}
// Held by the one instance that writes into the folder.
inline QString lockFile(const QString &dataDir) {
    return dataDir + QStringLiteral("/.fluxmere.lock");
}
} // namespace paths
