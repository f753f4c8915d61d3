#include "web/webserver.h"

#include "core/common/dialogs.h"
#include "core/recording/datafile.h"
#include "web/operatorpage.h"
#include "web/websitting.h"

#include <QFile>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTimer>
#include <QWebSocket>

namespace {

// A page that has not said hello by then is closed: an idle connection holds nothing.
constexpr int helloWithinMs = 15000;

struct PageFile {
    const char *resource;
    const char *type;
};

const QHash<QString, PageFile> &pageFiles() {
    static const QHash<QString, PageFile> files{
        {QStringLiteral("/"), {":/page/index.html", "text/html; charset=utf-8"}},
        {QStringLiteral("/index.html"), {":/page/index.html", "text/html; charset=utf-8"}},
        {QStringLiteral("/app.js"), {":/page/app.js", "text/javascript; charset=utf-8"}},
        {QStringLiteral("/style.css"), {":/page/style.css", "text/css; charset=utf-8"}},
    };
    return files;
}

// The page runs only its own script; a study page is shown in a frame without scripts.
const QByteArray pagePolicy =
    "default-src 'self'; script-src 'self'; style-src 'self' 'unsafe-inline'; "
    "img-src 'self' data:; media-src 'self'; connect-src 'self'; frame-src 'self'; "
    "frame-ancestors 'none'; base-uri 'self'; form-action 'none'";

// Each step of a period is a small message of its own: sent at once, not held back until the
// peer has acknowledged the one before.
class LowDelayServer : public QTcpServer {
public:
    using QTcpServer::QTcpServer;

protected:
    void incomingConnection(qintptr descriptor) override {
        auto *socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        addPendingConnection(socket);
    }
};

bool isWebSocketUpgrade(const QHttpServerRequest &request) {
    for (const auto &[name, value] : request.headers()) {
        if (name.compare("upgrade", Qt::CaseInsensitive) == 0)
            return value.trimmed().compare("websocket", Qt::CaseInsensitive) == 0;
    }
    return false;
}

bool validParticipantId(const QString &id) {
    static const QRegularExpression form(QStringLiteral("^[A-Za-z0-9_.@-]{1,64}$"));
    return form.match(id).hasMatch() && FitsDataFiles(id);
}

QString queryValue(const QJsonObject &query, const QString &name) {
    const QString value = query.value(name).toString().trimmed();
    return value.size() <= 128 ? value : QString();
}

} // namespace

WebServer::WebServer(WebStudy &web, QObject *parent)
    : QAbstractHttpServer(parent)
    , m_web(web) {
    connect(this, &QAbstractHttpServer::newWebSocketConnection, this, &WebServer::acceptSockets);
}

WebServer::~WebServer() {
    for (WebSitting *sitting : std::as_const(m_sittings))
        sitting->disconnect(this);
}

bool WebServer::start(QString *error) {
    const WebSettings &settings = m_web.settings();
    const QHostAddress address(settings.listenAddress);
    if (address.isNull()) {
        *error = QStringLiteral("--listen %1: not an IP address.").arg(settings.listenAddress);
        return false;
    }
    auto *server = new LowDelayServer(this);
    if (server->listen(address, settings.port)) {
        bind(server);
        m_port = server->serverPort();
    }
    if (m_port == 0) {
        *error = QStringLiteral("The web server cannot listen on %1 port %2.")
                     .arg(settings.listenAddress)
                     .arg(settings.port);
        return false;
    }
    return true;
}

// ---- HTTP ------------------------------------------------------------------------------

