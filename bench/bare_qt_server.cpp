// The bare period work on Qt's event loop: a QTcpServer, and each period played right in the
// socket's readyRead handler. Set beside the C server, it shows what the loop itself costs.
// Usage: fluxmere-bare-qt --port N --data-dir DIR [--option value]...

#include "bare_period.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include <cstdio>

namespace {

// Written and flushed at once, as the program sends its replies.
void sendToSocket(void *sink, const char *bytes, size_t length) {
    auto *socket = static_cast<QTcpSocket *>(sink);
    socket->write(bytes, static_cast<qint64>(length));
    socket->flush();
}

void serve(QTcpSocket *socket, bare_run *run) {
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, run] {
        const QByteArray bytes = socket->readAll();
        if (bare_receive(run, bytes.constData(), static_cast<size_t>(bytes.size()), sendToSocket,
                         socket))
            QCoreApplication::quit();
    });
    QObject::connect(socket, &QTcpSocket::disconnected, &QCoreApplication::quit);
}

} // namespace

int main(int argc, char **argv) {
    static bare_run run;
    const int port = bare_prepare(&run, argc, argv);
    QCoreApplication app(argc, argv);
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, static_cast<quint16>(port))) {
        std::fprintf(stderr, "fluxmere-bare-qt: %s\n", qPrintable(server.errorString()));
        return 1;
    }
    std::printf("Waiting for a model on port %d.\n", server.serverPort());
    std::fflush(stdout);
    // One model, served alone: the server stops listening once it is in.
    QObject::connect(&server, &QTcpServer::newConnection, [&server] {
        QTcpSocket *socket = server.nextPendingConnection();
        server.close();
        serve(socket, &run);
    });
    return app.exec();
}
