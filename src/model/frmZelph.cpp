#include "model/frmZelph.h"

#include <QEvent>
#include <QHostAddress>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextCursor>
#include <QTextStream>
#include <QVBoxLayout>

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
    layout->addWidget(m_lblWait);
    layout->addWidget(sent);
    layout->addWidget(m_send.view);
    layout->addWidget(received);
    layout->addWidget(m_recv.view);
}

frmZelph::~frmZelph() {
    if (m_socket)
        m_socket->abort();
}

void frmZelph::setHandlers(std::function<void(const QString &)> dispatch,
                           std::function<bool()> ready) {
    m_dispatch = std::move(dispatch);
    m_ready = std::move(ready);
}

// A model runs on the same machine as the program: only the loopback addresses listen, so
// no other host of the lab's network can log in or reset a participant's run.
bool frmZelph::listen(quint16 port) {
    m_serverPort = port;
    for (int i = 0; i < 2; ++i) { // the IPv4 and the IPv6 loopback
        auto *server = new QTcpServer(this);
        server->setMaxPendingConnections(1);
        connect(server, &QTcpServer::newConnection, this,
                [this, server] { acceptConnection(server); });
        m_servers.append(server);
    }
    Linked = false;
    startListening();
    // The IPv4 loopback must listen; a machine without IPv6 serves 127.0.0.1 alone.
    return m_servers.first()->isListening();
}

void frmZelph::startListening() {
    for (int i = 0; i < m_servers.size(); ++i) {
        QTcpServer *server = m_servers[i];
        if (server->isListening())
            continue;
        const QHostAddress address = i == 0 ? QHostAddress(QHostAddress::LocalHost)
                                            : QHostAddress(QHostAddress::LocalHostIPv6);
        if (!server->listen(address, m_serverPort) && i == 0) {
            QTextStream(stderr) << "Cannot listen for a model on port " << m_serverPort << ": "
                                << server->errorString() << Qt::endl;
        }
    }
}

// While a model is connected nothing listens, so a second client is refused at once.
void frmZelph::stopListening() {
    for (QTcpServer *server : std::as_const(m_servers))
        server->close();
}

void frmZelph::acceptConnection(QTcpServer *server) {
    QTcpSocket *socket = server->nextPendingConnection();
    if (!socket)
        return;
    if (m_socket) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    stopListening();
    m_socket = socket;
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(m_socket, &QTcpSocket::readyRead, this, &frmZelph::onDataArrival);
    connect(m_socket, &QTcpSocket::disconnected, this, &frmZelph::onPeerClosed);
    setWindowTitle(QStringLiteral("CONNECTED"));
    Linked = true;
    m_framer.reset();
    m_waiting.clear();
    clearLog(m_recv);
    clearLog(m_send);
}

void frmZelph::onDataArrival() {
    if (!m_socket)
        return;
    m_waiting += m_framer.feed(m_socket->readAll());
    if (m_framer.overflowed()) {
        // A message past the limit without a terminator is no message: drop the peer.
        QTextStream(stderr) << "A model's message grew past " << MessageFramer::MaxMessageBytes
                            << " bytes without a line end; the connection was dropped." << Qt::endl;
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
        m_dispatch(message);
    }
    m_handing = false;
}

void frmZelph::onPeerClosed() {
    DropModelConnection();
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
    // A partial message of a peer that left is discarded, never prefixed to the next model's.
    m_framer.reset();
    m_waiting.clear();
    if (m_socket) {
        QTcpSocket *socket = m_socket;
        m_socket = nullptr;
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
    startListening();
}

void frmZelph::appendReceived(const QString &text) {
    appendLog(m_recv, text);
}

void frmZelph::appendSent(const QString &text) {
    appendLog(m_send, text);
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
    for (Log *log : {&m_recv, &m_send}) {
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
