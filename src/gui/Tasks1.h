#pragma once

#include "core/common/dialogs.h"

#include <QDialog>

class QComboBox;
class QKeyEvent;
class QLabel;
class QPlainTextEdit;
class QPushButton;

// The closing questionnaire a person answers after the last period: a difficulty rating
// with its reasons and two questions on strategy. Submit checks the answers, hands on each
// answer to be recorded (one datQuestionnaire row per question) and closes the window;
// closing it otherwise records nothing. Every control's objectName is its design name.
class Tasks1 : public QDialog {
    Q_OBJECT
public:
    // `goal` is in units; the band reaches `below` under it and `above` over it; the first
    // question names them in `unitName`, the setup's UnitName.
    Tasks1(double goal, double below, double above, Dialogs &dialogs, QWidget *parent = nullptr,
           const QString &unitName = QStringLiteral("Gallons"));

    void Command1_Click();
    // Hands on the answer of question index + 1 (index 0 to 2).
    void recordAnswersForQuestions(int index);
    // True once Submit has passed its checks and handed on the answers.
    bool submitted() const { return m_submitted; }

signals:
    // One answer to record; the window is accepted right after the last.
    void answerGiven(int questionNumber, const QString &answer);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildControls();
    QLabel *addLabel(const char *name, const QString &caption, const QRect &rect,
                     bool bold = false);
    QPlainTextEdit *addAnswerBox(const char *name, const QRect &rect);
    void ratingChanged();
    bool answersComplete();

    Dialogs &m_dialogs;
    const QString m_ratingPlaceholder; // the rating box's text until a rating is given
    bool m_submitted = false;

    QComboBox *m_Combo1 = nullptr;
    QPlainTextEdit *m_Text1 = nullptr;
    QPlainTextEdit *m_Text2 = nullptr;
    QPlainTextEdit *m_Text3 = nullptr;
    QPushButton *m_Command1 = nullptr;
};
