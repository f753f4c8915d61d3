#include "core/common/paths.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStandardPaths>

// Installed for the system (the Debian package) the programs live in /usr/bin, which no user
// may write; the package marks this beside them, in /usr/share/fluxmere.
bool paths::dataDirectoryIsPersonal() {
    return QFileInfo::exists(QCoreApplication::applicationDirPath() +
                             QStringLiteral("/../share/fluxmere/system-install"));
}

QString paths::dataDirectory() {
    if (dataDirectoryIsPersonal())
        return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
               QStringLiteral("/fluxmere/data");
    return QCoreApplication::applicationDirPath() + QStringLiteral("/data");
}
