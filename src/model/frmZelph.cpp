#include "model/frmZelph.h"

#include <QEvent>
#include <QHostAddress>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextCursor>
#include <QTextStream>
#include <QTimer>
#include <QVBoxLayout>

#ifdef Q_OS_UNIX
#include <poll.h>
#include <sys/socket.h>
#endif

#include <utility>

namespace {

// The logs keep the latest lines only: a model may play thousands of runs on one connection.
constexpr int logLines = 2000;
constexpr int hiddenLogChars = 128 * 1024;

QPlainTextEdit *makeLog(const char *name, QWidget *parent) {
    auto *log = new QPlainTextEdit(parent);
    log->setObjectName(QLatin1String(name));
    log->setReadOnly(true);
    log->setMaximumBlockCount(logLines);
    return log;
}

// Whether the peer has closed its side. Such a close can sit unhandled in the event loop, so
// the socket itself is asked.
bool peerHasLeft(QTcpSocket *socket) {
    if (socket->state() != QAbstractSocket::ConnectedState)
        return true;
#ifdef Q_OS_LINUX
    pollfd probe{static_cast<int>(socket->socketDescriptor()), POLLRDHUP, 0};
    if (::poll(&probe, 1, 0) > 0 && (probe.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0)
        return true;
#endif
    return false;
}

// Sends the end of the stream without closing the socket.
bool shutDownSending(QTcpSocket *socket) {
#ifdef Q_OS_UNIX
    return ::shutdown(static_cast<int>(socket->socketDescriptor()), SHUT_WR) == 0;
#else
    socket->disconnectFromHost();
    return false;
#endif
}

} // namespace

frmZelph::frmZelph(QWidget *parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("frmZelph"));
    setWindowTitle(QStringLiteral("NOT CONNECTED"));
    auto *layout = new QVBoxLayout(this);
    m_lblWait = new QLabel(QStringLiteral("Waiting for Client Tone Input"), this);
    m_lblWait->setObjectName(QStringLiteral("lblWait"));
    m_lblWait->installEventFilter(this); // a click on it hides the window
    auto *sent = new QLabel(QStringLiteral("Sent"), this);
    sent->setObjectName(QStringLiteral("lblSent"));
    auto *received = new QLabel(QStringLiteral("Received"), this);
    received->setObjectName(QStringLiteral("lblReceived"));
    m_send.view = makeLog("txtSend", this);
    m_recv.view = makeLog("txtRecv", this);
    m_note.view = makeLog("txtLog", this);
    layout->addWidget(m_lblWait);
    layout->addWidget(sent);
    layout->addWidget(m_send.view);
    layout->addWidget(received);
    layout->addWidget(m_recv.view);
    layout->addWidget(m_note.view);
}

frmZelph::~frmZelph() {
    if (m_socket)
        m_socket->abort();
    for (QTcpSocket *socket : std::as_const(m_newcomers))
        socket->abort();
}

void frmZelph::setHandlers(std::function<void(const QString &)> dispatch,
                           std::function<bool()> ready) {
    m_dispatch = std::move(dispatch);
    m_ready = std::move(ready);
}

// A model runs on the same machine as the program: only the loopback addresses listen, so
// no other host of the lab's network can log in or reset a participant's run. The program
// listens for as long as it runs and decides per client whether to serve it: closing the
// listener while a model plays would reset a client that arrives just as the model leaves.
bool frmZelph::listen(quint16 port, QString *error) {
    m_serverPort = port;
    Linked = false;
    for (const auto address : {QHostAddress::LocalHost, QHostAddress::LocalHostIPv6}) {
        auto *server = new QTcpServer(this);
        connect(server, &QTcpServer::newConnection, this,
                [this, server] { acceptConnection(server); });
        m_servers.append(server);
        // Both loopbacks share one port, also the one the system chose for port 0.
        const quint16 wanted = m_servers.size() == 1 ? port : listeningPort();
        if (!server->listen(QHostAddress(address), wanted) && m_servers.size() == 1) {
            if (error)
                *error = QStringLiteral("Cannot listen for a model on port %1: %2")
                             .arg(port)
                             .arg(server->errorString());
            return false;
        }
    }
    // A machine without IPv6 serves 127.0.0.1 alone.
    return true;
}

// A client is served when no model is connected. While one really is, the newcomer is
// closed at once and reads the end of the stream. Whether the model is still there is asked
// of its socket: its close may have arrived and wait, unhandled, in the event loop; clients
// that come meanwhile wait, in order, until it has been handled.
void frmZelph::acceptConnection(QTcpServer *server) {
    constexpr int maxWaitingClients = 8;
    while (QTcpSocket *socket = server->nextPendingConnection()) {
        // One read takes at most this much; a flood waits in the kernel, not in the program.
        socket->setReadBufferSize(MaxWaitingBytes);
        if ((m_socket && !peerHasLeft(m_socket)) || m_newcomers.size() >= maxWaitingClients)
            refuse(socket);
        else
            m_newcomers.append(socket);
    }
    serveNextClient();
}

