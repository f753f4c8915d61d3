#include "gui/frmLogin.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>

frmLogin::frmLogin(QWidget *parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("frmLogin"));
    setWindowTitle(tr("Welcome"));
    auto *layout = new QGridLayout(this);
    auto *lblLogin = new QLabel(tr("Login: "), this);
    lblLogin->setObjectName(QStringLiteral("lblLogin"));
    m_txtName = new QLineEdit(this);
    m_txtName->setObjectName(QStringLiteral("txtName"));
    auto *lblVersion = new QLabel(tr("Version:"), this);
    lblVersion->setObjectName(QStringLiteral("lblVersion"));
    m_cboVersion = new QComboBox(this);
    m_cboVersion->setObjectName(QStringLiteral("cboVersion"));
    m_cboVersion->setEditable(true);
    m_lblLanguage = new QLabel(tr("Language:"), this);
    m_cboLanguage = new QComboBox(this);
    m_cboLanguage->setObjectName(QStringLiteral("cboLanguage"));
    m_lblLanguage->hide();
    m_cboLanguage->hide();
    m_cmdStart = new QPushButton(tr("Start"), this);
    m_cmdStart->setObjectName(QStringLiteral("cmdStart"));
    m_cmdQuit = new QPushButton(tr("Quit"), this);
    m_cmdQuit->setObjectName(QStringLiteral("cmdQuit"));
    // Enter is handled by the boxes themselves, never by a default button.
    m_cmdStart->setAutoDefault(false);
    m_cmdQuit->setAutoDefault(false);
    m_cmdStart->setEnabled(false);

    layout->addWidget(lblLogin, 0, 0);
    layout->addWidget(m_txtName, 0, 1, 1, 2);
    layout->addWidget(lblVersion, 1, 0);
    layout->addWidget(m_cboVersion, 1, 1, 1, 2);
    layout->addWidget(m_lblLanguage, 2, 0);
    layout->addWidget(m_cboLanguage, 2, 1, 1, 2);
    layout->addWidget(m_cmdStart, 3, 1);
    layout->addWidget(m_cmdQuit, 3, 2);
    setTabOrder(m_txtName, m_cboVersion);
    setTabOrder(m_cboVersion, m_cboLanguage);
    m_txtName->setFocus();

    connect(m_txtName, &QLineEdit::textChanged, this,
            [this](const QString &text) { m_cmdStart->setEnabled(!text.trimmed().isEmpty()); });
    connect(m_cmdStart, &QPushButton::clicked, this, &frmLogin::cmdStart_Click);
    connect(m_cmdQuit, &QPushButton::clicked, this, &frmLogin::cmdQuit_Click);
    m_txtName->installEventFilter(this);
    m_cboVersion->installEventFilter(this);
}

QString frmLogin::versionText() const {
    return m_cboVersion->currentText();
}

void frmLogin::setVersionChoices(const QStringList &choices) {
    m_cboVersion->clear();
    m_cboVersion->addItems(choices);
    m_cboVersion->setCurrentIndex(0);
}

void frmLogin::setLanguageChoices(const QStringList &codes) {
    m_cboLanguage->clear();
    for (const QString &code : codes) {
        const QString name = QLocale(code).nativeLanguageName();
        m_cboLanguage->addItem(name.isEmpty() ? code : name.left(1).toUpper() + name.mid(1), code);
    }
    m_lblLanguage->setVisible(codes.size() > 1);
    m_cboLanguage->setVisible(codes.size() > 1);
}

QString frmLogin::languageChoice() const {
    return m_cboLanguage->count() > 1 ? m_cboLanguage->currentData().toString() : QString();
}

// Leaving the version box selects the list's item equal to the typed text, ignoring case, or
// else its first item; an empty list leaves the text as typed.
void frmLogin::validateVersion() {
    if (m_cboVersion->count() == 0)
        return;
    const int match = m_cboVersion->findText(m_cboVersion->currentText(), Qt::MatchFixedString);
    m_cboVersion->setCurrentIndex(match >= 0 ? match : 0);
    m_cboVersion->setEditText(m_cboVersion->itemText(m_cboVersion->currentIndex()));
}

bool frmLogin::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() == QEvent::FocusOut && watched == m_cboVersion)
        validateVersion();
    if (event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        if (enter && m_cmdStart->isEnabled() && (watched == m_txtName || watched == m_cboVersion)) {
            cmdStart_Click();
            return true;
        }
        if (enter)
            return true;
    }
    return QDialog::eventFilter(watched, event);
}

void frmLogin::cmdStart_Click() {
    m_txtName->selectAll();
    m_txtName->setFocus();
    emit startPressed(m_txtName->text().trimmed());
}

void frmLogin::showAgain() {
    // Not open(): that makes the screen window-modal, and without a parent window it would
    // then block nothing.
    show();
    m_txtName->selectAll();
    m_txtName->setFocus();
}

void frmLogin::complete() {
    m_completed = true;
    hide();
}

void frmLogin::cmdQuit_Click() {
    emit quitPressed();
}

// Escape does not close the login screen; its close box means Quit.
void frmLogin::reject() {}

void frmLogin::closeEvent(QCloseEvent *event) {
    if (m_completed || !isVisible()) {
        event->accept();
        return;
    }
    event->ignore();
    cmdQuit_Click();
}
