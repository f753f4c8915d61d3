#include "gui/frmLogin.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

// The login screen on its own: what it lets the person do and what it says. What Start
// leads to is the program's (tests/app).
class TestFrmLogin : public QObject {
    Q_OBJECT

private slots:
    void init();
    void startNeedsANameThatIsNotBlank_data();
    void startNeedsANameThatIsNotBlank();
    void enterInTheNameBoxStarts();
    void enterInTheVersionBoxStarts();
    void startGivesTheTrimmedName();
    void shownAgainWithTheNameSelected();
    void quitAndTheCloseBoxAreSaid();

private:
    QPushButton *button(const char *name) const {
        return m_login->findChild<QPushButton *>(QLatin1String(name));
    }

    std::unique_ptr<frmLogin> m_login;
    std::unique_ptr<QSignalSpy> m_starts;
    std::unique_ptr<QSignalSpy> m_quits;
};

void TestFrmLogin::init() {
    m_login = std::make_unique<frmLogin>();
    m_starts = std::make_unique<QSignalSpy>(m_login.get(), &frmLogin::startPressed);
    m_quits = std::make_unique<QSignalSpy>(m_login.get(), &frmLogin::quitPressed);
    m_login->show();
}

void TestFrmLogin::startNeedsANameThatIsNotBlank_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("startEnabled");
    QTest::newRow("empty") << "" << false;
    QTest::newRow("only blanks") << "   " << false;
    QTest::newRow("a name") << "alpha" << true;
    QTest::newRow("a name among blanks") << "  alpha " << true;
}

void TestFrmLogin::startNeedsANameThatIsNotBlank() {
    QFETCH(QString, name);
    QFETCH(bool, startEnabled);
    QCOMPARE(m_login->windowTitle(), QStringLiteral("Welcome"));
    QVERIFY(!button("cmdStart")->isEnabled());
    QTest::keyClicks(m_login->nameBox(), name);
    QCOMPARE(button("cmdStart")->isEnabled(), startEnabled);
    QTest::keyClick(m_login->nameBox(), Qt::Key_Return);
    QCOMPARE(m_starts->count(), startEnabled ? 1 : 0);
    QCOMPARE(m_quits->count(), 0);
}

void TestFrmLogin::enterInTheNameBoxStarts() {
    QTest::keyClicks(m_login->nameBox(), QStringLiteral("p01"));
    QTest::keyClick(m_login->nameBox(), Qt::Key_Enter);
    QCOMPARE(m_starts->count(), 1);
    QCOMPARE(m_login->nameBox()->text(), QStringLiteral("p01")); // the key was swallowed
}

void TestFrmLogin::enterInTheVersionBoxStarts() {
    auto *version = m_login->findChild<QComboBox *>(QStringLiteral("cboVersion"));
    QTest::keyClick(version, Qt::Key_Return);
    QCOMPARE(m_starts->count(), 0); // Start still disabled
    m_login->nameBox()->setText(QStringLiteral("p01"));
    QTest::keyClicks(version, QStringLiteral("B2"));
    QTest::keyClick(version, Qt::Key_Return);
    QCOMPARE(m_starts->count(), 1);
    QCOMPARE(m_login->versionText(), QStringLiteral("B2"));
}

void TestFrmLogin::startGivesTheTrimmedName() {
    m_login->nameBox()->setText(QStringLiteral("  p 01 "));
    QTest::mouseClick(button("cmdStart"), Qt::LeftButton);
    QCOMPARE(m_starts->count(), 1);
    QCOMPARE(m_starts->first().first().toString(), QStringLiteral("p 01"));
    QCOMPARE(m_login->nameBox()->text(), QStringLiteral("  p 01 "));
    QCOMPARE(m_login->nameBox()->selectedText(), QStringLiteral("  p 01 "));
}

void TestFrmLogin::shownAgainWithTheNameSelected() {
    m_login->nameBox()->setText(QStringLiteral("p01"));
    m_login->hide();
    m_login->setWindowModality(Qt::ApplicationModal); // as the program shows it
    m_login->showAgain();
    QVERIFY(m_login->isVisible());
    QCOMPARE(m_login->windowModality(), Qt::ApplicationModal);
    QCOMPARE(m_login->nameBox()->selectedText(), QStringLiteral("p01"));
    m_login->complete();
    QVERIFY(!m_login->isVisible());
    QCOMPARE(m_quits->count(), 0);
}

void TestFrmLogin::quitAndTheCloseBoxAreSaid() {
    QTest::mouseClick(button("cmdQuit"), Qt::LeftButton);
    QCOMPARE(m_quits->count(), 1);
    QVERIFY(!m_login->close()); // the close box means Quit
    QCOMPARE(m_quits->count(), 2);
    QTest::keyClick(m_login.get(), Qt::Key_Escape);
    QVERIFY(m_login->isVisible());
}

QTEST_MAIN(TestFrmLogin)
#include "test_frmLogin.moc"
