#include "app/lifetime.h"

#include "app/runhost.h"
#include "core/common/paths.h"
#include "core/model/modelserver.h"
#include "core/recording/datafolder.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QLockFile>
#include <QTextStream>
#include <QThread>

Lifetime::Lifetime(QString dataDirectory)
    : m_dataDirectory(std::move(dataDirectory)) {}

Lifetime::~Lifetime() = default;

namespace {

// Why the lock was not taken. Another instance that has just taken it may not have written
// its process number yet: it is read again for a moment before the folder is called
// unwritable. This is start-up, before the event loop runs: nothing waits on it.
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

QString Lifetime::lockDataFolder(RunHost &runs) {
    const QString shown = QDir::toNativeSeparators(m_dataDirectory);
    m_lock = std::make_unique<QLockFile>(paths::lockFile(m_dataDirectory));
    m_lock->setStaleLockTime(0); // only the death of its holder frees the lock
    if (!m_lock->tryLock(0))
        return lockHolder(*m_lock, shown);
    QString problem = UnwritableDataFiles(m_dataDirectory);
    if (problem.isEmpty() && !runs.inspectFiles(&problem))
        problem = QStringLiteral("The program cannot record in the data folder %1: %2")
                      .arg(shown, problem);
    return problem;
}

QString Lifetime::listen(ModelServer &server, quint16 port) {
    QString error;
    QString note;
    if (!server.listen(port, &error, &note))
        return error;
    QTextStream out(stdout);
    if (!note.isEmpty())
        out << note << Qt::endl;
    out << "Waiting for a model on port " << server.listeningPort() << "." << Qt::endl;
    return {};
}

void Lifetime::end(ModelServer *server, int status) {
    m_ending = true;
    if (m_lock)
        m_lock->unlock(); // the folder is free for the next instance at once
    if (server)
        server->flush(); // the answers of the messages handed on so far go out first
    QCoreApplication::exit(status);
}
