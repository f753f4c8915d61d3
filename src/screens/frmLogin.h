#pragma once

#include <QDialog>

#include <functional>

class QComboBox;
class QLineEdit;
class QPushButton;
struct TaskState;

// What the login screen needs from start-up.
struct LoginHooks {
    std::function<bool()> modelLoggedIn;
    // Loads and checks the scenario and creates the order tables; false when the run
    // cannot start (the reason has been shown).
    std::function<bool()> loadScenario;
    // Shows the subject information form modally; true when Begin wrote the record.
    std::function<bool()> runSubjectForm;
    std::function<void()> endProgram;
};

// The first window of every run: the participant's name and a version code; Start loads
// the scenario and hands over to the subject form (a person) or straight to the task (a
// model that logged in over the network). Quit ends the program.
class frmLogin : public QDialog {
    Q_OBJECT
public:
    frmLogin(TaskState &state, LoginHooks hooks, QWidget *parent = nullptr);

    void cmdStart_Click();
    void cmdQuit_Click();
    QLineEdit *nameBox() const { return m_txtName; }
    QString versionText() const;

signals:
    // Start completed: start-up goes on to the task.
    void loginCompleted();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void reject() override;

private:
    void showAgain();

    TaskState &m_state;
    LoginHooks m_hooks;
    bool m_completed = false;
    QLineEdit *m_txtName = nullptr;
    QComboBox *m_cboVersion = nullptr;
    QPushButton *m_cmdStart = nullptr;
    QPushButton *m_cmdQuit = nullptr;
};
