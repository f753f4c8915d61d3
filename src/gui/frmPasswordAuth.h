#pragma once

#include "core/common/dialogs.h"

#include <QDialog>

class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;

// The exit authentication that guards leaving the task early. An accepted password is said
// with exitApproved(): the program marks the exit as confirmed and authorised, closes the
// window and runs its end routine. Cancel says exitWithdrawn() and rejects the window. Each
// time the window becomes active it fills in the access code itself and performs Exit
// Application, so the exit goes ahead as soon as the window opens; unless the setup gives an
// exit password: then the window fills in nothing and only that password leaves. Every
// control's objectName is its design name.
class frmPasswordAuth : public QDialog {
    Q_OBJECT
public:
    explicit frmPasswordAuth(Dialogs &dialogs, QWidget *parent = nullptr);

    // Whether activation fills in the access code and exits (the program always does; tests
    // switch it off to try the checks by hand).
    void setFillOnActivate(bool fill) { m_fillOnActivate = fill; }
    // The setup's ExitPassword: when it is not empty, activation fills in nothing and only
    // this password, exactly, is accepted.
    void setExitPassword(const QString &password) { m_setupPassword = password; }
    // The setup's ExitUsername: false leaves the user-name box and its caption out, and the
    // window asks for the password alone (true, the default, shows both boxes).
    void setAskUsername(bool ask);

    // Exit Application.
    void Command1_Click();
    // Cancel.
    void Command2_Click();
    void CheckExitPassword();

    // The access code, the user name last submitted and whether the last password matched.
    const QString &exitPassword() const { return m_exitPassword; }
    const QString &exitUserNameEntered() const { return m_exitUserNameEntered; }
    bool exitPasswordMatches() const { return m_exitPasswordMatches; }

signals:
    // The password matched. The window stays open until the program closes it.
    void exitApproved();
    void exitWithdrawn();

protected:
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void buildControls();
    void fitToControls();
    QLineEdit *firstBox() const;
    void Form_Activate();
    void clearBoxes();

    Dialogs &m_dialogs;
    bool m_fillOnActivate = true;
    QString m_exitPassword;
    QString m_exitUserNameEntered;
    bool m_exitPasswordMatches = false;
    QString m_setupPassword;
    bool m_askUsername = true;

    QLabel *m_Label1 = nullptr;
    QLineEdit *m_txtUsername = nullptr;
    QLineEdit *m_txtPassword = nullptr;
    QPushButton *m_Command1 = nullptr;
    QPushButton *m_Command2 = nullptr;
};
