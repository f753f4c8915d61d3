#include "gui/frmPasswordAuth.h"
#include "support/screenshot.h"
#include "support/testsupport.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <memory>
#include <utility>

namespace {

// Also keeps the icon of each box.
class IconDialogs : public ScriptedDialogs {
public:
    QList<Icon> icons;
    void inform(const QString &title, const QString &text, Icon icon = Icon::None,
                Done done = {}) override {
        icons.append(icon);
        ScriptedDialogs::inform(title, text, icon, std::move(done));
    }
};

const QString incorrect = QStringLiteral("Username or Password is incorrect. Please try again");

} // namespace

class TestFrmPasswordAuth : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void opensAsDesigned();
    void exitApplicationChecks_data();
    void exitApplicationChecks();
    void wrongPasswordClearsBothBoxes_data();
    void wrongPasswordClearsBothBoxes();
    void accessCodeExits();
    void cancelWithdrawsTheAuthorisation();
    void activationFillsTheCodeAndExits();
    void eachActivationExitsAgain();
    void escapeLeavesTheWindowOpen();
    void returnSubmits();
    void setupPasswordIsAskedForAndAloneAccepted();
    void withoutTheUsernameBoxThePasswordAloneIsAsked();
    void withoutTheUsernameBoxActivationStillExits();

private:
    template <typename T> T *control(const char *name) const {
        return requireChild<T>(m_window.get(), name);
    }
    QLineEdit *user() const { return control<QLineEdit>("txtUsername"); }
    QLineEdit *password() const { return control<QLineEdit>("txtPassword"); }
    void makeWindow(bool fillOnActivate);
    void createWindow();
    void submit(const QString &userName, const QString &passwordText);

    // What the program keeps of the exit, set as the program sets it.
    struct {
        bool exitConfirmed = false;
        bool exitAuthorised = false;
    } m_state;
    IconDialogs m_dialogs;
    int m_endProgramCalls = 0;
    std::unique_ptr<frmPasswordAuth> m_window;
};

void TestFrmPasswordAuth::init() {
    m_state = {};
    m_dialogs = IconDialogs{};
    m_endProgramCalls = 0;
}

void TestFrmPasswordAuth::cleanup() {
    m_window.reset();
}

// Approval is heard as the program hears it; the window is left open, to see that it does
// not close itself.
void TestFrmPasswordAuth::createWindow() {
    m_window = std::make_unique<frmPasswordAuth>(m_dialogs);
    connect(m_window.get(), &frmPasswordAuth::exitApproved, this, [this] {
        m_state.exitConfirmed = m_state.exitAuthorised = true;
        ++m_endProgramCalls;
    });
    connect(m_window.get(), &frmPasswordAuth::exitWithdrawn, this,
            [this] { m_state.exitAuthorised = false; });
}

void TestFrmPasswordAuth::makeWindow(bool fillOnActivate) {
    createWindow();
    m_window->setFillOnActivate(fillOnActivate);
    m_window->open();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
}

void TestFrmPasswordAuth::submit(const QString &userName, const QString &passwordText) {
    user()->setText(userName);
    password()->setText(passwordText);
    QTest::mouseClick(control<QPushButton>("Command1"), Qt::LeftButton);
}

void TestFrmPasswordAuth::opensAsDesigned() {
    makeWindow(false);
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Authentication"));
    QCOMPARE(control<QLabel>("Label1")->text(), QStringLiteral("Username"));
    QCOMPARE(control<QLabel>("Label2")->text(), QStringLiteral("Password"));
    QVERIFY(user()->text().isEmpty());
    QVERIFY(password()->text().isEmpty());
    QCOMPARE(user()->echoMode(), QLineEdit::Normal);
    QCOMPARE(password()->echoMode(), QLineEdit::Password);
    QCOMPARE(control<QPushButton>("Command1")->text(), QStringLiteral("Exit Application"));
    QCOMPARE(control<QPushButton>("Command2")->text(), QStringLiteral("Cancel"));
    QCOMPARE(m_endProgramCalls, 0);
    QTest::keyClicks(user(), QStringLiteral("lab"));
    QTest::keyClicks(password(), QStringLiteral("Vimb"));
    saveScreenshot(m_window.get(), QStringLiteral("frmPasswordAuth"));
}

void TestFrmPasswordAuth::exitApplicationChecks_data() {
    QTest::addColumn<QString>("userName");
    QTest::addColumn<QString>("passwordText");
    QTest::addColumn<QString>("message");

    QTest::newRow("both empty") << ""
                                << ""
                                << "Please enter Username";
    QTest::newRow("empty user name, correct password") << ""
                                                       << "Vimb"
                                                       << "Please enter Username";
    QTest::newRow("empty password") << "lab"
                                    << ""
                                    << "Please enter Password";
}