bool WebServer::handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) {
    // Taken without an answer: the server then hands the connection on as a WebSocket.
    if (isWebSocketUpgrade(request))
        return true;
    QHttpServerResponder responder = makeResponder(request, socket);
    using Status = QHttpServerResponder::StatusCode;
    if (request.method() != QHttpServerRequest::Method::Get) {
        responder.write(QByteArray("Only GET is served.\n"), "text/plain",
                        Status::MethodNotAllowed);
        return true;
    }
    const QString path = request.url().path();
    if (path == QLatin1String("/operator") && !m_web.settings().operatorPassword.isEmpty()) {
        serveOperatorPage(request, socket);
        return true;
    }
    const auto page = pageFiles().find(path);
    if (page != pageFiles().end()) {
        QFile file(QLatin1String(page->resource));
        file.open(QIODevice::ReadOnly);
        responder.write(file.readAll(), {{"Content-Type", page->type},
                                         {"Content-Security-Policy", pagePolicy},
                                         {"X-Content-Type-Options", "nosniff"},
                                         {"Referrer-Policy", "no-referrer"},
                                         {"Cache-Control", "no-cache"}});
        return true;
    }
    const QString served = path.startsWith(QLatin1String("/study/"))
                               ? m_web.files().servedPath(path.mid(7))
                               : QString();
    QFile file(served);
    if (served.isEmpty() || !file.open(QIODevice::ReadOnly) || file.size() > 64 * 1024 * 1024) {
        responder.write(QByteArray("Not found.\n"), "text/plain", Status::NotFound);
        return true;
    }
    responder.write(file.readAll(),
                    {{"Content-Type", StudyFileAccess::contentType(served)},
                     {"Content-Security-Policy", "script-src 'none'; frame-ancestors 'self'"},
                     {"X-Content-Type-Options", "nosniff"}});
    return true;
}

void WebServer::serveOperatorPage(const QHttpServerRequest &request, QTcpSocket *socket) {
    QHttpServerResponder responder = makeResponder(request, socket);
    if (!OperatorAuthorized(request, m_web.settings().operatorPassword)) {
        responder.write(QByteArray("The operator's password, please.\n"),
                        {{"Content-Type", "text/plain"},
                         {"WWW-Authenticate", "Basic realm=\"Fluxmere operator\""}},
                        QHttpServerResponder::StatusCode::Unauthorized);
        return;
    }
    QList<SittingProgress> progress;
    for (WebSitting *sitting : std::as_const(m_sittings))
        progress.append({sitting->panel().participantId, sitting->condition(), sitting->stepName(),
                         sitting->periodsPlayed(), sitting->practice(),
                         !m_socketOf.value(sitting).isNull()});
    responder.write(OperatorPage(progress, m_web.completedRuns()),
                    {{"Content-Type", "text/html; charset=utf-8"},
                     {"Content-Security-Policy", "default-src 'none'; style-src 'unsafe-inline'"},
                     {"Cache-Control", "no-store"}});
}

void WebServer::missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) {
    makeResponder(request, socket)
        .write(QByteArray("Not found.\n"), "text/plain",
               QHttpServerResponder::StatusCode::NotFound);
}

// ---- WebSockets ------------------------------------------------------------------------

void WebServer::acceptSockets() {
    while (hasPendingWebSocketConnections()) {
        QWebSocket *socket = nextPendingWebSocketConnection().release();
        socket->setParent(this);
        socket->setMaxAllowedIncomingMessageSize(MaxMessageBytes);
        socket->setMaxAllowedIncomingFrameSize(MaxMessageBytes);
        if (m_stopping) {
            socket->close(QWebSocketProtocol::CloseCodeGoingAway);
            socket->deleteLater();
            continue;
        }
        connect(socket, &QWebSocket::textMessageReceived, this,
                [this, socket](const QString &text) { onMessage(socket, text); });
        connect(socket, &QWebSocket::binaryMessageReceived, socket,
                [socket] { socket->close(QWebSocketProtocol::CloseCodeDatatypeNotSupported); });
        connect(socket, &QWebSocket::disconnected, this, [this, socket] {
            detach(socket);
            socket->deleteLater();
        });
        QTimer::singleShot(helloWithinMs, socket, [this, socket] {
            if (!m_tokenOf.contains(socket))
                socket->close(QWebSocketProtocol::CloseCodePolicyViolated);
        });
    }
}

