#pragma once

#include "app/dialogs.h"
#include "setup/taskstate.h"

#include <QDialog>

class Database;
class QComboBox;
class QKeyEvent;
class QLabel;
class QPlainTextEdit;
class QPushButton;

// The closing questionnaire a person answers after the last period: a difficulty rating
// with its reasons and two questions on strategy. Submit checks the answers, writes one
// datQuestionnaire row per question and closes the window; closing it otherwise records
// nothing. Every control's objectName is its design name.
class Tasks1 : public QDialog {
    Q_OBJECT
public:
    Tasks1(TaskState &state, Dialogs &dialogs, Database &database, QWidget *parent = nullptr);

    void Command1_Click();
    // Writes the row of question index + 1 (index 0 to 2); false when nothing was written.
    bool recordAnswersForQuestions(int index);
    // True once Submit has passed its checks and recorded the answers.
    bool submitted() const { return m_submitted; }

    // The question 1 text for the goal band of `state`.
    static QString questionOneText(const TaskState &state);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void buildControls();
    QLabel *addLabel(const char *name, const QString &caption, const QRect &rect,
                     bool bold = false);
    QPlainTextEdit *addAnswerBox(const char *name, const QRect &rect);
    void ratingChanged();
    bool answersComplete();

    TaskState &m_state;
    Dialogs &m_dialogs;
    Database &m_database;
    bool m_submitted = false;
    bool m_recording = false;

    QComboBox *m_Combo1 = nullptr;
    QPlainTextEdit *m_Text1 = nullptr;
    QPlainTextEdit *m_Text2 = nullptr;
    QPlainTextEdit *m_Text3 = nullptr;
    QPushButton *m_Command1 = nullptr;
};
