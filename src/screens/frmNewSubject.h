#pragma once

#include "setup/taskstate.h"

#include <QDialog>
#include <QStringList>

class Database;
class QComboBox;
class QKeyEvent;
class QLineEdit;
class QPushButton;
class QRadioButton;

// The subject information form: age, gender and field of study of a person who is about to
// play. Begin writes the subject record and closes the form; Cancel closes it without writing.
// Every control's objectName is its design name.
class frmNewSubject : public QDialog {
    Q_OBJECT
public:
    // `versionText` is the login screen's version box text, written into the record.
    frmNewSubject(TaskState &state, Database &database, QString versionText,
                  QWidget *parent = nullptr);

    // True once Begin has written the subject record; the login screen reads it afterwards.
    bool Cleared = false;

    // Does nothing while Begin is disabled.
    void btnBegin_Click();
    void btnCancel_Click();

    // The 26 fields of study in alphabetical order, then "Other".
    static QStringList majors();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void buildControls();
    void UpdateBeginButton();
    bool filterAgeKey(const QKeyEvent *key);

    TaskState &m_state;
    Database &m_database;
    QString m_versionText;
    bool m_ageGiven = false;
    bool m_genderGiven = false;
    bool m_majorGiven = false;
    bool m_writing = false;

    QRadioButton *m_optMale = nullptr;
    QRadioButton *m_optFemale = nullptr;
    QLineEdit *m_txtAge = nullptr;
    QComboBox *m_cboMajor = nullptr;
    QPushButton *m_btnBegin = nullptr;
    QPushButton *m_btnCancel = nullptr;
};
