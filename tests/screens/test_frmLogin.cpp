#include "screens/frmLogin.h"
#include "setup/taskstate.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

class TestFrmLogin : public QObject {
    Q_OBJECT

private slots:
    void init();
    void startNeedsANameThatIsNotBlank_data();
    void startNeedsANameThatIsNotBlank();
    void enterInTheNameBoxStarts();
    void enterInTheVersionBoxStarts();
    void startStoresTheTrimmedName();
    void modelLoginSkipsTheSubjectForm();
    void cancelledSubjectFormReturnsToLogin();
    void refusedScenarioKeepsTheLoginOpen();
    void quitEndsTheProgram();

private:
    QPushButton *button(const char *name) const {
        return m_login->findChild<QPushButton *>(QLatin1String(name));
    }

    TaskState m_state;
    bool m_model = false;
    bool m_scenarioLoads = true;
    bool m_subjectFormCleared = true;
    int m_scenarioLoadCount = 0;
    int m_subjectForms = 0;
    int m_endProgramCalls = 0;
    std::unique_ptr<frmLogin> m_login;
};

void TestFrmLogin::init() {
    m_state = TaskState{};
    m_model = false;
    m_scenarioLoads = true;
    m_subjectFormCleared = true;
    m_scenarioLoadCount = m_subjectForms = m_endProgramCalls = 0;
    LoginHooks hooks;
    hooks.modelLoggedIn = [this] {
        return m_model;
    };
    hooks.loadScenario = [this] {
        ++m_scenarioLoadCount;
        return m_scenarioLoads;
    };
    hooks.runSubjectForm = [this] {
        ++m_subjectForms;
        return m_subjectFormCleared;
    };
    hooks.endProgram = [this] {
        ++m_endProgramCalls;
    };
    m_login = std::make_unique<frmLogin>(m_state, hooks);
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
    QCOMPARE(m_scenarioLoadCount, startEnabled ? 1 : 0);
    QCOMPARE(m_endProgramCalls, 0);
}

void TestFrmLogin::enterInTheNameBoxStarts() {
    QSignalSpy completed(m_login.get(), &frmLogin::loginCompleted);
    QTest::keyClicks(m_login->nameBox(), QStringLiteral("p01"));
    QTest::keyClick(m_login->nameBox(), Qt::Key_Enter);
    QCOMPARE(m_subjectForms, 1);
    QCOMPARE(completed.count(), 1);
    QCOMPARE(m_login->nameBox()->text(), QStringLiteral("p01")); // the key was swallowed
}

void TestFrmLogin::enterInTheVersionBoxStarts() {
    auto *version = m_login->findChild<QComboBox *>(QStringLiteral("cboVersion"));
    QTest::keyClick(version, Qt::Key_Return);
    QCOMPARE(m_scenarioLoadCount, 0); // Start still disabled
    m_login->nameBox()->setText(QStringLiteral("p01"));
    QTest::keyClicks(version, QStringLiteral("B2"));
    QTest::keyClick(version, Qt::Key_Return);
    QCOMPARE(m_scenarioLoadCount, 1);
    QCOMPARE(m_login->versionText(), QStringLiteral("B2"));
}

void TestFrmLogin::startStoresTheTrimmedName() {
    m_login->nameBox()->setText(QStringLiteral("  p 01 "));
    QTest::mouseClick(button("cmdStart"), Qt::LeftButton);
    QCOMPARE(m_state.subjectName, QStringLiteral("p 01"));
    QCOMPARE(m_login->nameBox()->text(), QStringLiteral("  p 01 "));
}

void TestFrmLogin::modelLoginSkipsTheSubjectForm() {
    QSignalSpy completed(m_login.get(), &frmLogin::loginCompleted);
    m_model = true;
    m_login->nameBox()->setText(QStringLiteral("alpha"));
    m_login->cmdStart_Click();
    QCOMPARE(m_subjectForms, 0);
    QCOMPARE(completed.count(), 1);
    QVERIFY(!m_login->isVisible());
}

void TestFrmLogin::cancelledSubjectFormReturnsToLogin() {
    QSignalSpy completed(m_login.get(), &frmLogin::loginCompleted);
    m_subjectFormCleared = false;
    m_login->nameBox()->setText(QStringLiteral("p01"));
    m_login->cmdStart_Click();
    QCOMPARE(m_subjectForms, 1);
    QCOMPARE(completed.count(), 0);
    QVERIFY(m_login->isVisible());
    QCOMPARE(m_login->nameBox()->selectedText(), QStringLiteral("p01"));
    // Start again reloads the setup file.
    m_subjectFormCleared = true;
    m_login->cmdStart_Click();
    QCOMPARE(m_scenarioLoadCount, 2);
    QCOMPARE(completed.count(), 1);
}

void TestFrmLogin::refusedScenarioKeepsTheLoginOpen() {
    QSignalSpy completed(m_login.get(), &frmLogin::loginCompleted);
    m_scenarioLoads = false;
    m_login->nameBox()->setText(QStringLiteral("p01"));
    m_login->cmdStart_Click();
    QCOMPARE(m_subjectForms, 0);
    QCOMPARE(completed.count(), 0);
    QVERIFY(m_login->isVisible());
}

void TestFrmLogin::quitEndsTheProgram() {
    QTest::mouseClick(button("cmdQuit"), Qt::LeftButton);
    QVERIFY(m_state.quitFromLogin);
    QCOMPARE(m_endProgramCalls, 1);
}

QTEST_MAIN(TestFrmLogin)
#include "test_frmLogin.moc"
