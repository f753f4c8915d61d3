#include "core/recording/datafolder.h"

#include "core/common/paths.h"
#include "core/common/platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSysInfo>

#include <sqlite3.h>

namespace {

QByteArray resource(const QString &name) {
    QFile file(QStringLiteral(":/defaults/") + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeNewFile(const QString &path, const QByteArray &contents, QString *error) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly) ||
        file.write(contents) != contents.size() || !file.flush()) {
        *error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), file.errorString());
        file.remove();
        return false;
    }
    return true;
}

// The database is made under another name and renamed when complete, so that an interrupted
// start never leaves a half-made database that would later be kept.
bool makeDatabase(const QString &path, QString *error) {
    const QString partial = path + QStringLiteral(".partial");
    QFile::remove(partial);
    sqlite3 *db = nullptr;
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    int rc = sqlite3_open_v2(partial.toUtf8().constData(), &db, flags, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(db, resource(QStringLiteral("Krugel.sql")).constData(), nullptr, nullptr,
                          nullptr);
    const QString reason = QString::fromUtf8(db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
    sqlite3_close_v2(db);
    if (rc != SQLITE_OK || !QFile::rename(partial, path)) {
        QFile::remove(partial);
        *error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path),
                                              rc != SQLITE_OK ? reason
                                                              : QStringLiteral("cannot rename"));
        return false;
    }
    return true;
}

// The commented default setup file the program ships with.
QByteArray DefaultSetupText() {
    return resource(QStringLiteral("Setup.txt"));
}

} // namespace

bool InitDataFolder(const QString &folder, QStringList *log, QString *error) {
    if (!QDir().mkpath(folder)) {
        *error = QStringLiteral("Cannot make the folder %1.").arg(QDir::toNativeSeparators(folder));
        return false;
    }
    const auto step = [&](const QString &path, const auto &make) {
        const QString shown = QDir::toNativeSeparators(path);
        if (QFile::exists(path)) {
            log->append(QStringLiteral("Kept %1").arg(shown));
            return true;
        }
        if (!make(path))
            return false;
        log->append(QStringLiteral("Made %1").arg(shown));
        return true;
    };
    return step(paths::setupFile(folder),
                [&](const QString &path) {
                    return writeNewFile(path, DefaultSetupText(), error);
                }) &&
           step(paths::database(folder),
                [&](const QString &path) { return makeDatabase(path, error); });
}

QString UnwritableDataFiles(const QString &folder) {
    for (const QString &path :
         {paths::dataFile(folder), paths::runFile(folder), paths::database(folder)}) {
        const QFileInfo file(path);
        if (file.exists() && (!file.isFile() || !file.isWritable()))
            return QStringLiteral("The program cannot write %1: it is %2.")
                .arg(QDir::toNativeSeparators(path), file.isFile()
                                                         ? QStringLiteral("read-only")
                                                         : QStringLiteral("not a regular file"));
    }
    return QString();
}

qint64 FolderHolder(const QString &folder) {
    QLockFile lock(paths::lockFile(folder));
    qint64 pid = 0;
    QString host;
    QString application;
    if (!lock.getLockInfo(&pid, &host, &application) || host != QSysInfo::machineHostName())
        return 0;
    return platform::processRuns(pid) ? pid : 0;
}
