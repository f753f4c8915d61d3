#include "core/engine/periodrunner.h"
#include "core/engine/steptimer.h"
#include "core/engine/tankgeometry.h"
#include "core/setup/scenario.h"
#include "gui/frmKrugel.h"
#include "support/screenshot.h"
#include "support/testsupport.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

// Pauses long enough that a test steps each phase by hand.
constexpr int longPause = 60000;

} // namespace

class TestFrmKrugel : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void loadShowsTheTaskAsDesigned();
    void periodPlaysPhaseByPhase();
    void inactiveEnvironmentShowsNothing();
    void userFlowsTakeTheSetupsHighlightColours();
    void keyFilter_data();
    void keyFilter();
    void deleteRemovesTheCharacterAfterTheCursor();
    void commaIsTheDecimalPoint();
    void goalCaptionStaysReadableOverTheOutflowBox();
    void enterPressesSubmit();
    void ctrlXAsksToLeaveAndTypesNothing();
    void closeBoxAsksToLeaveAndTheWindowStays();
    void nonNumberEntryIsReturnedToThePlayer();

private:
    QLabel *label(const char *name) const {
        return m_window->findChild<QLabel *>(QLatin1String(name));
    }
    QWidget *control(const QString &name) const { return m_window->findChild<QWidget *>(name); }
    StepTimer *timer(const char *name) const {
        return m_runner->findChild<StepTimer *>(QLatin1String(name));
    }
    // A step's timer is made when the step first waits.
    bool waiting(const char *name) const {
        StepTimer *t = timer(name);
        return t && t->isActive();
    }
    // Fires a timer that waits on a long pause now.
    void fire(const char *name) {
        StepTimer *t = timer(name);
        QVERIFY2(t && t->isActive(), name);
        t->start(0);
    }
    void makeWindow(const QMap<QString, QString> &setup = {}, int pause = longPause);

    std::unique_ptr<QTemporaryDir> m_folder;
    TaskState m_state;
    ScriptedDialogs m_dialogs;
    int m_linesWritten = 0;
    std::unique_ptr<PeriodRunner> m_runner;
    std::unique_ptr<frmKrugel> m_window;
};

void TestFrmKrugel::init() {
    m_folder = std::make_unique<QTemporaryDir>();
    m_state = TaskState{};
    m_dialogs = ScriptedDialogs{};
    m_linesWritten = 0;
}

void TestFrmKrugel::cleanup() {
    m_window.reset();
    m_runner.reset();
}

// The window as the program shows it: drawing the period runner's view, its Submit played by
// the runner.
void TestFrmKrugel::makeWindow(const QMap<QString, QString> &setup, int pause) {
    m_runner = runnerFor(m_state, m_folder->path(), setup, pause);
    m_runner->load();
    m_window = std::make_unique<frmKrugel>(m_runner->view(), m_dialogs);
    connect(m_runner.get(), &PeriodRunner::viewChanged, m_window.get(),
            [this] { m_window->showView(m_runner->view()); });
    connect(m_runner.get(), &PeriodRunner::periodClosed, this, [this] { ++m_linesWritten; });
    connect(m_window.get(), &frmKrugel::submitted, m_runner.get(),
            [this](const Decision &decision) { m_runner->submit(decision); });
    m_window->show();
}