// A missing box is asked for; the password is not checked and nothing is cleared.
void TestFrmPasswordAuth::exitApplicationChecks() {
    QFETCH(QString, userName);
    QFETCH(QString, passwordText);
    QFETCH(QString, message);
    makeWindow(false);

    submit(userName, passwordText);
    QCOMPARE(m_dialogs.shown.size(), 1);
    QCOMPARE(m_dialogs.shown.first().title, programTitle());
    QCOMPARE(m_dialogs.shown.first().text, message);
    QCOMPARE(m_dialogs.icons.first(), Dialogs::Icon::None);
    QVERIFY(m_window->exitUserNameEntered().isEmpty());
    QVERIFY(m_window->exitPassword().isEmpty());
    QVERIFY(!m_state.exitAuthorised);
    QVERIFY(!m_state.exitConfirmed);
    QCOMPARE(m_endProgramCalls, 0);
    QCOMPARE(user()->text(), userName);
    QCOMPARE(password()->text(), passwordText);
    QVERIFY(m_window->isVisible());
}

void TestFrmPasswordAuth::wrongPasswordClearsBothBoxes_data() {
    QTest::addColumn<QString>("passwordText");

    QTest::newRow("another word") << "secret";
    QTest::newRow("code in lower case") << "vimb";
    QTest::newRow("code in upper case") << "VIMB";
    QTest::newRow("code with a trailing blank") << "Vimb ";
    QTest::newRow("code with a leading blank") << " Vimb";
}

void TestFrmPasswordAuth::wrongPasswordClearsBothBoxes() {
    QFETCH(QString, passwordText);
    makeWindow(false);
    control<QPushButton>("Command1")->setFocus();

    submit(QStringLiteral("lab"), passwordText);
    QCOMPARE(m_dialogs.shown.size(), 1);
    QCOMPARE(m_dialogs.shown.first().title, QStringLiteral("Password Incorrect"));
    QCOMPARE(m_dialogs.shown.first().text, incorrect);
    QCOMPARE(m_dialogs.icons.first(), Dialogs::Icon::Warning);
    QCOMPARE(m_window->exitPassword(), QStringLiteral("Vimb"));
    QCOMPARE(m_window->exitUserNameEntered(), QStringLiteral("lab"));
    QVERIFY(!m_window->exitPasswordMatches());
    QVERIFY(!m_state.exitAuthorised);
    QVERIFY(!m_state.exitConfirmed);
    QCOMPARE(m_endProgramCalls, 0);
    QVERIFY(user()->text().isEmpty());
    QVERIFY(password()->text().isEmpty());
    QCOMPARE(QApplication::focusWidget(), user());
    QVERIFY(m_window->isVisible());

    // There is no limit on the tries.
    submit(QStringLiteral("lab"), QStringLiteral("Vimb"));
    QCOMPARE(m_endProgramCalls, 1);
}

void TestFrmPasswordAuth::accessCodeExits() {
    makeWindow(false);
    submit(QStringLiteral("anyone at all"), QStringLiteral("Vimb"));
    QVERIFY(m_dialogs.shown.isEmpty());
    QCOMPARE(m_endProgramCalls, 1);
    QVERIFY(m_window->exitPasswordMatches());
    QVERIFY(m_state.exitConfirmed);
    QVERIFY(m_state.exitAuthorised);
    QCOMPARE(m_window->exitUserNameEntered(), QStringLiteral("anyone at all"));
    QVERIFY(m_window->isVisible()); // the program closes it
}

void TestFrmPasswordAuth::cancelWithdrawsTheAuthorisation() {
    makeWindow(false);
    submit(QStringLiteral("lab"), QStringLiteral("Vimb"));
    QVERIFY(m_state.exitAuthorised);
    QTest::mouseClick(control<QPushButton>("Command2"), Qt::LeftButton);
    QVERIFY(!m_state.exitAuthorised);
    QVERIFY(m_state.exitConfirmed);
    QVERIFY(!m_window->isVisible());
    QCOMPARE(m_endProgramCalls, 1);
}

void TestFrmPasswordAuth::activationFillsTheCodeAndExits() {
    createWindow();
    m_window->setExitPassword(QString()); // a setup without ExitPassword
    m_window->open();
    QTRY_COMPARE(m_endProgramCalls, 1);
    QCOMPARE(user()->text(), QStringLiteral("Vimb"));
    QCOMPARE(password()->text(), QStringLiteral("Vimb"));
    QCOMPARE(QApplication::focusWidget(), user());
    QVERIFY(m_state.exitConfirmed);
    QVERIFY(m_state.exitAuthorised);
    QVERIFY(m_dialogs.shown.isEmpty());
}

