#include "core/model/modelserver.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <memory>

// The server a model connects to: one model at a time, messages framed and handed on in
// order, input held while the program is busy, and both loopback addresses or none.
class TestModelServer : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void connectionIsServedAndFramed();
    void secondClientIsRefusedUntilTheFirstLeaves();
    void messagesWaitWhileHeld();
    void oversizedMessageDropsThePeer();
    void aTakenIPv6LoopbackFailsTheListen();

private:
    std::unique_ptr<QTcpSocket> connectClient() {
        auto socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(QHostAddress::LocalHost, m_server->listeningPort());
        return socket;
    }

    std::unique_ptr<ModelServer> m_server;
    QStringList m_messages;
};

void TestModelServer::init() {
    m_messages.clear();
    m_server = std::make_unique<ModelServer>();
    connect(m_server.get(), &ModelServer::messageArrived, this,
            [this](const QString &text) { m_messages << text; });
    QString error;
    QVERIFY2(m_server->listen(0, &error), qPrintable(error));
    QVERIFY(!m_server->linked());
}

void TestModelServer::cleanup() {
    m_server.reset();
}

void TestModelServer::connectionIsServedAndFramed() {
    QSignalSpy connected(m_server.get(), &ModelServer::connected);
    QSignalSpy disconnected(m_server.get(), &ModelServer::disconnected);
    auto client = connectClient();
    QVERIFY(client->waitForConnected(2000));
    QTRY_VERIFY(m_server->linked());
    QCOMPARE(connected.count(), 1);
    client->write("ENTRY-ID alpha\r\nDECI");
    client->flush();
    QTRY_COMPARE(m_messages, QStringList{QStringLiteral("ENTRY-ID alpha")});
    client->write("SION UI 1\n");
    QTRY_COMPARE(m_messages.size(), 2);
    QCOMPARE(m_messages[1], QStringLiteral("DECISION UI 1"));

    QVERIFY(m_server->send("STATE\r\n"));
    QTRY_COMPARE(client->bytesAvailable(), qint64(7));
    QCOMPARE(client->readAll(), QByteArray("STATE\r\n"));

    // A half-sent message of a peer that leaves is forgotten.
    client->write("DECISION UI");
    client->flush();
    client->disconnectFromHost();
    QTRY_VERIFY(!m_server->linked());
    QTRY_COMPARE(disconnected.count(), 1);
    auto next = connectClient();
    QVERIFY(next->waitForConnected(2000));
    QTRY_VERIFY(m_server->linked());
    next->write("QUIT\n");
    QTRY_COMPARE(m_messages.size(), 3);
    QCOMPARE(m_messages[2], QStringLiteral("QUIT"));
}

void TestModelServer::secondClientIsRefusedUntilTheFirstLeaves() {
    auto first = connectClient();
    QVERIFY(first->waitForConnected(2000));
    QTRY_VERIFY(m_server->linked());
    // While the first is there, a second one reads the end of the stream, not a reset.
    auto second = connectClient();
    QTRY_COMPARE(second->state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(second->error(), QAbstractSocket::RemoteHostClosedError);
    // The first leaves and a third arrives before the program has handled that close.
    first->disconnectFromHost();
    auto third = connectClient();
    QVERIFY(third->waitForConnected(2000));
    third->write("ENTRY-ID gamma\n");
    QTRY_COMPARE(m_messages, QStringList{QStringLiteral("ENTRY-ID gamma")});
    QVERIFY(m_server->linked());
    QCOMPARE(third->state(), QAbstractSocket::ConnectedState);
}

void TestModelServer::messagesWaitWhileHeld() {
    auto client = connectClient();
    QVERIFY(client->waitForConnected(2000));
    m_server->setHolding(true);
    client->write("SIMULATION RESET\nENTRY-ID a VERSION BATCH\n");
    QTest::qWait(50);
    QVERIFY(m_messages.isEmpty());
    m_server->setHolding(false);
    QCOMPARE(m_messages, (QStringList{QStringLiteral("SIMULATION RESET"),
                                      QStringLiteral("ENTRY-ID a VERSION BATCH")}));
}

void TestModelServer::oversizedMessageDropsThePeer() {
    QSignalSpy refused(m_server.get(), &ModelServer::peerRefused);
    auto client = connectClient();
    QVERIFY(client->waitForConnected(2000));
    QTRY_VERIFY(m_server->linked());
    client->write(QByteArray(MessageFramer::MaxMessageBytes + 1, 'A'));
    QTRY_VERIFY(!m_server->linked());
    QVERIFY(m_messages.isEmpty());
    QCOMPARE(refused.count(), 1);
    QTRY_COMPARE(client->state(), QAbstractSocket::UnconnectedState);
}

// A model that reaches "localhost" through ::1 would meet whatever holds that port there.
void TestModelServer::aTakenIPv6LoopbackFailsTheListen() {
    QTcpServer other;
    if (!other.listen(QHostAddress::LocalHostIPv6, 0))
        QSKIP("this machine has no IPv6 loopback");
    ModelServer server;
    QString error;
    QVERIFY(!server.listen(other.serverPort(), &error));
    QVERIFY2(error.contains(QStringLiteral("::1")), qPrintable(error));
    QVERIFY2(error.contains(QString::number(other.serverPort())), qPrintable(error));
}

QTEST_GUILESS_MAIN(TestModelServer)
#include "test_modelserver.moc"
