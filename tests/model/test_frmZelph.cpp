#include "model/frmZelph.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QTcpSocket>
#include <QtTest>

#include <memory>

class TestFrmZelph : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void connectionIsServedAndFramed();
    void secondClientIsRefusedUntilTheFirstLeaves();
    void messagesWaitWhileStartUpIsBusy();
    void oversizedMessageDropsThePeer();
    void logsKeptWhileHiddenAreShown();

private:
    std::unique_ptr<QTcpSocket> connectClient() {
        auto socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(QHostAddress::LocalHost, m_zelph->listeningPort());
        return socket;
    }

    std::unique_ptr<frmZelph> m_zelph;
    QStringList m_messages;
    bool m_ready = true;
};

void TestFrmZelph::init() {
    m_messages.clear();
    m_ready = true;
    m_zelph = std::make_unique<frmZelph>();
    m_zelph->setHandlers([this](const QString &text) { m_messages << text; },
                         [this] { return m_ready; });
    QVERIFY(m_zelph->listen(0));
    QCOMPARE(m_zelph->windowTitle(), QStringLiteral("NOT CONNECTED"));
}

void TestFrmZelph::cleanup() {
    m_zelph.reset();
}

void TestFrmZelph::connectionIsServedAndFramed() {
    auto client = connectClient();
    QVERIFY(client->waitForConnected(2000));
    QTRY_VERIFY(m_zelph->Linked);
    QCOMPARE(m_zelph->windowTitle(), QStringLiteral("CONNECTED"));
    client->write("ENTRY-ID alpha\r\nDECI");
    client->flush();
    QTRY_COMPARE(m_messages, QStringList{QStringLiteral("ENTRY-ID alpha")});
    client->write("SION UI 1\n");
    QTRY_COMPARE(m_messages.size(), 2);
    QCOMPARE(m_messages[1], QStringLiteral("DECISION UI 1"));

    m_zelph->Login = QStringLiteral("alpha");
    m_zelph->appendToCaption(QStringLiteral(": alpha"));
    m_zelph->appendToCaption(QStringLiteral(": alpha")); // each decision repeats it
    QCOMPARE(m_zelph->windowTitle(), QStringLiteral("CONNECTED: alpha"));
    QVERIFY(m_zelph->send("STATE\r\n"));
    QTRY_COMPARE(client->bytesAvailable(), qint64(7));
    QCOMPARE(client->readAll(), QByteArray("STATE\r\n"));

    // A half-sent message of a peer that leaves is forgotten.
    client->write("DECISION UI");
    client->flush();
    client->disconnectFromHost();
    QTRY_VERIFY(!m_zelph->Linked);
    QCOMPARE(m_zelph->windowTitle(), QStringLiteral("NOT CONNECTED"));
    QCOMPARE(m_zelph->Login, QString());
    auto next = connectClient();
    QVERIFY(next->waitForConnected(2000));
    QTRY_VERIFY(m_zelph->Linked);
    next->write("QUIT\n");
    QTRY_COMPARE(m_messages.size(), 3);
    QCOMPARE(m_messages[2], QStringLiteral("QUIT"));
}

void TestFrmZelph::secondClientIsRefusedUntilTheFirstLeaves() {
    auto first = connectClient();
    QVERIFY(first->waitForConnected(2000));
    QTRY_VERIFY(m_zelph->Linked);
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
    QVERIFY(m_zelph->Linked);
    QCOMPARE(third->state(), QAbstractSocket::ConnectedState);
}

void TestFrmZelph::messagesWaitWhileStartUpIsBusy() {
    auto client = connectClient();
    QVERIFY(client->waitForConnected(2000));
    m_ready = false;
    client->write("SIMULATION RESET\nENTRY-ID a VERSION BATCH\n");
    QTest::qWait(50);
    QVERIFY(m_messages.isEmpty());
    m_ready = true;
    m_zelph->handOnWaiting();
    QCOMPARE(m_messages, (QStringList{QStringLiteral("SIMULATION RESET"),
                                      QStringLiteral("ENTRY-ID a VERSION BATCH")}));
}

void TestFrmZelph::oversizedMessageDropsThePeer() {
    auto client = connectClient();
    QVERIFY(client->waitForConnected(2000));
    QTRY_VERIFY(m_zelph->Linked);
    client->write(QByteArray(MessageFramer::MaxMessageBytes + 1, 'A'));
    QTRY_VERIFY(!m_zelph->Linked);
    QVERIFY(m_messages.isEmpty());
    QTRY_COMPARE(client->state(), QAbstractSocket::UnconnectedState);
}

void TestFrmZelph::logsKeptWhileHiddenAreShown() {
    m_zelph->appendReceived(QStringLiteral("DECISION UI 1"));
    m_zelph->appendReceived(QStringLiteral("\r\n"));
    m_zelph->appendSent(QStringLiteral("STATE TIME 1\r\n"));
    QCOMPARE(m_zelph->receivedLog(), QStringLiteral("DECISION UI 1\r\n"));
    m_zelph->show();
    auto *recv = m_zelph->findChild<QPlainTextEdit *>(QStringLiteral("txtRecv"));
    auto *sent = m_zelph->findChild<QPlainTextEdit *>(QStringLiteral("txtSend"));
    QCOMPARE(recv->toPlainText(), QStringLiteral("DECISION UI 1\n"));
    QCOMPARE(sent->toPlainText(), QStringLiteral("STATE TIME 1\n"));
    QTest::mouseClick(m_zelph->findChild<QLabel *>(QStringLiteral("lblWait")), Qt::LeftButton);
    QVERIFY(!m_zelph->isVisible());
}

QTEST_MAIN(TestFrmZelph)
#include "test_frmZelph.moc"
