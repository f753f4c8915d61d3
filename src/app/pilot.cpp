#include "app/pilot.h"

#include "core/common/paths.h"
#include "core/recording/datafolder.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// The records a data folder holds: never copied, so a pilot starts from none.
bool isRecord(const QString &name) {
    static const QStringList records = {
        QStringLiteral("Data.txt"),          QStringLiteral("Runs.txt"),
        QStringLiteral("Runs-v1.txt"),       QStringLiteral("Runs-v2.txt"),
        QStringLiteral("DecisionTimes.txt"),
    };
    return records.contains(name) || name.startsWith(QStringLiteral("Krugel.db")) ||
           name.startsWith(QLatin1Char('.'));
}

bool copyTree(const QString &from, const QString &to, QString *error) {
    if (!QDir().mkpath(to)) {
        *error = QStringLiteral("The folder %1 could not be made.").arg(to);
        return false;
    }
    const QFileInfoList entries =
        QDir(from).entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &entry : entries) {
        const QString target = to + QLatin1Char('/') + entry.fileName();
        if (entry.isDir() ? !copyTree(entry.filePath(), target, error)
                          : !QFile::copy(entry.filePath(), target)) {
            if (error->isEmpty())
                *error =
                    QStringLiteral("%1 could not be copied to %2.").arg(entry.filePath(), target);
            return false;
        }
    }
    return true;
}

} // namespace

QString MakePilotFolder(const QString &dataDir, QString *error) {
    const QString scratch =
        QDir::tempPath() +
        QStringLiteral("/fluxmere-pilot-%1-%2")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")))
            .arg(QCoreApplication::applicationPid());
    error->clear();
    if (!QDir().mkpath(scratch)) {
        *error = QStringLiteral("The pilot's scratch folder %1 could not be made.").arg(scratch);
        return QString();
    }
    const QFileInfoList entries = QDir(dataDir).entryInfoList(
        QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
    for (const QFileInfo &entry : entries) {
        const QString name = entry.fileName();
        const QString target = scratch + QLatin1Char('/') + name;
        if (entry.isDir()) {
            // The kept setups and study files belong to the records.
            if (name == QLatin1String("instructions") || name == QLatin1String("conditions")) {
                if (!copyTree(entry.filePath(), target, error))
                    return QString();
            }
        } else if (!isRecord(name) && !QFile::copy(entry.filePath(), target)) {
            *error = QStringLiteral("%1 could not be copied to %2.").arg(entry.filePath(), target);
            return QString();
        }
    }
    QStringList log;
    if (!InitDataFolder(scratch, &log, error))
        return QString();
    return scratch;
}