void frmZelph::serveNextClient() {
    if (m_socket || m_newcomers.isEmpty())
        return; // a model that has left is served no longer once its close is handled
    adopt(m_newcomers.takeFirst());
    if (m_socket && !peerHasLeft(m_socket)) {
        for (QTcpSocket *other : std::exchange(m_newcomers, {}))
            refuse(other);
    }
}

void frmZelph::adopt(QTcpSocket *socket) {
    m_socket = socket;
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(m_socket, &QTcpSocket::readyRead, this, &frmZelph::onDataArrival);
    connect(m_socket, &QTcpSocket::disconnected, this, &frmZelph::onPeerClosed);
    setWindowTitle(QStringLiteral("CONNECTED"));
    Linked = true;
    m_framer.reset();
    m_waiting.clear();
    m_waitingBytes = 0;
    clearLog(m_recv);
    clearLog(m_send);
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
void frmZelph::refuse(QTcpSocket *socket) {
    constexpr int maxLingering = 32;
    constexpr int lingerMs = 5000;
    if (m_refusedOpen >= maxLingering || !shutDownSending(socket)) {
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

void frmZelph::onDataArrival() {
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
        QTextStream(stderr) << "fluxmere: " << problem << "; the connection was dropped."
                            << Qt::endl;
        appendNote(problem + QStringLiteral("; the connection was dropped."));
        DropModelConnection();
        return;
    }
    handOnWaiting();
}

void frmZelph::handOnWaiting() {
    if (m_handing)
        return; // the loop below goes on with the next message
    m_handing = true;
    while (!m_waiting.isEmpty() && m_dispatch && (!m_ready || m_ready())) {
        const QString message = m_waiting.takeFirst();
        m_waitingBytes -= message.size();
        m_dispatch(message);
    }
    m_handing = false;
    if (m_leaving && m_waiting.isEmpty())
        DropModelConnection();
}

// The messages a model sent before it left are still its own and are handed on first, as
// logged in; nothing can be sent to it any more.
void frmZelph::onPeerClosed() {
    Linked = false;
    m_leaving = true;
    handOnWaiting();
}

bool frmZelph::send(const QByteArray &bytes, QString *error) {
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
        return false;
    }
    m_socket->flush();
    return true;
}

void frmZelph::DropModelConnection() {
    setWindowTitle(QStringLiteral("NOT CONNECTED"));
    Login.clear();
    Linked = false;
    m_leaving = false;
    // A partial message of a peer that left is discarded, never prefixed to the next model's.
    m_framer.reset();
    m_waiting.clear();
    m_waitingBytes = 0;
    if (m_socket) {
        QTcpSocket *socket = m_socket;
        m_socket = nullptr;
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
    serveNextClient();
}

void frmZelph::appendReceived(const QString &text) {
    appendLog(m_recv, text);
}

void frmZelph::appendSent(const QString &text) {
    appendLog(m_send, text);
}

void frmZelph::appendNote(const QString &text) {
    appendLog(m_note, text + QStringLiteral("\r\n"));
}

// The window is hidden while a model plays: its logs are kept as text and only laid out
// when an operator shows the window.
void frmZelph::appendLog(Log &log, const QString &text) {
    if (isVisible()) {
        QTextCursor cursor(log.view->document());
        cursor.movePosition(QTextCursor::End);
        cursor.insertText(text);
        return;
    }
    log.pending += text;
    if (log.pending.size() > hiddenLogChars)
        log.pending.remove(0, log.pending.size() - hiddenLogChars);
}

void frmZelph::clearLog(Log &log) {
    log.view->clear();
    log.pending.clear();
}

void frmZelph::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    for (Log *log : {&m_recv, &m_send, &m_note}) {
        const QString pending = std::exchange(log->pending, QString());
        appendLog(*log, pending);
    }
}

bool frmZelph::eventFilter(QObject *watched, QEvent *event) {
    if (watched == m_lblWait && event->type() == QEvent::MouseButtonRelease)
        hide();
    return QWidget::eventFilter(watched, event);
}

quint16 frmZelph::listeningPort() const {
    return m_servers.isEmpty() ? 0 : m_servers.first()->serverPort();
}

QString frmZelph::receivedLog() const {
    return m_recv.view->toPlainText() + m_recv.pending;
}

QString frmZelph::sentLog() const {
    return m_send.view->toPlainText() + m_send.pending;
}

void frmZelph::appendToCaption(const QString &text) {
    // Every accepted decision repeats the model's name; the hidden caption shows it once.
    if (!windowTitle().endsWith(text))
        setWindowTitle(windowTitle() + text);
}
