#include "app/lifetime.h"

#include "app/runhost.h"
#include "core/model/modelserver.h"
#include "core/recording/datafolder.h"
#include "core/recording/folderlock.h"

#include <QCoreApplication>
#include <QDir>
#include <QLockFile>
#include <QTextStream>

Lifetime::Lifetime(QString dataDirectory)
    : m_dataDirectory(std::move(dataDirectory)) {}

Lifetime::~Lifetime() = default;

QString Lifetime::lockDataFolder(RunHost &runs) {
    const QString shown = QDir::toNativeSeparators(m_dataDirectory);
    QString problem = ::lockDataFolder(m_dataDirectory, m_lock);
    if (!problem.isEmpty())
        return problem;
    problem = UnwritableDataFiles(m_dataDirectory);
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
