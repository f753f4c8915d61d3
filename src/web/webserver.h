#pragma once

#include "web/webstudy.h"

#include <QAbstractHttpServer>
#include <QHash>
#include <QHostAddress>
#include <QPointer>

#include <functional>

class QWebSocket;
class WebSitting;
struct PanelIdentity;

// The browsers' server: GETs of the page and of the study's files over HTTP, and on the same
// port the WebSocket of each person's page. A page says hello with its link's panel identity,
// or with the token of a sitting it had; the server gives each new sitting an unguessable
// token and hands every later message of that connection to that sitting alone.
class WebServer : public QAbstractHttpServer {
    Q_OBJECT
public:
    static constexpr qint64 MaxMessageBytes = 16 * 1024;

    explicit WebServer(WebStudy &web, QObject *parent = nullptr);
    ~WebServer() override;

    // Listens on the settings' address and port. False, with the reason.
    bool start(QString *error);
    quint16 port() const { return m_port; }
    // Every open run is recorded with `ending`, each connection is closed, and `done`
    // follows once the database has every row.
    void stop(RunEnding ending, std::function<void()> done);
    int openSittings() const { return static_cast<int>(m_sittings.size()); }

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
    void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;

private:
    void acceptSockets();
    void onMessage(QWebSocket *socket, const QString &text);
    void hello(QWebSocket *socket, const QJsonObject &message);
    void resume(QWebSocket *socket, const QString &token);
    void open(QWebSocket *socket, const QJsonObject &message);
    QString openSittingOf(const QString &participantId) const;
    int sittingsUnderWay() const;
    WebSitting *newSitting(const PanelIdentity &panel, const QString &language);
    void attach(QWebSocket *socket, WebSitting *sitting);
    void detach(QWebSocket *socket);
    void forget(WebSitting *sitting);
    void sendTo(QWebSocket *socket, const QJsonObject &message);
    void refuse(QWebSocket *socket, const QString &step);
    QString newToken() const;
    QString trustedAddress(const QWebSocket *socket) const;
    bool addressHasEnough(const QString &address) const;
    void serveOperatorPage(const QHttpServerRequest &request, QTcpSocket *socket);

    WebStudy &m_web;
    quint16 m_port = 0;
    bool m_stopping = false;
    QHash<QString, WebSitting *> m_sittings; // by token
    QHash<QWebSocket *, QString> m_tokenOf;  // each page's sitting, once it said hello
    QHash<WebSitting *, QPointer<QWebSocket>> m_socketOf;
    QHash<WebSitting *, QString> m_addressOf; // where it can be trusted
};
