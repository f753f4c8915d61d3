#include "gui/frmZelph.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QtTest>

// The connection window only shows what it is told: the connection's status in its caption
// and the exchange in its logs, kept while it is hidden.
class TestFrmZelph : public QObject {
    Q_OBJECT

private slots:
    void captionIsTheConnectionStatus();
    void logsKeptWhileHiddenAreShown();
};

void TestFrmZelph::captionIsTheConnectionStatus() {
    frmZelph window;
    QCOMPARE(window.windowTitle(), QStringLiteral("NOT CONNECTED"));
    window.showConnected(true);
    window.appendToCaption(QStringLiteral(": alpha"));
    window.appendToCaption(QStringLiteral(": alpha")); // each decision repeats it
    QCOMPARE(window.windowTitle(), QStringLiteral("CONNECTED: alpha"));
    window.showConnected(false);
    QCOMPARE(window.windowTitle(), QStringLiteral("NOT CONNECTED"));
}

void TestFrmZelph::logsKeptWhileHiddenAreShown() {
    frmZelph window;
    window.appendReceived(QStringLiteral("DECISION UI 1"));
    window.appendReceived(QStringLiteral("\r\n"));
    window.appendSent(QStringLiteral("STATE TIME 1\r\n"));
    QCOMPARE(window.receivedLog(), QStringLiteral("DECISION UI 1\r\n"));
    window.show();
    auto *recv = window.findChild<QPlainTextEdit *>(QStringLiteral("txtRecv"));
    auto *sent = window.findChild<QPlainTextEdit *>(QStringLiteral("txtSend"));
    QCOMPARE(recv->toPlainText(), QStringLiteral("DECISION UI 1\n"));
    QCOMPARE(sent->toPlainText(), QStringLiteral("STATE TIME 1\n"));
    QTest::mouseClick(window.findChild<QLabel *>(QStringLiteral("lblWait")), Qt::LeftButton);
    QVERIFY(!window.isVisible());
}

QTEST_MAIN(TestFrmZelph)
#include "test_frmZelph.moc"