void TestFrmKrugel::loadShowsTheTaskAsDesigned() {
    makeWindow();
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Fluxmere"));
    QCOMPARE(m_window->size(), QSize(1072, 684));
    QCOMPARE(
        label("lblStatusValue")->text(),
        QStringLiteral("Try to meet the goal line on the tank by adjusting Inflow and Outflow"));
    QCOMPARE(label("lblAmountStatusVal")->text(), QStringLiteral("02.000"));
    QCOMPARE(label("lblGoalStatusVal")->text(), QStringLiteral("04.000"));
    QCOMPARE(label("lblAccuBonusVal")->text(), QStringLiteral("05.000"));
    QCOMPARE(label("lblCurrTimePeriod")->text(), QStringLiteral("0"));
    QCOMPARE(label("lblTotTimePeriod")->text(), QStringLiteral("5"));
    QCOMPARE(label("lblInFlowStatusEnv")->text(), QStringLiteral("Env InFlow(Gallons/Hour):"));
    QCOMPARE(label("lblOutflow")->text(), QStringLiteral("Enter the Outflow(Gallons/Hour):"));
    QVERIFY(!label("lblBackOrderVal")->isVisible());
    QCOMPARE(m_window->inflowBox()->text(), QStringLiteral("0"));
    // Two units: a fill 717 twips high whose bottom edge lies 30 twips below the outline's.
    QCOMPARE(m_window->view().TankFill.height, 717);
    QCOMPARE(m_window->view().TankFill.top, 6375 - 717);
    QCOMPARE(control(QStringLiteral("TankFill"))->geometry(), QRect(192, 377, 624, 48));
    QCOMPARE(m_window->view().lineGoalY, 4911.0f);
    QCOMPARE(label("lblGoal")->geometry().top(), 327);
    QCOMPARE(label("lblMarkY(3)")->text(), QStringLiteral("4"));
    for (int pipe = 0; pipe < 4; ++pipe)
        QVERIFY(!control(QStringLiteral("Water0(%1)").arg(pipe))->isVisible());
    QVERIFY(control(QStringLiteral("PipeBorder(0)"))->isVisible());
    saveScreenshot(m_window.get(), QStringLiteral("frmKrugel-load"));
}

void TestFrmKrugel::periodPlaysPhaseByPhase() {
    makeWindow({{QStringLiteral("inFlowDelayValue"), QStringLiteral("1")}});
    m_state.EnvInflow[1] = 3;
    m_state.EnvOutflow[1] = 1;
    m_window->inflowBox()->setText(QStringLiteral("1.5"));
    m_window->outflowBox()->setText(QStringLiteral("0.5"));
    auto *submit = m_window->findChild<QPushButton *>(QStringLiteral("cmdNextTrial"));
    QTest::mouseClick(submit, Qt::LeftButton);
    QVERIFY(!submit->isEnabled());
    QCOMPARE(m_state.StartTime, QTime(15, 4, 5));

    // Environment phase: both environment pipes full and boxes lit, new amount drawn.
    QTRY_COMPARE(label("lblCurrTimePeriod")->text(), QStringLiteral("1"));
    QCOMPARE(label("lblStatusValue")->text(), QStringLiteral("Environment Action in Play"));
    QCOMPARE(label("lblEnvInCon")->text(), QStringLiteral("03.000"));
    QCOMPARE(label("lblEnvOutCon")->text(), QStringLiteral("01.000"));
    QCOMPARE(label("lblEnvInCon")->palette().color(QPalette::Window), QColor(255, 0, 0));
    QCOMPARE(label("lblEnvOutCon")->palette().color(QPalette::Window), QColor(0, 192, 0));
    QVERIFY(control(QStringLiteral("Water0(2)"))->isVisible());
    QVERIFY(control(QStringLiteral("Water0(3)"))->isVisible());
    QVERIFY(!control(QStringLiteral("Water0(0)"))->isVisible());
    QCOMPARE(m_window->view().TankFill.height, 1434); // 4 units
    QCOMPARE(m_window->view().TankFill.top, 4941);
    QVERIFY(!m_window->inflowBox()->isEnabled());
    QCOMPARE(label("lblAmountStatusVal")->text(), QStringLiteral("02.000")); // not yet refreshed
    saveScreenshot(m_window.get(), QStringLiteral("frmKrugel-environment-phase"));

    // The highlight ends; the pipes stay full until the user phase begins.
    fire("tmrEnvDelay");
    QTRY_VERIFY(waiting("tmrUserDelay"));
    QCOMPARE(label("lblEnvInCon")->text(), QString());
    QCOMPARE(label("lblEnvInCon")->palette().color(QPalette::Window), QColor(Qt::black));

    // User phase: the player's own flows of this period act (delay 1).
    QCOMPARE(label("lblStatusValue")->text(), QStringLiteral("User flow Action in Play"));
    QCOMPARE(label("lblUsrInCon")->text(), QStringLiteral("01.500"));
    QCOMPARE(label("lblUsrOutCon")->text(), QStringLiteral("00.500"));
    QVERIFY(control(QStringLiteral("Water0(0)"))->isVisible());
    QVERIFY(control(QStringLiteral("Water0(1)"))->isVisible());
    QVERIFY(!control(QStringLiteral("Water0(2)"))->isVisible());
    QCOMPARE(m_window->view().TankFill.height, 1434); // drawn at the end of the phase
    saveScreenshot(m_window.get(), QStringLiteral("frmKrugel-user-phase"));

    fire("tmrUserDelay");
    QTRY_COMPARE(m_linesWritten, 1);
    QCOMPARE(label("lblAmountStatusVal")->text(), QStringLiteral("05.000"));
    QCOMPARE(label("lblInFlowStatusEnvVal")->text(), QStringLiteral("03.000"));
    QCOMPARE(label("lblInFlowStatusVal")->text(), QStringLiteral("01.500"));
    QCOMPARE(label("lblOutFlowStatusVal")->text(), QStringLiteral("00.500"));
    QCOMPARE(m_window->view().TankFill.height, 1792); // floor(5 * 358.5)
    QCOMPARE(label("lblCurrBonusVal")->text(), QStringLiteral("00.000"));
    QCOMPARE(label("lblStatusValue")->text(), QString());
    QCOMPARE(m_state.EndTime, QTime(15, 4, 5));
    for (int pipe = 0; pipe < 4; ++pipe)
        QVERIFY(!control(QStringLiteral("Water0(%1)").arg(pipe))->isVisible());
    QVERIFY(submit->isEnabled());
    QVERIFY(m_window->inflowBox()->isEnabled());
    QCOMPARE(m_window->inflowBox()->text(), QStringLiteral("0"));
    QCOMPARE(m_window->outflowBox()->text(), QStringLiteral("0"));
    QVERIFY(!m_runner->running());
    // The next decision can be typed at once: the inflow box has the focus, its "0" selected.
    QCOMPARE(m_window->focusWidget(), m_window->inflowBox());
    QTest::keyClicks(m_window->focusWidget(), QStringLiteral("7"));
    QCOMPARE(m_window->inflowBox()->text(), QStringLiteral("7"));
}

