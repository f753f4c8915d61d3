#include "core/model/modelserver.h"

#include "core/common/platform.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <utility>

ModelServer::ModelServer(QObject *parent)
    : QObject(parent) {}

ModelServer::~ModelServer() {
    if (m_socket) {
        flush();
        m_socket->abort();
    }
    for (QTcpSocket *socket : std::as_const(m_newcomers))
        socket->abort();
}

// A model runs on the same machine as the program: only the loopback addresses listen, so
// no other host of the lab's network can log in or reset a participant's run. Both must
// listen: a model that reaches "localhost" through ::1 would otherwise meet another program.
bool ModelServer::listen(quint16 port, QString *error, QString *note) {
    constexpr int tries = 8; // port 0: the port chosen for 127.0.0.1 may be taken on ::1
    bool ipv6Missing = false;
    for (int attempt = 1; attempt <= tries; ++attempt) {
        if (listenOn(port, error, &ipv6Missing)) {
            if (ipv6Missing && note)
                *note = QStringLiteral("This machine has no IPv6 loopback (::1): listening on "
                                       "127.0.0.1 alone.");
            return true;
        }
        if (port != 0 || m_servers.isEmpty())
            return false;
        qDeleteAll(std::exchange(m_servers, {}));
    }
    return false;
}

bool ModelServer::listenOn(quint16 port, QString *error, bool *ipv6Missing) {
    for (const auto address : {QHostAddress::LocalHost, QHostAddress::LocalHostIPv6}) {
        auto *server = new QTcpServer(this);
        connect(server, &QTcpServer::newConnection, this,
                [this, server] { acceptConnection(server); });
        const bool first = m_servers.isEmpty();
        const quint16 wanted = first ? port : listeningPort();
        m_servers.append(server);
        if (server->listen(QHostAddress(address), wanted))
            continue;
        const auto failure = server->serverError();
        if (!first && (failure == QAbstractSocket::SocketAddressNotAvailableError ||
                       failure == QAbstractSocket::UnsupportedSocketOperationError)) {
            *ipv6Missing = true;
            m_servers.removeLast();
            delete server;
            continue;
        }
        if (error)
            *error = QStringLiteral("Cannot listen for a model on port %1 of %2: %3")
                         .arg(wanted)
                         .arg(QHostAddress(address).toString(), server->errorString());
        return false;
    }
    return true;
}

quint16 ModelServer::listeningPort() const {
    return m_servers.isEmpty() ? 0 : m_servers.first()->serverPort();
}

// The program listens for as long as it runs and decides per client whether to serve it:
// closing the listener while a model plays would reset a client that arrives just as the
// model leaves. While the model is really there, a newcomer is closed at once and reads the
// end of the stream; clients that come while its close waits unhandled are served in turn.
void ModelServer::acceptConnection(QTcpServer *server) {
    constexpr int maxWaitingClients = 8;
    while (QTcpSocket *socket = server->nextPendingConnection()) {
        // One read takes at most this much; a flood waits in the kernel, not in the program.
        socket->setReadBufferSize(MaxWaitingBytes);
        if ((m_socket && !peerHasLeft()) || m_newcomers.size() >= maxWaitingClients)
            refuse(socket);
        else
            m_newcomers.append(socket);
    }
    serveNextClient();
}

// Its close may have arrived and wait, unhandled, in the event loop: the socket is asked.
bool ModelServer::peerHasLeft() const {
    return m_socket->state() != QAbstractSocket::ConnectedState ||
           platform::peerHasHungUp(m_socket->socketDescriptor());
}

void ModelServer::serveNextClient() {
    if (m_socket || m_newcomers.isEmpty())
        return; // a model that has left is served no longer once its close is handled
    adopt(m_newcomers.takeFirst());
    if (m_socket && !peerHasLeft()) {
        for (QTcpSocket *other : std::exchange(m_newcomers, {}))
            refuse(other);
    }
}

void ModelServer::adopt(QTcpSocket *socket) {
    m_socket = socket;
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(m_socket, &QTcpSocket::readyRead, this, &ModelServer::onDataArrival);
    connect(m_socket, &QTcpSocket::disconnected, this, &ModelServer::onPeerClosed);
    m_linked = true;
    m_framer.reset();
    m_waiting.clear();
    m_waitingBytes = 0;
    emit connected();
    // What it sent, or its close, while it waited raised signals nobody heard.
    QMetaObject::invokeMethod(
        this,
        [this, socket] {
            if (m_socket != socket)
                return;
            if (socket->bytesAvailable() > 0)
                onDataArrival();
            if (m_socket == socket && socket->state() != QAbstractSocket::ConnectedState)
                onPeerClosed();
        },
        Qt::QueuedConnection);
}

