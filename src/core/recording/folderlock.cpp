#include "core/recording/folderlock.h"

#include "core/common/paths.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QThread>

namespace {

// Why the lock was not taken. Another process that has just taken it may not have written
// its process number yet: it is read again for a moment before the folder is called
// unwritable. This happens before anything runs: nothing waits on it.
QString lockHolder(QLockFile &lock, const QString &shownFolder) {
    qint64 pid = 0;
    QString host;
    QString application;
    for (QDeadlineTimer deadline(500); lock.error() == QLockFile::LockFailedError;) {
        if (lock.getLockInfo(&pid, &host, &application))
            return QStringLiteral("The data folder %1 is in use by process %2.")
                .arg(shownFolder)
                .arg(pid);
        if (deadline.hasExpired())
            return QStringLiteral("The data folder %1 is in use by another process.")
                .arg(shownFolder);
        QThread::msleep(5);
    }
    return QStringLiteral("The data folder %1 is not writable: the program cannot record there.")
        .arg(shownFolder);
}

} // namespace

QString lockDataFolder(const QString &folder, std::unique_ptr<QLockFile> &lock) {
    lock = std::make_unique<QLockFile>(paths::lockFile(folder));
    lock->setStaleLockTime(0); // only the death of its holder frees the lock
    if (lock->tryLock(0))
        return {};
    const QString why = lockHolder(*lock, QDir::toNativeSeparators(folder));
    lock.reset();
    return why;
}