void TestFrmPasswordAuth::eachActivationExitsAgain() {
    makeWindow(true);
    QTRY_COMPARE(m_endProgramCalls, 1);
    QTest::qWait(50);
    QCOMPARE(m_endProgramCalls, 1);

    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(m_window.get(), &activate);
    QCOMPARE(m_endProgramCalls, 2);
}

void TestFrmPasswordAuth::escapeLeavesTheWindowOpen() {
    makeWindow(false);
    m_state.exitAuthorised = true;
    QTest::keyClick(user(), Qt::Key_Escape);
    QVERIFY(m_window->isVisible());
    QVERIFY(m_state.exitAuthorised);
}

void TestFrmPasswordAuth::returnSubmits() {
    makeWindow(false);
    QTest::keyClicks(user(), QStringLiteral("lab"));
    QTest::keyClicks(password(), QStringLiteral("Vim"));
    QTest::keyClick(password(), Qt::Key_Return);
    QCOMPARE(m_endProgramCalls, 0); // refused, as by Exit Application
    QCOMPARE(m_dialogs.shown.size(), 1);
    QTest::keyClicks(user(), QStringLiteral("lab"));
    QTest::keyClicks(password(), QStringLiteral("Vimb"));
    QTest::keyClick(password(), Qt::Key_Enter);
    QCOMPARE(m_endProgramCalls, 1);
}

// With the setup's ExitPassword the window fills in nothing, and only that password leaves.
void TestFrmPasswordAuth::setupPasswordIsAskedForAndAloneAccepted() {
    createWindow();
    m_window->setExitPassword(QStringLiteral("Lab 7"));
    m_window->open();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    QTest::qWait(20);
    QVERIFY(user()->text().isEmpty());
    QVERIFY(password()->text().isEmpty());
    QCOMPARE(QApplication::focusWidget(), user());
    QCOMPARE(m_endProgramCalls, 0);

    for (const QString &wrong :
         {QStringLiteral("Vimb"), QStringLiteral("lab 7"), QStringLiteral("Lab 7 ")}) {
        submit(QStringLiteral("lab"), wrong);
        QCOMPARE(m_dialogs.shown.last().title, QStringLiteral("Password Incorrect"));
        QCOMPARE(m_dialogs.shown.last().text, incorrect);
        QCOMPARE(m_dialogs.icons.last(), Dialogs::Icon::Warning);
        QVERIFY(password()->text().isEmpty());
    }
    QCOMPARE(m_endProgramCalls, 0);
    QVERIFY(!m_state.exitConfirmed);

    submit(QStringLiteral("lab"), QStringLiteral("Lab 7"));
    QCOMPARE(m_endProgramCalls, 1);
    QVERIFY(m_state.exitConfirmed);
    QVERIFY(m_state.exitAuthorised);
    QCOMPARE(m_dialogs.shown.size(), 3);
}

// ExitUsername = 0: the window has the password box alone, and Return or Exit Application
// checks it without asking for a name.
void TestFrmPasswordAuth::withoutTheUsernameBoxThePasswordAloneIsAsked() {
    createWindow();
    const int fullHeight = m_window->height();
    m_window->setExitPassword(QStringLiteral("Lab 7"));
    m_window->setAskUsername(false);
    m_window->open();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    QVERIFY(!user()->isVisible());
    QVERIFY(!control<QLabel>("Label1")->isVisible());
    QVERIFY(control<QLabel>("Label2")->isVisible());
    QVERIFY(m_window->height() < fullHeight);
    QTRY_COMPARE(QApplication::focusWidget(), password());

    QTest::keyClicks(password(), QStringLiteral("lab 7"));
    QTest::keyClick(password(), Qt::Key_Return);
    QCOMPARE(m_dialogs.shown.size(), 1);
    QCOMPARE(m_dialogs.shown.last().text, incorrect);
    QCOMPARE(QApplication::focusWidget(), password());
    QTest::keyClicks(password(), QStringLiteral("Lab 7"));
    QTest::keyClick(password(), Qt::Key_Return);
    QCOMPARE(m_endProgramCalls, 1);
    QVERIFY(m_window->exitUserNameEntered().isEmpty());
    QCOMPARE(m_dialogs.shown.size(), 1);
}

void TestFrmPasswordAuth::withoutTheUsernameBoxActivationStillExits() {
    createWindow();
    m_window->setAskUsername(false);
    m_window->open();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    QTRY_COMPARE(m_endProgramCalls, 1);
    QVERIFY(m_dialogs.shown.isEmpty());
}

QTEST_MAIN(TestFrmPasswordAuth)
#include "test_frmPasswordAuth.moc"