// Sends the end of the stream at once; whatever the client sends meanwhile is read and
// dropped, so that the close never turns into a reset.
void ModelServer::refuse(QTcpSocket *socket) {
    constexpr int maxLingering = 32;
    constexpr int lingerMs = 5000;
    if (m_refusedOpen >= maxLingering || !platform::shutDownSending(socket->socketDescriptor())) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    ++m_refusedOpen;
    const auto release = [this, socket] {
        if (socket->property("released").toBool())
            return;
        socket->setProperty("released", true);
        --m_refusedOpen;
        socket->abort();
        socket->deleteLater();
    };
    connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->readAll(); });
    connect(socket, &QTcpSocket::disconnected, this, release);
    QTimer::singleShot(lingerMs, socket, release);
}

void ModelServer::onDataArrival() {
    if (!m_socket)
        return;
    for (QString &message : m_framer.feed(m_socket->readAll())) {
        m_waitingBytes += message.size();
        m_waiting.append(std::move(message));
    }
    QString problem;
    if (m_framer.overflowed())
        problem = QStringLiteral("A model's message grew past %1 bytes without a line end")
                      .arg(MessageFramer::MaxMessageBytes);
    else if (m_waiting.size() > MaxWaitingMessages || m_waitingBytes > MaxWaitingBytes)
        problem = QStringLiteral("A model sent more than %1 messages or %2 bytes ahead of the "
                                 "program's answers")
                      .arg(MaxWaitingMessages)
                      .arg(MaxWaitingBytes);
    if (!problem.isEmpty()) {
        drop();
        emit peerRefused(problem + QStringLiteral("; the connection was dropped."));
        return;
    }
    handOnWaiting();
}

void ModelServer::setHolding(bool holding) {
    m_holding = holding;
    if (!holding)
        handOnWaiting();
}

void ModelServer::handOnWaiting() {
    if (m_handing)
        return; // the loop below goes on with the next message
    m_handing = true;
    while (!m_holding && !m_waiting.isEmpty()) {
        const QString message = m_waiting.takeFirst();
        m_waitingBytes -= message.size();
        emit messageArrived(message);
    }
    m_handing = false;
    flush();
    if (m_leaving && m_waiting.isEmpty())
        drop();
}

// The messages a model sent before it left are still its own and are handed on first;
// nothing can be sent to it any more.
void ModelServer::onPeerClosed() {
    m_linked = false;
    m_leaving = true;
    handOnWaiting();
}

bool ModelServer::send(const QByteArray &bytes, QString *error) {
    if (!m_socket || m_socket->state() != QAbstractSocket::ConnectedState) {
        if (error)
            *error = QStringLiteral("%1: %2")
                         .arg(int(QAbstractSocket::RemoteHostClosedError))
                         .arg(QStringLiteral("The connection is closed"));
        return false;
    }
    if (m_socket->write(bytes) != bytes.size()) {
        if (error)
            *error =
                QStringLiteral("%1: %2").arg(int(m_socket->error())).arg(m_socket->errorString());
        // The peer is gone, but what it sent before it went is still its own: handed on, then
        // the connection is dropped.
        m_linked = false;
        m_leaving = true;
        if (!m_handing)
            QMetaObject::invokeMethod(this, &ModelServer::handOnWaiting, Qt::QueuedConnection);
        return false;
    }
    if (m_handing)
        m_flushDue = true;
    else
        m_socket->flush();
    return true;
}

void ModelServer::flush() {
    if (m_flushDue && m_socket)
        m_socket->flush();
    m_flushDue = false;
}

void ModelServer::drop() {
    const bool hadPeer = m_socket != nullptr || m_linked;
    flush(); // a last answer (END_PROGRAM before the end, say) still reaches the model
    m_linked = false;
    m_leaving = false;
    // A partial message of a peer that left is discarded, never prefixed to the next model's.
    m_framer.reset();
    m_waiting.clear();
    m_waitingBytes = 0;
    if (m_socket) {
        QTcpSocket *socket = std::exchange(m_socket, nullptr);
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
    if (hadPeer)
        emit disconnected();
    serveNextClient();
}