void WebServer::sendTo(QWebSocket *socket, const QJsonObject &message) {
    if (socket && socket->isValid())
        socket->sendTextMessage(
            QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
}

// A message that is no JSON object, or too large, is answered and changes nothing.
void WebServer::onMessage(QWebSocket *socket, const QString &text) {
    if (m_stopping)
        return;
    QJsonParseError problem;
    const QJsonDocument document = text.size() <= MaxMessageBytes
                                       ? QJsonDocument::fromJson(text.toUtf8(), &problem)
                                       : QJsonDocument();
    if (!document.isObject()) {
        sendTo(socket, {{QStringLiteral("error"), QStringLiteral("malformed")}});
        return;
    }
    const QJsonObject message = document.object();
    const auto bound = m_tokenOf.constFind(socket);
    if (bound == m_tokenOf.constEnd()) {
        if (message.value(QStringLiteral("hello")).isObject())
            hello(socket, message.value(QStringLiteral("hello")).toObject());
        else
            sendTo(socket, {{QStringLiteral("error"), QStringLiteral("hello first")}});
        return;
    }
    if (WebSitting *sitting = m_sittings.value(*bound))
        sitting->take(message);
}

void WebServer::hello(QWebSocket *socket, const QJsonObject &message) {
    const QString token = message.value(QStringLiteral("token")).toString();
    if (!token.isEmpty())
        resume(socket, token);
    else
        open(socket, message);
}

void WebServer::refuse(QWebSocket *socket, const QString &step) {
    sendTo(socket, {{QStringLiteral("step"), step}});
}

// A sitting the server does not hold (it ended, or the server started anew) is over; one
// shown on another page stays there.
void WebServer::resume(QWebSocket *socket, const QString &token) {
    WebSitting *sitting = m_sittings.value(token);
    if (!sitting) {
        refuse(socket, QStringLiteral("gone"));
        return;
    }
    if (m_socketOf.value(sitting)) {
        refuse(socket, QStringLiteral("busy"));
        return;
    }
    attach(socket, sitting);
    sitting->connectionBack();
    sendTo(socket, sitting->currentStep());
}

// A new sitting for the link's participant id, unless the id is missing or has taken part, or
// the server has as many sittings as it may hold.
void WebServer::open(QWebSocket *socket, const QJsonObject &message) {
    const QJsonObject query = message.value(QStringLiteral("query")).toObject();
    const WebSettings &settings = m_web.settings();
    const QString id = queryValue(query, settings.participantParameter);
    if (!validParticipantId(id)) {
        sendTo(socket, {{QStringLiteral("step"), QStringLiteral("id")},
                        {QStringLiteral("parameter"), settings.participantParameter},
                        {QStringLiteral("invalid"), !id.isEmpty()}});
        return;
    }
    const QString openToken = settings.resumeRepeat ? openSittingOf(id) : QString();
    if (!openToken.isEmpty()) {
        sendTo(socket, {{QStringLiteral("token"), openToken}});
        resume(socket, openToken);
        return;
    }
    if (m_web.participantBusy(id) || m_web.participantRecorded(id)) {
        refuse(socket, QStringLiteral("repeat"));
        return;
    }
    if (sittingsUnderWay() >= settings.maxSessions) {
        refuse(socket, QStringLiteral("full"));
        return;
    }
    const QString address = trustedAddress(socket);
    if (addressHasEnough(address)) {
        refuse(socket, QStringLiteral("address"));
        return;
    }
    const PanelIdentity panel{id, queryValue(query, settings.studyParameter),
                              queryValue(query, settings.sessionParameter)};
    WebSitting *sitting = newSitting(panel, message.value(QStringLiteral("language")).toString());
    m_addressOf.insert(sitting, address);
    attach(socket, sitting);
    sendTo(socket, {{QStringLiteral("token"), m_sittings.key(sitting)}});
    sitting->begin();
}

QString WebServer::openSittingOf(const QString &participantId) const {
    for (auto it = m_sittings.cbegin(); it != m_sittings.cend(); ++it) {
        if (it.value()->panel().participantId == participantId && !it.value()->over())
            return it.key();
    }
    return {};
}

// The participant's address where it can be trusted: a peer that is not this computer, or,
// behind a proxy on this computer, the last address of the header the setup names (the one
// the proxy itself saw). Empty otherwise: every participant of a proxy that names nobody
// would share its address.
QString WebServer::trustedAddress(const QWebSocket *socket) const {
    const QHostAddress peer = socket->peerAddress();
    if (!peer.isLoopback())
        return peer.toString();
    const QString &header = m_web.settings().forwardedHeader;
    if (header.isEmpty())
        return {};
    const QByteArray named = socket->request().rawHeader(header.toLatin1());
    const QHostAddress address(QString::fromLatin1(named.split(',').last().trimmed()));
    return address.isNull() ? QString() : address.toString();
}

bool WebServer::addressHasEnough(const QString &address) const {
    const int most = m_web.settings().maxSessionsPerAddress;
    if (address.isEmpty() || most == 0)
        return false;
    int open = 0;
    for (auto it = m_addressOf.cbegin(); it != m_addressOf.cend(); ++it)
        open += it.value() == address && !it.key()->over() ? 1 : 0;
    return open >= most;
}

// Sittings whose end screen is shown count no more: they wait only for a reload.
int WebServer::sittingsUnderWay() const {
    int count = 0;
    for (const WebSitting *sitting : std::as_const(m_sittings))
        count += sitting->over() ? 0 : 1;
    return count;
}

WebSitting *WebServer::newSitting(const PanelIdentity &panel, const QString &language) {
    auto *sitting = new WebSitting(m_web, panel, language, this);
    m_sittings.insert(newToken(), sitting);
    connect(sitting, &WebSitting::outgoing, this,
            [this, sitting](const QJsonObject &out) { sendTo(m_socketOf.value(sitting), out); });
    connect(
        sitting, &WebSitting::finished, this, [this, sitting] { forget(sitting); },
        Qt::QueuedConnection);
    return sitting;
}

void WebServer::attach(QWebSocket *socket, WebSitting *sitting) {
    m_tokenOf.insert(socket, m_sittings.key(sitting));
    m_socketOf.insert(sitting, socket);
}

void WebServer::detach(QWebSocket *socket) {
    const QString token = m_tokenOf.take(socket);
    WebSitting *sitting = m_sittings.value(token);
    if (!sitting || m_socketOf.value(sitting) != socket)
        return;
    m_socketOf.remove(sitting);
    if (!m_stopping)
        sitting->connectionLost();
}

void WebServer::forget(WebSitting *sitting) {
    const QString token = m_sittings.key(sitting);
    if (token.isEmpty())
        return;
    m_sittings.remove(token);
    m_addressOf.remove(sitting);
    if (QWebSocket *socket = m_socketOf.take(sitting)) {
        m_tokenOf.remove(socket);
        socket->close();
    }
    sitting->deleteLater();
}

// 128 bits from the system's source, as 32 hex digits.
QString WebServer::newToken() const {
    QString token;
    do {
        quint32 words[4];
        QRandomGenerator::system()->fillRange(words);
        token.clear();
        for (const quint32 word : words)
            token += QString::number(word, 16).rightJustified(8, u'0');
    } while (m_sittings.contains(token));
    return token;
}

void WebServer::stop(RunEnding ending, std::function<void()> done) {
    m_stopping = true;
    for (WebSitting *sitting : std::as_const(m_sittings))
        sitting->endRun(ending);
    const QList<QWebSocket *> sockets = m_tokenOf.keys();
    for (QWebSocket *socket : sockets) {
        sendTo(socket, {{QStringLiteral("step"), QStringLiteral("stopped")}});
        socket->close(QWebSocketProtocol::CloseCodeGoingAway);
    }
    for (QTcpServer *server : servers())
        server->close();
    Database &database = m_web.database();
    if (database.idle()) {
        done();
        return;
    }
    connect(&database, &Database::drained, this, std::move(done), Qt::SingleShotConnection);
}