void TestFrmKrugel::inactiveEnvironmentShowsNothing() {
    makeWindow();
    m_state.EnvInflow[1] = -1;
    m_state.EnvOutflow[1] = -1;
    m_window->cmdNextTrial_Click();
    QTRY_COMPARE(label("lblCurrTimePeriod")->text(), QStringLiteral("1"));
    QCOMPARE(label("lblEnvInCon")->text(), QString());
    QVERIFY(!control(QStringLiteral("Water0(2)"))->isVisible());
    QCOMPARE(
        label("lblStatusValue")->text(),
        QStringLiteral("Try to meet the goal line on the tank by adjusting Inflow and Outflow"));
    fire("tmrEnvDelay");
    // Decisions of 0 do not act: nothing is due.
    QTRY_VERIFY(waiting("tmrUserDelay"));
    QCOMPARE(label("lblStatusValue")->text(),
             QStringLiteral("Ah ha! Your previous request for Inflow and OutFlow cannot be met in "
                            "this time period!"));
    QVERIFY(!control(QStringLiteral("Water0(0)"))->isVisible());
    fire("tmrUserDelay");
    QTRY_COMPARE(m_linesWritten, 1);
    QCOMPARE(label("lblAmountStatusVal")->text(), QStringLiteral("02.000"));
}

