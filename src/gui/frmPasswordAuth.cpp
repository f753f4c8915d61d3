#include "gui/frmPasswordAuth.h"

#include "gui/twips.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

// Compared exactly: case matters and nothing is trimmed.
const QString accessCode = QStringLiteral("Vimb");

} // namespace

frmPasswordAuth::frmPasswordAuth(Dialogs &dialogs, QWidget *parent)
    : QDialog(parent)
    , m_dialogs(dialogs) {
    setObjectName(QStringLiteral("frmPasswordAuth"));
    setWindowTitle(tr("Authentication"));
    setFont(designFont(10));
    setFixedSize(px(5160), px(2280));
    buildControls();
    clearBoxes();
    connect(m_Command1, &QPushButton::clicked, this, &frmPasswordAuth::Command1_Click);
    connect(m_Command2, &QPushButton::clicked, this, &frmPasswordAuth::Command2_Click);
}

void frmPasswordAuth::buildControls() {
    const auto label = [this](const char *name, const QString &caption, const QRect &rect) {
        auto *control = new QLabel(caption, this);
        control->setObjectName(QLatin1String(name));
        control->setGeometry(rect);
    };
    const auto box = [this](const char *name, const QRect &rect) {
        auto *control = new QLineEdit(this);
        control->setObjectName(QLatin1String(name));
        control->setGeometry(rect);
        return control;
    };
    const auto button = [this](const char *name, const QString &caption, const QRect &rect) {
        auto *control = new QPushButton(caption, this);
        control->setObjectName(QLatin1String(name));
        control->setGeometry(rect);
        control->setAutoDefault(false);
        return control;
    };
    label("Label1", tr("Username"), twipsRect(240, 300, 1215, 360));
    m_txtUsername = box("txtUsername", twipsRect(1560, 240, 3360, 405));
    label("Label2", tr("Password"), twipsRect(240, 840, 1215, 360));
    m_txtPassword = box("txtPassword", twipsRect(1560, 780, 3360, 405));
    m_txtPassword->setEchoMode(QLineEdit::Password);
    m_Command1 = button("Command1", tr("Exit Application"), twipsRect(840, 1500, 1935, 495));
    m_Command2 = button("Command2", tr("Cancel"), twipsRect(2985, 1500, 1455, 495));
}

void frmPasswordAuth::clearBoxes() {
    m_txtUsername->clear();
    m_txtPassword->clear();
}

bool frmPasswordAuth::event(QEvent *event) {
    const bool handled = QDialog::event(event);
    if (event->type() == QEvent::WindowActivate)
        Form_Activate();
    return handled;
}

void frmPasswordAuth::Form_Activate() {
    if (!m_fillOnActivate)
        return;
    m_txtUsername->setFocus();
    if (!m_setupPassword.isEmpty())
        return; // the experimenter types the password
    m_txtUsername->setText(accessCode);
    m_txtPassword->setText(accessCode);
    Command1_Click();
}

void frmPasswordAuth::Command1_Click() {
    if (m_txtUsername->text().isEmpty()) {
        m_dialogs.inform(programTitle(), tr("Please enter Username"));
        return;
    }
    if (m_txtPassword->text().isEmpty()) {
        m_dialogs.inform(programTitle(), tr("Please enter Password"));
        return;
    }
    CheckExitPassword();
    if (m_exitPasswordMatches) {
        emit exitApproved();
        return;
    }
    m_dialogs.inform(tr("Password Incorrect"),
                     tr("Username or Password is incorrect. Please try again"),
                     Dialogs::Icon::Warning);
    // Cleared behind the message: the user name box has the focus once the window is active
    // again.
    clearBoxes();
    m_txtUsername->setFocus();
}

void frmPasswordAuth::CheckExitPassword() {
    m_exitPassword = m_setupPassword.isEmpty() ? accessCode : m_setupPassword;
    m_exitUserNameEntered = m_txtUsername->text();
    m_exitPasswordMatches = m_txtPassword->text() == m_exitPassword;
}

void frmPasswordAuth::Command2_Click() {
    emit exitWithdrawn();
    reject();
}

void frmPasswordAuth::keyPressEvent(QKeyEvent *event) {
    // Escape would close the window without Cancel's effect: it does nothing. Return submits,
    // as Exit Application does (a wrong password is refused there).
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        Command1_Click();
        return;
    }
    QDialog::keyPressEvent(event);
}
