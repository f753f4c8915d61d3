#pragma once

#include "core/model/framer.h"

#include <QList>
#include <QObject>
#include <QStringList>

class QTcpServer;
class QTcpSocket;

// The TCP server a model connects to: it listens on the loopback addresses for as long as
// the program runs, serves one model at a time, cuts what the model sends into messages and
// hands them on one by one (messageArrived). While the program holds input (a period runs,
// start-up is between two windows), complete messages wait in order, in one queue.
class ModelServer : public QObject {
    Q_OBJECT
public:
    static constexpr quint16 defaultPort = 9548;
    // A model may be a few messages ahead of the program, never more: past these bounds it
    // is dropped and what it queued is freed.
    static constexpr int MaxWaitingMessages = 64;
    static constexpr int MaxWaitingBytes = 64 * 1024;

    explicit ModelServer(QObject *parent = nullptr);
    ~ModelServer() override;

    // Listens on 127.0.0.1 and ::1 with one port (0: the system chooses). False, with the
    // reason in `error`, when either address cannot listen; a machine without an IPv6
    // loopback listens on 127.0.0.1 alone, and `note` says so.
    bool listen(quint16 port, QString *error, QString *note = nullptr);
    // The port in use (the one asked for, or the one given for port 0).
    quint16 listeningPort() const;

    // Whether a model's connection is open.
    bool linked() const { return m_linked; }
    // While held, complete messages wait; releasing hands them on at once, in order.
    void setHolding(bool holding);
    bool holding() const { return m_holding; }

    // False, with the reason in `error`, when the socket refused the bytes. What is sent
    // while waiting messages are handed on goes out with their last answer, in one write:
    // a decision's state and the RESULT sent right behind it reach the model together.
    bool send(const QByteArray &bytes, QString *error = nullptr);
    // Writes out at once whatever is still buffered (before the program ends).
    void flush();
    // Closes the model's connection; waiting messages and a partial one are forgotten. A
    // client that came meanwhile is served next.
    void drop();

signals:
    void messageArrived(const QString &message);
    void connected();
    // The connection is gone: the peer left, or it was dropped.
    void disconnected();
    // The peer broke a limit and was dropped: why, for the operator.
    void peerRefused(const QString &reason);

private:
    bool listenOn(quint16 port, QString *error, bool *ipv6Missing);
    void acceptConnection(QTcpServer *server);
    void serveNextClient();
    void adopt(QTcpSocket *socket);
    void refuse(QTcpSocket *socket);
    void onDataArrival();
    void onPeerClosed();
    void handOnWaiting();
    bool peerHasLeft() const;

    QList<QTcpServer *> m_servers;
    QTcpSocket *m_socket = nullptr;
    // Clients that came while the model's own close was still to be handled, served in turn
    // once it has been.
    QList<QTcpSocket *> m_newcomers;
    int m_refusedOpen = 0;
    MessageFramer m_framer;
    QStringList m_waiting;
    qsizetype m_waitingBytes = 0;
    bool m_linked = false;
    bool m_holding = false;
    bool m_leaving = false; // the model has closed; its waiting messages are handed on first
    bool m_handing = false;
    bool m_flushDue = false; // bytes sent while handing on wait for its end
};
