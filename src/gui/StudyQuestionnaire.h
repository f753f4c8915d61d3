#pragma once

#include "core/common/dialogs.h"
#include "core/setup/questionnairefile.h"

#include <QDialog>
#include <QList>
#include <QStringList>

class QButtonGroup;
class QCheckBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QSlider;

// What a questionnaire window is for: its title, a text above the questions, and whether it
// is a comprehension check.
struct QuestionnairePage {
    QString title;        // empty: "Questionnaire"
    QString intro;        // empty: none
    bool check = false;   // Submit judges the answers against the questions' right ones
    int firstAttempt = 1; // the attempt the first Submit counts as, in a check
};

// A questionnaire built from a list of questions (a study's Questionnaire.txt, or any other the
// caller read): a rating as a row of points FROM..TO between its two labels, a choice as one
// button per option, a text as a box, a number as a field for MIN..MAX, a slider between its
// labels, a multiple as one check box per option. Submit asks again while any question is
// unanswered (a text of blanks alone, a slider never touched and a multiple with nothing
// ticked count as none) or a number is out of its range, then hands on every answer and
// closes the window; closing it otherwise records nothing. Each question's control is named by
// the question's id.
//
// In a check, every Submit that passes those checks is an attempt: its answers are handed on,
// numbered with the attempt and judged, then `checked` gives the verdict. All right closes the
// window; otherwise it stays open saying which questions are wrong, for the person to try
// again, unless the caller closes it.
class StudyQuestionnaire : public QDialog {
    Q_OBJECT
public:
    StudyQuestionnaire(const QList<StudyQuestion> &questions, Dialogs &dialogs,
                       QWidget *parent = nullptr);
    StudyQuestionnaire(const QList<StudyQuestion> &questions, const QuestionnairePage &page,
                       Dialogs &dialogs, QWidget *parent = nullptr);

    void submit();
    // The answers were handed on and the window closed (in a check: all of them right).
    bool submitted() const { return m_submitted; }
    // The attempts a check has judged so far.
    int attempts() const { return m_attempts; }

signals:
    // One answer to record; the window is accepted right after the last (in a check, only when
    // all are right).
    void answerGiven(const StudyAnswer &answer);
    // A check's attempt, after its answers: the ids of the questions answered wrongly, in the
    // window's order; empty when all are right.
    void checked(const QList<StudyAnswer> &answers, const QStringList &wrongIds);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    struct Asked {
        StudyQuestion question;
        QLabel *caption = nullptr;
        QButtonGroup *buttons = nullptr; // rating, choice
        QPlainTextEdit *box = nullptr;   // text
        QLineEdit *field = nullptr;      // number
        QSlider *slider = nullptr;
        QList<QCheckBox *> ticks; // multiple
    };
    void build(const QList<StudyQuestion> &questions);
    void fitToScreen();
    QWidget *controlFor(Asked &asked, QWidget *parent);
    QWidget *ratingControl(Asked &asked, QWidget *parent);
    QWidget *choiceControl(Asked &asked, QWidget *parent);
    QWidget *numberControl(Asked &asked, QWidget *parent);
    QWidget *sliderControl(Asked &asked, QWidget *parent);
    QWidget *multipleControl(Asked &asked, QWidget *parent);
    // The answer given, or nothing while the question is unanswered.
    std::optional<StudyAnswer> answerOf(const Asked &asked) const;
    std::optional<StudyAnswer> numberAnswerOf(const Asked &asked, int questionNumber);
    // Every answer, or nothing after telling the person which one is missing.
    std::optional<QList<StudyAnswer>> collectAnswers();
    void judge(QList<StudyAnswer> answers);
    void showVerdict(const QStringList &wrongIds);

    Dialogs &m_dialogs;
    QuestionnairePage m_page;
    QList<Asked> m_asked;
    QLabel *m_verdict = nullptr;
    bool m_submitted = false;
    bool m_closed = false;
    int m_attempts = 0;
};