// Only the user's flows change colour: the environment's inflow keeps its red.
void TestFrmKrugel::userFlowsTakeTheSetupsHighlightColours() {
    makeWindow({{QStringLiteral("HighlightColours"), QStringLiteral("Blue, #e69f00")}});
    QCOMPARE(label("lblInFlowStatusVal")->palette().color(QPalette::WindowText),
             QColor(0x00, 0x72, 0xB2));
    QCOMPARE(label("lblOutFlowStatusVal")->palette().color(QPalette::WindowText),
             QColor(0xE6, 0x9F, 0x00));
    m_state.EnvInflow[1] = 3;
    m_window->inflowBox()->setText(QStringLiteral("1"));
    m_window->cmdNextTrial_Click();
    QTRY_COMPARE(label("lblEnvInCon")->text(), QStringLiteral("03.000"));
    QCOMPARE(label("lblEnvInCon")->palette().color(QPalette::Window), QColor(255, 0, 0));
    fire("tmrEnvDelay");
    QTRY_COMPARE(label("lblUsrInCon")->text(), QStringLiteral("01.000"));
    QCOMPARE(label("lblUsrInCon")->palette().color(QPalette::Window), QColor(0x00, 0x72, 0xB2));
    // Its figure turns white to stay readable on the dark blue; the red box's stays black.
    QCOMPARE(label("lblUsrInCon")->palette().color(QPalette::WindowText), QColor(Qt::white));
    QCOMPARE(label("lblEnvInCon")->palette().color(QPalette::WindowText), QColor(Qt::black));
    saveScreenshot(m_window.get(), QStringLiteral("frmKrugel-highlight-colours"));
}

void TestFrmKrugel::keyFilter_data() {
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("after");
    QTest::newRow("leading zero dropped") << ""
                                          << "0"
                                          << "";
    QTest::newRow("digit replaces a lone zero") << "0"
                                                << "5"
                                                << "5";
    QTest::newRow("point replaces a lone zero") << "0"
                                                << "."
                                                << ".";
    QTest::newRow("decimal number") << ""
                                    << "12.5"
                                    << "12.5";
    QTest::newRow("zero after a digit kept") << "1"
                                             << "0"
                                             << "10";
    QTest::newRow("letters dropped") << "1"
                                     << "abc"
                                     << "1";
    QTest::newRow("signs dropped") << "1"
                                   << "-+"
                                   << "1";
    QTest::newRow("slash and space dropped") << "1"
                                             << "/ "
                                             << "1";
    QTest::newRow("second point let through") << "1.2"
                                              << "."
                                              << "1.2.";
    QTest::newRow("comma replaces a lone zero as the point") << "0"
                                                             << ","
                                                             << ".";
}

void TestFrmKrugel::keyFilter() {
    QFETCH(QString, before);
    QFETCH(QString, typed);
    QFETCH(QString, after);
    makeWindow();
    QLineEdit *box = m_window->outflowBox();
    box->setText(before);
    box->setFocus();
    QTest::keyClicks(box, typed);
    QCOMPARE(box->text(), after);
}

void TestFrmKrugel::deleteRemovesTheCharacterAfterTheCursor() {
    makeWindow();
    QLineEdit *box = m_window->inflowBox();
    box->setText(QStringLiteral("125"));
    box->setCursorPosition(1);
    QTest::keyClick(box, Qt::Key_Delete);
    QCOMPARE(box->text(), QStringLiteral("15"));
}

void TestFrmKrugel::commaIsTheDecimalPoint() {
    makeWindow({}, 1);
    QLineEdit *box = m_window->inflowBox();
    box->setFocus();
    box->selectAll();
    QTest::keyClicks(box, QStringLiteral("1,5"));
    QCOMPARE(box->text(), QStringLiteral("1.5"));
    m_window->cmdNextTrial_Click();
    QTRY_COMPARE(m_linesWritten, 1);
    QCOMPARE(m_state.UserInflow[1], 1.5);
}

// With a goal of 3 the caption's line runs through the black environment outflow box.
void TestFrmKrugel::goalCaptionStaysReadableOverTheOutflowBox() {
    makeWindow({{QStringLiteral("GoalLinePoisition"), QStringLiteral("3")}});
    const QRect caption = label("lblGoal")->geometry();
    const QRect overBox = caption.intersected(label("lblEnvOutCon")->geometry());
    QVERIFY(!overBox.isEmpty());
    const QImage picture = m_window->grab().toImage();
    int light = 0;
    for (int y = overBox.top(); y <= overBox.bottom(); ++y) {
        for (int x = overBox.left(); x <= overBox.right(); ++x)
            light += qGray(picture.pixel(x, y)) > 128 ? 1 : 0;
    }
    // Dark letters on a light ground: most of the part over the box is light.
    QVERIFY2(light > overBox.width() * overBox.height() / 2, qPrintable(QString::number(light)));
    saveScreenshot(m_window.get(), QStringLiteral("frmKrugel-goal-over-outflow-box"));
}

