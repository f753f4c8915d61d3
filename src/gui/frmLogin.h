#pragma once

#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The first window of a person's run: the participant's name and a version code. Start and
// Quit are said to the program, which loads the scenario and decides what follows.
class frmLogin : public QDialog {
    Q_OBJECT
public:
    explicit frmLogin(QWidget *parent = nullptr);

    // Start: the name, trimmed, goes to the program; the box keeps it, selected.
    void cmdStart_Click();
    void cmdQuit_Click();
    QLineEdit *nameBox() const { return m_txtName; }
    QString versionText() const;
    // Fills the version list (empty unless a study has conditions) and selects its first item.
    void setVersionChoices(const QStringList &choices);
    // Offers the person these languages (codes such as "de", each shown in its own name);
    // with fewer than two the box stays hidden.
    void setLanguageChoices(const QStringList &codes);
    // The code chosen; empty when no choice is offered.
    QString languageChoice() const;

    // Shows the screen again, as modal as it was shown first, with the previous name selected.
    void showAgain();
    // Start has completed: the screen closes without a Quit.
    void complete();

signals:
    void startPressed(const QString &name);
    void quitPressed();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void reject() override;

private:
    void validateVersion();

    bool m_completed = false;
    QLineEdit *m_txtName = nullptr;
    QComboBox *m_cboVersion = nullptr;
    QLabel *m_lblLanguage = nullptr;
    QComboBox *m_cboLanguage = nullptr;
    QPushButton *m_cmdStart = nullptr;
    QPushButton *m_cmdQuit = nullptr;
};
