#pragma once

#include <QDialog>
#include <QStringList>

#include <optional>

class QComboBox;
class QKeyEvent;
class QLineEdit;
class QPushButton;
class QRadioButton;

// What a person gave on the subject form, as the record takes it.
struct SubjectEntries {
    QString majorText;
    QString genderText; // "Male" or "Female", or the option chosen from the setup's own
    QString ageText;
    std::optional<int> genderNumber; // the setup's option by its number from 1; else none
};

// The subject information form: age, gender and field of study of a person who is about to
// play. Begin hands the entries on to be recorded and closes the form; Cancel closes it with
// nothing recorded. Every control's objectName is its design name.
class frmNewSubject : public QDialog {
    Q_OBJECT
public:
    // The caption names the subject. Given `genderOptions` (the setup's GenderOptions), the
    // gender frame offers them in a list in place of Male and Female.
    explicit frmNewSubject(const QString &subjectName, const QStringList &genderOptions = {},
                           QWidget *parent = nullptr);

    // True once Begin has handed on the entries; the program reads it afterwards.
    bool Cleared = false;

    // Does nothing while Begin is disabled.
    void btnBegin_Click();
    void btnCancel_Click();

    // The 26 fields of study in alphabetical order, then "Other", in English.
    static QStringList majors();

signals:
    // Begin: the entries go to be recorded, and the form is accepted right after.
    void begun(const SubjectEntries &entries);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void buildControls();
    void addMajors();
    QString majorToRecord() const;
    void offerGenderOptions(const QStringList &options);
    void UpdateBeginButton();
    bool filterAgeKey(const QKeyEvent *key);

    bool m_ageGiven = false;
    bool m_genderGiven = false;
    bool m_majorGiven = false;

    QRadioButton *m_optMale = nullptr;
    QRadioButton *m_optFemale = nullptr;
    QComboBox *m_cboGender = nullptr; // only with the setup's own options
    QLineEdit *m_txtAge = nullptr;
    QComboBox *m_cboMajor = nullptr;
    QPushButton *m_btnBegin = nullptr;
    QPushButton *m_btnCancel = nullptr;
};
