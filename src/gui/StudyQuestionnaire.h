#pragma once

#include "core/common/dialogs.h"
#include "core/setup/questionnairefile.h"

#include <QDialog>
#include <QList>

class QButtonGroup;
class QKeyEvent;
class QPlainTextEdit;

// A study's own closing questionnaire, built from its Questionnaire.txt: a rating as a row of
// points FROM..TO between its two labels, a choice as one button per option, a text as a
// box. Submit asks again while any question is unanswered (a text of blanks alone counts as
// none), then hands on every answer and closes the window; closing it otherwise records
// nothing. Each question's control is named by the question's id.
class StudyQuestionnaire : public QDialog {
    Q_OBJECT
public:
    StudyQuestionnaire(const QList<StudyQuestion> &questions, Dialogs &dialogs,
                       QWidget *parent = nullptr);

    void submit();
    bool submitted() const { return m_submitted; }

signals:
    // One answer to record; the window is accepted right after the last.
    void answerGiven(const StudyAnswer &answer);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    struct Asked {
        StudyQuestion question;
        QButtonGroup *buttons = nullptr; // rating, choice
        QPlainTextEdit *box = nullptr;   // text
    };
    QWidget *controlFor(Asked &asked, QWidget *parent);
    QWidget *ratingControl(Asked &asked, QWidget *parent);
    QWidget *choiceControl(Asked &asked, QWidget *parent);
    // The answer given, or nothing while the question is unanswered.
    std::optional<StudyAnswer> answerOf(const Asked &asked) const;

    Dialogs &m_dialogs;
    QList<Asked> m_asked;
    bool m_submitted = false;
};
