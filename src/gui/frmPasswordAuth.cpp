#include "gui/frmPasswordAuth.h"

#include "gui/twips.h"

#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>

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
    buildControls();
    fitToControls();
    clearBoxes();
    connect(m_Command1, &QPushButton::clicked, this, &frmPasswordAuth::Command1_Click);
    connect(m_Command2, &QPushButton::clicked, this, &frmPasswordAuth::Command2_Click);
}

// The designed places, as a grid that grows with its captions: a translated caption is
// never cut off.
void frmPasswordAuth::buildControls() {
    const auto label = [this](const char *name, const QString &caption) {
        auto *control = new QLabel(caption, this);
        control->setObjectName(QLatin1String(name));
        return control;
    };
    const auto box = [this](const char *name) {
        auto *control = new QLineEdit(this);
        control->setObjectName(QLatin1String(name));
        control->setMinimumSize(px(3360), px(405));
        return control;
    };
    const auto button = [this](const char *name, const QString &caption, double width) {
        auto *control = new QPushButton(caption, this);
        control->setObjectName(QLatin1String(name));
        // A translated caption keeps some room on either side, as the designed ones have.
        control->setMinimumSize(std::max(px(width), control->sizeHint().width() + px(240)),
                                px(495));
        control->setAutoDefault(false);
        return control;
    };
    m_Label1 = label("Label1", tr("Username"));
    m_txtUsername = box("txtUsername");
    auto *passwordLabel = label("Label2", tr("Password"));
    m_txtPassword = box("txtPassword");
    m_txtPassword->setEchoMode(QLineEdit::Password);
    m_Command1 = button("Command1", tr("Exit Application"), 1935);
    m_Command2 = button("Command2", tr("Cancel"), 1455);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_Command1);
    buttons->addSpacing(px(210));
    buttons->addWidget(m_Command2);
    buttons->addStretch();
    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(px(240), px(240), px(240), px(240));
    grid->setHorizontalSpacing(px(105));
    grid->setVerticalSpacing(px(135));
    grid->addWidget(m_Label1, 0, 0);
    grid->addWidget(m_txtUsername, 0, 1);
    grid->addWidget(passwordLabel, 1, 0);
    grid->addWidget(m_txtPassword, 1, 1);
    grid->addItem(new QSpacerItem(0, px(120)), 2, 0);
    grid->addLayout(buttons, 3, 0, 1, 2);
}

void frmPasswordAuth::fitToControls() {
    layout()->activate();
    setFixedSize(sizeHint());
}

void frmPasswordAuth::setAskUsername(bool ask) {
    m_askUsername = ask;
    m_Label1->setVisible(ask);
    m_txtUsername->setVisible(ask);
    fitToControls();
}

QLineEdit *frmPasswordAuth::firstBox() const {
    return m_askUsername ? m_txtUsername : m_txtPassword;
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
    firstBox()->setFocus();
    if (!m_setupPassword.isEmpty())
        return; // the experimenter types the password
    if (m_askUsername)
        m_txtUsername->setText(accessCode);
    m_txtPassword->setText(accessCode);
    Command1_Click();
}

void frmPasswordAuth::Command1_Click() {
    if (m_askUsername && m_txtUsername->text().isEmpty()) {
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
    firstBox()->setFocus();
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
