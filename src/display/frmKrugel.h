#pragma once

#include "app/dialogs.h"
#include "display/taskview.h"
#include "setup/taskstate.h"

#include <QTime>
#include <QWidget>

#include <array>
#include <functional>
#include <vector>

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class StepTimer;

// What the task window needs from the rest of the program.
struct KrugelHooks {
    std::function<void(const QString &request)> sendToModel; // "BETWEEN", "END_PROGRAM"
    std::function<bool()> modelLoggedIn;
    std::function<void()> writePeriodLine;
    std::function<void()> endProgram;
    // Shows the exit authentication modally; returns whether the exit was authorised.
    std::function<bool()> authenticateExit;
    std::function<QTime()> clock = [] {
        return QTime::currentTime();
    };
};

// The window in which the task is played: it shows the TaskView and sequences the steps of
// a period with one-shot timers. Every control's objectName is its design name; members
// of a control array are named with their index, as "Water0(2)".
class frmKrugel : public QWidget {
    Q_OBJECT
public:
    frmKrugel(TaskState &state, Dialogs &dialogs, KrugelHooks hooks, QWidget *parent = nullptr);

    // Shows the window, except in a model's BATCH run, where it works hidden.
    void showTask();

    // Submit: takes the entry boxes' decision. Called by the button, Enter and the model
    // connection; while a period is running it is held and played once that period has closed.
    void cmdNextTrial_Click();
    // Runs `action` now, or as soon as the running period has closed.
    void whenIdle(std::function<void()> action);
    bool periodRunning() const { return m_periodRunning; }
    // Stops the running period for good (the window is being discarded by a reset).
    void stopCycle();

    // The two entry boxes' texts, also while the window is hidden.
    enum class Entry { Inflow, Outflow };
    QString entryText(Entry entry) const;
    void setEntryText(Entry entry, const QString &text);
    QLineEdit *inflowBox() const { return m_txtUsrInflowVal; }
    QLineEdit *outflowBox() const { return m_txtUsrOutflowVal; }
    const TaskView &view() const { return m_view; }

signals:
    // The running period has closed (its line is written), or a decision played nothing.
    void periodClosed();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool event(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void buildControls();
    void buildStatusDisplay();
    void buildDecisionInput();
    void buildMoneyDisplay();
    void buildTankDrawing();
    QLabel *addLabel(const QString &name, const QString &caption, const QRect &rect,
                     double pointSize = 12);
    QFrame *addBox(const QString &name, const QRect &rect, const QColor &colour);
    void render();

    void onTimer1();
    void onEnvDelay();
    void onEnvMove();
    void onUserDelay();
    void onUserMove();
    void armStep(StepTimer *timer, int intervalMs);
    void finishPeriod();

    bool filterEntryKey(QLineEdit *box, QKeyEvent *key);
    enum class ExitAnswer { No, NotAuthorised, Authorised };
    ExitAnswer askToExit();
    QLineEdit *entryBox(Entry entry) const;
    bool entryIsNumber(Entry entry, const QString &flow);

    TaskState &m_state;
    Dialogs &m_dialogs;
    KrugelHooks m_hooks;
    TaskView m_view;
    bool m_periodRunning = false;
    bool m_renderPending = true;
    std::vector<std::function<void()>> m_heldActions;
    std::array<QString, 2> m_entryTexts; // the boxes' texts while the window is hidden

    QLineEdit *m_txtUsrInflowVal = nullptr;
    QLineEdit *m_txtUsrOutflowVal = nullptr;
    QPushButton *m_cmdNextTrial = nullptr;
    StepTimer *m_Timer1 = nullptr;
    QTimer *m_Timer2 = nullptr;
    StepTimer *m_tmrEnvDelay = nullptr;
    StepTimer *m_tmrEnvMv = nullptr;
    StepTimer *m_tmrUserDelay = nullptr;
    StepTimer *m_tmrUserMv = nullptr;
};
