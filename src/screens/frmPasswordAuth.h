#pragma once

#include "app/dialogs.h"
#include "setup/taskstate.h"

#include <QDialog>

#include <functional>

class QKeyEvent;
class QLineEdit;
class QPushButton;

// The exit authentication that guards leaving the task early. An accepted password marks
// the exit as confirmed and authorised and runs the end routine; Cancel withdraws the
// authorisation. Each time the window becomes active it fills in the access code itself
// and performs Exit Application, so the exit goes ahead as soon as the window opens.
// Every control's objectName is its design name.
class frmPasswordAuth : public QDialog {
    Q_OBJECT
public:
    // `endProgram` is the program's end routine; it returns while a model is connected.
    frmPasswordAuth(TaskState &state, Dialogs &dialogs, std::function<void()> endProgram,
                    QWidget *parent = nullptr);

    // Whether activation fills in the access code and exits (the program always does; tests
    // switch it off to try the checks by hand).
    void setFillOnActivate(bool fill) { m_fillOnActivate = fill; }

    // Exit Application.
    void Command1_Click();
    // Cancel.
    void Command2_Click();
    void CheckExitPassword();

protected:
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void buildControls();
    void Form_Activate();
    void clearBoxes();

    TaskState &m_state;
    Dialogs &m_dialogs;
    std::function<void()> m_endProgram;
    bool m_fillOnActivate = true;
    bool m_exiting = false;

    QLineEdit *m_txtUsername = nullptr;
    QLineEdit *m_txtPassword = nullptr;
    QPushButton *m_Command1 = nullptr;
    QPushButton *m_Command2 = nullptr;
};
