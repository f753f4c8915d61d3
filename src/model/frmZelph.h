#pragma once

#include "model/framer.h"

#include <QStringList>
#include <QWidget>

#include <functional>

class QLabel;
class QPlainTextEdit;
class QTcpServer;
class QTcpSocket;

// The hidden connection window: listens for one model at a time on the loopback addresses,
// frames what it sends into messages and hands them on one by one. Its caption is the
// connection status; txtRecv and txtSend log the exchange.
class frmZelph : public QWidget {
    Q_OBJECT
public:
    static constexpr quint16 defaultPort = 9548;

    explicit frmZelph(QWidget *parent = nullptr);
    ~frmZelph() override;

    // Handles each complete message. While `ready` answers false (start-up is between two
    // windows), messages wait and are handed on by handOnWaiting().
    void setHandlers(std::function<void(const QString &)> dispatch, std::function<bool()> ready);
    // Listens on the loopback addresses; port 0 lets the system choose. False, with the reason
    // in `error`, when the IPv4 loopback cannot listen (the port is taken).
    bool listen(quint16 port = defaultPort, QString *error = nullptr);
    void handOnWaiting();

    // A model may be a few messages ahead of the program, never more: past these bounds it
    // is dropped and what it queued is freed.
    static constexpr int MaxWaitingMessages = 64;
    static constexpr int MaxWaitingBytes = 64 * 1024;

    // False when the socket refused the bytes; the caller reports it and drops the connection.
    bool send(const QByteArray &bytes, QString *error = nullptr);
    // Back to listening with the model logged out.
    void DropModelConnection();
    void appendReceived(const QString &text);
    void appendSent(const QString &text);
    void appendToCaption(const QString &text);
    // A line in the connection's own log (txtLog): what happened to the connection.
    void appendNote(const QString &text);
    quint16 serverPort() const { return m_serverPort; }
    // The IPv4 loopback port in use (the one asked for, or the one given for port 0).
    quint16 listeningPort() const;
    QString receivedLog() const;
    QString sentLog() const;

    QString Login;
    bool Linked = false;

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void acceptConnection(QTcpServer *server);
    void serveNextClient();
    void adopt(QTcpSocket *socket);
    void refuse(QTcpSocket *socket);
    void onDataArrival();
    void onPeerClosed();

    quint16 m_serverPort = defaultPort;
    QList<QTcpServer *> m_servers;
    QTcpSocket *m_socket = nullptr;
    // Clients that came while the model's own close was still to be handled, served in turn
    // once it has been.
    QList<QTcpSocket *> m_newcomers;
    int m_refusedOpen = 0;
    MessageFramer m_framer;
    QStringList m_waiting;
    qsizetype m_waitingBytes = 0;
    bool m_leaving = false; // the model has closed; its waiting messages are handed on first
    bool m_handing = false;
    std::function<void(const QString &)> m_dispatch;
    std::function<bool()> m_ready;
    // A log box and what was appended to it while the window was hidden.
    struct Log {
        QPlainTextEdit *view = nullptr;
        QString pending;
    };
    void appendLog(Log &log, const QString &text);
    void clearLog(Log &log);
    Log m_recv;
    Log m_send;
    Log m_note;
    QLabel *m_lblWait = nullptr;
};