void TestFrmKrugel::enterPressesSubmit() {
    makeWindow({}, 1);
    QLineEdit *box = m_window->inflowBox();
    QApplication::setActiveWindow(m_window.get());
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    box->setFocus();
    box->setText(QStringLiteral("12"));
    QTest::keyClick(box, Qt::Key_Backspace);
    QCOMPARE(box->text(), QStringLiteral("1"));
    QTest::keyClick(box, Qt::Key_Tab);
    QVERIFY(m_window->outflowBox()->hasFocus());
    QTest::keyClick(m_window->outflowBox(), Qt::Key_Return);
    QTRY_COMPARE(m_linesWritten, 1);
    QCOMPARE(m_state.UserInflow[1], 1.0);
}

// The window asks nothing itself: the program confirms and authenticates.
void TestFrmKrugel::ctrlXAsksToLeaveAndTypesNothing() {
    makeWindow();
    QSignalSpy leave(m_window.get(), &frmKrugel::leaveAsked);
    QLineEdit *box = m_window->inflowBox();
    box->setText(QStringLiteral("7"));
    box->selectAll();
    QTest::keyClick(box, Qt::Key_X, Qt::ControlModifier);
    QCOMPARE(leave.count(), 1);
    QCOMPARE(leave.first().first().toBool(), true);
    QCOMPARE(box->text(), QStringLiteral("7"));

    QTest::keyClick(m_window->findChild<QPushButton *>(QStringLiteral("cmdNextTrial")), Qt::Key_X,
                    Qt::ControlModifier);
    QCOMPARE(leave.count(), 2);
    QCOMPARE(leave.last().first().toBool(), true);
    QVERIFY(m_dialogs.shown.isEmpty());
    QVERIFY(m_window->isVisible());
}

void TestFrmKrugel::closeBoxAsksToLeaveAndTheWindowStays() {
    makeWindow();
    QSignalSpy leave(m_window.get(), &frmKrugel::leaveAsked);
    QVERIFY(!m_window->close());
    QCOMPARE(leave.count(), 1);
    QCOMPARE(leave.first().first().toBool(), false);
    QVERIFY(m_window->isVisible());
    QVERIFY(m_dialogs.shown.isEmpty());
}

void TestFrmKrugel::nonNumberEntryIsReturnedToThePlayer() {
    makeWindow({}, 1);
    m_window->inflowBox()->setText(QStringLiteral("1.2.3"));
    m_window->outflowBox()->setFocus();
    m_window->cmdNextTrial_Click();
    QCOMPARE(m_dialogs.shown.size(), 1);
    QCOMPARE(m_dialogs.shown[0].text,
             QStringLiteral("The inflow must be a number. Please enter it again."));
    QCOMPARE(m_window->inflowBox()->text(), QStringLiteral("1.2.3"));
    // Once the message is closed the box is the person's again, its text selected.
    QTRY_COMPARE(m_window->focusWidget(), m_window->inflowBox());
    QCOMPARE(m_window->inflowBox()->selectedText(), QStringLiteral("1.2.3"));
    QVERIFY(!m_runner->running());
    QTest::qWait(20);
    QCOMPARE(m_state.currentTrial, 0);
    QVERIFY(m_window->findChild<QPushButton *>(QStringLiteral("cmdNextTrial"))->isEnabled());

    m_window->inflowBox()->setText(QStringLiteral("."));
    m_window->cmdNextTrial_Click();
    QCOMPARE(m_dialogs.shown.size(), 2);
    m_window->inflowBox()->setText(QStringLiteral("3."));
    m_window->cmdNextTrial_Click();
    QTRY_COMPARE(m_linesWritten, 1);
    QCOMPARE(m_state.UserInflow[1], 3.0);
}

QTEST_MAIN(TestFrmKrugel)
#include "test_frmKrugel.moc"
