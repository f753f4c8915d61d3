#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// A study's own closing questionnaire, Questionnaire.txt: one question a line,
//   Id | rating | FROM-TO; low label; high label | Text
//   Id | choice | option; option; ... | Text
//   Id | text | | Text
// in UTF-8, with "#" starting a comment line. The text is everything after the third "|".
// Without the file the program asks its own three questions.

struct StudyQuestion {
    enum class Kind { Rating, Choice, Text };
    int line = 0; // counted from 1
    QString id;
    Kind kind = Kind::Text;
    int from = 0; // a rating's scale, FROM to TO
    int to = 0;
    QString lowLabel;
    QString highLabel;
    QStringList options; // a choice's options, in the file's order
    QString text;
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

// The check of every Questionnaire.txt a data folder's runs ask: its own and each condition's
// (conditions/NAME/Questionnaire.txt); in a study with conditions, its own only when a
// condition has none. Empty text when there is none; `usable` turns false when any has a
// problem.
QString QuestionnaireFolderCheckText(const QString &dataDir, bool *usable);

// One answer, as datAnswer keeps it: the text given (a rating's point, a choice's option) and,
// for a rating, the point as a number.
struct StudyAnswer {
    QString questionId;
    QString questionText;
    QString answer;
    std::optional<double> number;
};
