#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// A study's questionnaire, Questionnaire.txt: one question a line,
//   Id | rating | FROM-TO; low label; high label | Text
//   Id | choice | option; option; ... | Text
//   Id | text | | Text
//   Id | number | MIN-MAX | Text                        (a whole or decimal number, MIN to MAX)
//   Id | slider | FROM-TO; low label; high label | Text  (a slider of whole steps)
//   Id | multiple | option; option; ... | Text          (check boxes: one or more options)
// in UTF-8, with "#" starting a comment line. The text is everything after the third "|", up
// to a last field "right:" if there is one. A question may so end with its right answer, for a
// comprehension check:
//   Id | choice | yes; no | Is the goal the line? | right: 1
// where a last field starting with "right:" names the right value: a choice's option by its
// number from 1 or by its text, a multiple's options so (all of them, separated by ";"), the
// value of a number, slider or rating, or a text's words (letter case and outer blanks aside).
// Without the file the program asks its own three questions.

struct StudyQuestion {
    enum class Kind { Rating, Choice, Text, Number, Slider, Multiple };
    int line = 0; // counted from 1
    QString id;
    Kind kind = Kind::Text;
    int from = 0; // a rating's or slider's scale, FROM to TO
    int to = 0;
    double minimum = 0; // a number's range
    double maximum = 0;
    QString lowLabel;
    QString highLabel;
    QStringList options; // a choice's or multiple's options, in the file's order
    QString text;

    // The right answer, when the line gives one: `rightText` as written, and what it names.
    QString rightText;
    std::optional<double> rightValue; // number, slider, rating
    QList<int> rightOptions;          // choice (one), multiple (all to be chosen); from 1
    bool hasRightAnswer() const { return !rightText.isEmpty(); }
};

struct QuestionnaireProblem {
    int line = 0; // 0 when it is about the whole file
    QString text;
};

struct QuestionnaireFile {
    static constexpr qint64 MaxBytes = 1024 * 1024;
    static constexpr int MaxQuestions = 100;
    static constexpr int MaxChoices = 20; // options of a choice, points of a rating scale

    QString path;
    bool present = false;
    QList<StudyQuestion> questions; // those read without a problem
    QList<QuestionnaireProblem> problems;
    bool usable() const { return present && problems.isEmpty(); }
};

// The columns an export of the answers gives each run before one column per question id: an
// id may not be one of them.
const QStringList &FixedAnswerColumns();

// The questions of a file's contents; every line that cannot be read is a problem.
QuestionnaireFile ParseQuestionnaire(const QByteArray &contents);
// The file at `path`; a missing file is no problem (present stays false).
QuestionnaireFile ReadQuestionnaireFile(const QString &path);

// Every problem as "Questionnaire.txt, line N: ..." (the path as given).
QStringList QuestionnaireProblemTexts(const QuestionnaireFile &file);
// The check's lines: the file, each question read, then its problems.
QString QuestionnaireCheckText(const QuestionnaireFile &file);

// The check of every file of questions a data folder's runs ask (QuestionnaireBefore.txt,
// Comprehension.txt and Questionnaire.txt, each with its translations): its own and each
// condition's (conditions/NAME/...); in a study with conditions, its own only when a condition
// has none. Empty text when there is none; `usable` turns false when any has a problem.
QString QuestionnaireFolderCheckText(const QString &dataDir, bool *usable);

// One answer, as datAnswer keeps it: the text given (a point, a number, the option or the
// options chosen, joined by "; ") and the language-independent values beside it: the number
// of a rating, slider or number, or a choice's option number from 1; `options` holds the
// numbers of the options chosen of a choice or a multiple. In a comprehension check `attempt`
// counts the Submits from 1 and `correct` says whether a question with a right answer was
// answered rightly; both are unset in any other questionnaire.
struct StudyAnswer {
    QString questionId;
    QString questionText;
    QString answer;
    std::optional<double> number;
    QList<int> options{};
    int attempt = 0;
    std::optional<bool> correct{};
};

// The chosen options' numbers as datAnswer keeps them: "1;3".
QString OptionNumbersText(const QList<int> &options);

// Whether `answer` is the right answer of `question`; true for a question without one.
bool IsRightAnswer(const StudyQuestion &question, const StudyAnswer &answer);
// The ids of the questions with a right answer that `answers` miss or answer wrongly, in the
// questions' order. An answer is found by its question's id.
QStringList JudgeComprehension(const QList<StudyQuestion> &questions,
                               const QList<StudyAnswer> &answers);
