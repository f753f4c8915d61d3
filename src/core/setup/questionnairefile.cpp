#include "core/setup/questionnairefile.h"

#include "core/common/language.h"

#include "core/common/numbers.h"
#include "core/setup/conditions.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QStringDecoder>

#include <algorithm>
#include <cmath>

namespace {

using Kind = StudyQuestion::Kind;

constexpr int MaxSliderSteps = 1000;

QString kindName(Kind kind) {
    switch (kind) {
    case Kind::Rating:
        return QStringLiteral("rating");
    case Kind::Choice:
        return QStringLiteral("choice");
    case Kind::Number:
        return QStringLiteral("number");
    case Kind::Slider:
        return QStringLiteral("slider");
    case Kind::Multiple:
        return QStringLiteral("multiple");
    case Kind::Text:
        break;
    }
    return QStringLiteral("text");
}

std::optional<Kind> kindOf(const QString &name) {
    for (const Kind kind :
         {Kind::Rating, Kind::Choice, Kind::Text, Kind::Number, Kind::Slider, Kind::Multiple}) {
        if (name.compare(kindName(kind), Qt::CaseInsensitive) == 0)
            return kind;
    }
    return std::nullopt;
}

QStringList trimmedParts(const QString &text, QChar separator) {
    QStringList parts = text.split(separator);
    for (QString &part : parts)
        part = part.trimmed();
    return parts;
}

// FROM-TO; low label; high label, of at most `maxPoints` points. Empty text when it reads,
// else what is wrong.
QString readScale(const QString &field, StudyQuestion &question, int maxPoints) {
    const QString kind = kindName(question.kind);
    const QStringList parts = trimmedParts(field, QLatin1Char(';'));
    if (parts.size() != 3)
        return QStringLiteral("a %1 needs \"FROM-TO; low label; high label\", found \"%2\"")
            .arg(kind, field);
    static const QRegularExpression scale(QStringLiteral("^(-?\\d{1,6})\\s*-\\s*(-?\\d{1,6})$"));
    const QRegularExpressionMatch match = scale.match(parts.at(0));
    if (!match.hasMatch())
        return QStringLiteral("the scale \"%1\" is not FROM-TO in whole numbers, as 1-7")
            .arg(parts.at(0));
    question.from = match.captured(1).toInt();
    question.to = match.captured(2).toInt();
    if (question.from >= question.to)
        return QStringLiteral("the scale %1 must rise: FROM below TO").arg(parts.at(0));
    if (question.to - question.from + 1 > maxPoints)
        return QStringLiteral("the scale %1 has more than %2 points")
            .arg(parts.at(0))
            .arg(maxPoints);
    question.lowLabel = parts.at(1);
    question.highLabel = parts.at(2);
    return {};
}

QString readOptions(const QString &field, StudyQuestion &question) {
    const QString kind = kindName(question.kind);
    const QStringList options = trimmedParts(field, QLatin1Char(';'));
    if (options.size() < 2)
        return QStringLiteral("a %1 needs two options or more, separated by \";\"").arg(kind);
    if (options.size() > QuestionnaireFile::MaxChoices)
        return QStringLiteral("a %1 has at most %2 options")
            .arg(kind)
            .arg(QuestionnaireFile::MaxChoices);
    QSet<QString> seen;
    for (const QString &option : options) {
        if (option.isEmpty())
            return QStringLiteral("an option is empty (two \";\" in a row, or one at an end)");
        if (seen.contains(option))
            return QStringLiteral("the option \"%1\" is given twice").arg(option);
        seen.insert(option);
    }
    question.options = options;
    return {};
}

// A decimal number as the file writes it: digits with "." before any decimals.
std::optional<double> fileNumber(const QString &text) {
    static const QRegularExpression pattern(QStringLiteral("^-?\\d{1,9}(\\.\\d{1,9})?$"));
    if (!pattern.match(text).hasMatch())
        return std::nullopt;
    return text.toDouble();
}

QString readRange(const QString &field, StudyQuestion &question) {
    static const QRegularExpression range(QStringLiteral("^(-?[\\d.]+)\\s*-\\s*(-?[\\d.]+)$"));
    const QRegularExpressionMatch match = range.match(field);
    const std::optional<double> minimum = fileNumber(match.captured(1));
    const std::optional<double> maximum = fileNumber(match.captured(2));
    if (!match.hasMatch() || !minimum || !maximum)
        return QStringLiteral("a number needs its range as MIN-MAX, as 0-100 or 0.5-2.5, found "
                              "\"%1\"")
            .arg(field);
    if (*minimum >= *maximum)
        return QStringLiteral("the range %1 must rise: MIN below MAX").arg(field);
    question.minimum = *minimum;
    question.maximum = *maximum;
    return {};
}

// The option a right answer names: its number from 1, or its text.
std::optional<int> namedOption(const StudyQuestion &question, const QString &name,
                               QString *problem) {
    qsizetype byText = question.options.indexOf(name);
    for (qsizetype index = 0; byText < 0 && index < question.options.size(); ++index) {
        if (question.options.at(index).compare(name, Qt::CaseInsensitive) == 0)
            byText = index;
    }
    static const QRegularExpression whole(QStringLiteral("^\\d{1,3}$"));
    const int byNumber = whole.match(name).hasMatch() ? name.toInt() : 0;
    const bool numbered = byNumber >= 1 && byNumber <= question.options.size();
    if (byText >= 0 && numbered && byText + 1 != byNumber) {
        *problem = QStringLiteral("right: %1 is both option %1 and the option \"%2\": name the "
                                  "option by its text as written")
                       .arg(name, question.options.at(byText));
        return std::nullopt;
    }
    if (byText >= 0)
        return static_cast<int>(byText) + 1;
    if (numbered)
        return byNumber;
    *problem = QStringLiteral("right: \"%1\" is neither an option's number (1 to %2) nor one "
                              "of the options")
                   .arg(name)
                   .arg(question.options.size());
    return std::nullopt;
}

QString readRightOptions(const QString &right, StudyQuestion &question) {
    const QStringList names = trimmedParts(right, QLatin1Char(';'));
    if (question.kind == Kind::Choice && names.size() != 1)
        return QStringLiteral("a choice has one right option, found \"%1\"").arg(right);
    for (const QString &name : names) {
        QString problem;
        const std::optional<int> option = namedOption(question, name, &problem);
        if (!option)
            return problem;
        if (question.rightOptions.contains(*option))
            return QStringLiteral("right: option %1 is named twice").arg(*option);
        question.rightOptions.append(*option);
    }
    std::sort(question.rightOptions.begin(), question.rightOptions.end());
    return {};
}

QString readRightValue(const QString &right, StudyQuestion &question) {
    const std::optional<double> value = fileNumber(right);
    const bool whole = question.kind != Kind::Number;
    const double low = whole ? question.from : question.minimum;
    const double high = whole ? question.to : question.maximum;
    if (!value || (whole && *value != std::floor(*value)) || *value < low || *value > high)
        return QStringLiteral("right: \"%1\" is not a %2 from %3 to %4")
            .arg(right, whole ? QStringLiteral("whole number") : QStringLiteral("number"),
                 numbers::general(low), numbers::general(high));
    question.rightValue = *value;
    return {};
}

// The right answer of a question whose kind and options are read.
QString readRight(const QString &right, StudyQuestion &question) {
    if (right.isEmpty())
        return QStringLiteral("\"right:\" names no answer");
    question.rightText = right;
    switch (question.kind) {
    case Kind::Choice:
    case Kind::Multiple:
        return readRightOptions(right, question);
    case Kind::Rating:
    case Kind::Slider:
    case Kind::Number:
        return readRightValue(right, question);
    case Kind::Text:
        break;
    }
    return {};
}

QString readOptionsField(const QString &options, StudyQuestion &question) {
    switch (question.kind) {
    case Kind::Rating:
        return readScale(options, question, QuestionnaireFile::MaxChoices);
    case Kind::Slider:
        return readScale(options, question, MaxSliderSteps + 1);
    case Kind::Choice:
    case Kind::Multiple:
        return readOptions(options, question);
    case Kind::Number:
        return readRange(options, question);
    case Kind::Text:
        break;
    }
    if (!options.isEmpty())
        return QStringLiteral("a text question takes no options: leave the third field empty");
    return {};
}

const QString rightPrefix = QStringLiteral("right:");

QString readLine(const QString &line, StudyQuestion &question, const QSet<QString> &ids) {
    const QStringList fields = trimmedParts(line, QLatin1Char('|'));
    if (fields.size() < 4)
        return QStringLiteral("a question has four fields separated by \"|\": Id | type | "
                              "options | Text");
    question.id = fields.at(0);
    static const QRegularExpression idPattern(QStringLiteral("^[A-Za-z][A-Za-z0-9_]{0,63}$"));
    if (!idPattern.match(question.id).hasMatch())
        return QStringLiteral("the id \"%1\" must start with a letter and hold only letters, "
                              "digits and \"_\" (64 at most)")
            .arg(question.id);
    if (ids.contains(question.id.toLower()))
        return QStringLiteral("the id %1 is given twice").arg(question.id);
    if (FixedAnswerColumns().contains(question.id, Qt::CaseInsensitive))
        return QStringLiteral("the id %1 is a column the answers export has already: choose "
                              "another")
            .arg(question.id);
    const std::optional<Kind> kind = kindOf(fields.at(1));
    if (!kind)
        return QStringLiteral("the type \"%1\" is none of rating, choice, text, number, slider, "
                              "multiple")
            .arg(fields.at(1));
    question.kind = *kind;
    qsizetype textStart = -1;
    for (int bar = 0; bar < 3; ++bar)
        textStart = line.indexOf(QLatin1Char('|'), textStart + 1);
    qsizetype textEnd = line.size();
    const bool withRight =
        fields.size() > 4 && fields.constLast().startsWith(rightPrefix, Qt::CaseInsensitive);
    if (withRight)
        textEnd = line.lastIndexOf(QLatin1Char('|'));
    question.text = line.mid(textStart + 1, textEnd - textStart - 1).trimmed(); // "|" kept
    if (question.text.isEmpty())
        return QStringLiteral("the question %1 has no text").arg(question.id);
    const QString problem = readOptionsField(fields.at(2), question);
    if (!problem.isEmpty() || !withRight)
        return problem;
    return readRight(fields.constLast().mid(rightPrefix.size()).trimmed(), question);
}

QString numberText(double value) {
    return numbers::general(value);
}

} // namespace

const QStringList &FixedAnswerColumns() {
    static const QStringList columns{QStringLiteral("RunId"),          QStringLiteral("Subject"),
                                     QStringLiteral("Q1Rating"),       QStringLiteral("Q1Reasons"),
                                     QStringLiteral("Q2Answer"),       QStringLiteral("Q3Answer"),
                                     QStringLiteral("StudyCondition"), QStringLiteral("Run"),
                                     QStringLiteral("Folder"),         QStringLiteral("Matched")};
    return columns;
}

QuestionnaireFile ParseQuestionnaire(const QByteArray &contents) {
    QuestionnaireFile file;
    file.present = true;
    QByteArray bytes = contents;
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    const QList<QByteArray> lines = bytes.split('\n');
    QSet<QString> ids;
    for (int index = 0; index < lines.size(); ++index) {
        const int number = index + 1;
        QStringDecoder utf8(QStringDecoder::Utf8);
        const QString line = QString(utf8.decode(lines.at(index))).trimmed();
        if (utf8.hasError()) {
            file.problems.append({number, QStringLiteral("not UTF-8: save the file as UTF-8")});
            continue;
        }
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        StudyQuestion question;
        question.line = number;
        const QString problem = readLine(line, question, ids);
        if (!problem.isEmpty()) {
            file.problems.append({number, problem});
            continue;
        }
        if (file.questions.size() == QuestionnaireFile::MaxQuestions) {
            file.problems.append(
                {number,
                 QStringLiteral("more than %1 questions").arg(QuestionnaireFile::MaxQuestions)});
            break;
        }
        ids.insert(question.id.toLower());
        file.questions.append(question);
    }
    if (file.questions.isEmpty() && file.problems.isEmpty())
        file.problems.append({0, QStringLiteral("no question: the file holds only comments and "
                                                "blank lines")});
    return file;
}

QuestionnaireFile ReadQuestionnaireFile(const QString &path) {
    QuestionnaireFile file;
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink()) {
        file.path = path;
        return file;
    }
    QFile input(path);
    if (!info.isFile() || info.size() > QuestionnaireFile::MaxBytes ||
        !input.open(QIODevice::ReadOnly)) {
        file.path = path;
        file.present = true;
        file.problems.append(
            {0,
             QStringLiteral("cannot be read: it must be a readable plain file of at most 1 MiB")});
        return file;
    }
    file = ParseQuestionnaire(input.read(QuestionnaireFile::MaxBytes));
    file.path = path;
    return file;
}

QStringList QuestionnaireProblemTexts(const QuestionnaireFile &file) {
    const QString name = QDir::toNativeSeparators(file.path);
    QStringList texts;
    for (const QuestionnaireProblem &problem : file.problems)
        texts.append(
            problem.line > 0
                ? QStringLiteral("%1, line %2: %3").arg(name).arg(problem.line).arg(problem.text)
                : QStringLiteral("%1: %2").arg(name, problem.text));
    return texts;
}

QString QuestionnaireCheckText(const QuestionnaireFile &file) {
    QStringList text = {
        QStringLiteral("Questionnaire file: %1").arg(QDir::toNativeSeparators(file.path)),
        QStringLiteral("Questions read: %1").arg(file.questions.size())};
    for (const StudyQuestion &question : file.questions) {
        QString detail;
        if (question.kind == Kind::Rating || question.kind == Kind::Slider)
            detail = QStringLiteral(" %1 to %2").arg(question.from).arg(question.to);
        else if (question.kind == Kind::Number)
            detail = QStringLiteral(" %1 to %2")
                         .arg(numberText(question.minimum), numberText(question.maximum));
        else if (question.kind == Kind::Choice || question.kind == Kind::Multiple)
            detail = QStringLiteral(" of %1 options").arg(question.options.size());
        if (question.hasRightAnswer())
            detail += QStringLiteral(", right: %1").arg(question.rightText);
        text.append(QStringLiteral("  line %1: %2, %3%4: %5")
                        .arg(question.line)
                        .arg(question.id, kindName(question.kind), detail, question.text));
    }
    if (file.problems.isEmpty()) {
        text.append(QStringLiteral("No problems: a person's run asks these questions."));
    } else {
        text.append(
            QStringLiteral("Problems (a person's Start is refused until they are mended):"));
        for (const QString &problem : QuestionnaireProblemTexts(file))
            text.append(QStringLiteral("  ") + problem);
    }
    return text.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

namespace {

// The files of `fileName` a data folder's runs ask, with their translations beside them.
QStringList questionnairePaths(const QString &dataDir, const QString &fileName) {
    const QString shared = StudyFilePath(dataDir, QString(), fileName);
    const QStringList conditions = ConditionNames(dataDir);
    // A study with conditions asks the data folder's questions only where a condition has none.
    QStringList paths;
    if (conditions.isEmpty())
        paths.append(shared);
    for (const QString &condition : conditions) {
        const QString path = StudyFilePath(dataDir, condition, fileName);
        if (path == shared && !paths.contains(shared))
            paths.prepend(shared);
        else if (!paths.contains(path))
            paths.append(path);
    }
    QStringList withTranslations;
    for (const QString &path : std::as_const(paths)) {
        withTranslations.append(path);
        for (const QString &language : AvailableLanguages()) {
            const QString translated = TranslatedStudyPath(path, language);
            if (translated != path)
                withTranslations.append(translated);
        }
    }
    return withTranslations;
}

} // namespace

QString QuestionnaireFolderCheckText(const QString &dataDir, bool *usable) {
    QString text;
    for (const char *name : {"QuestionnaireBefore.txt", "Comprehension.txt", "Questionnaire.txt"}) {
        for (const QString &path : questionnairePaths(dataDir, QLatin1String(name))) {
            const QuestionnaireFile file = ReadQuestionnaireFile(path);
            if (!file.present)
                continue;
            text += QLatin1Char('\n') + QuestionnaireCheckText(file);
            if (!file.usable())
                *usable = false;
        }
    }
    return text;
}

QString OptionNumbersText(const QList<int> &options) {
    QStringList numbers;
    for (const int option : options)
        numbers.append(QString::number(option));
    return numbers.join(QLatin1Char(';'));
}

bool IsRightAnswer(const StudyQuestion &question, const StudyAnswer &answer) {
    if (!question.hasRightAnswer())
        return true;
    switch (question.kind) {
    case Kind::Choice:
    case Kind::Multiple: {
        QList<int> chosen = answer.options;
        std::sort(chosen.begin(), chosen.end());
        return chosen == question.rightOptions;
    }
    case Kind::Rating:
    case Kind::Slider:
    case Kind::Number:
        // A typed decimal may differ from the file's in its last bit.
        return answer.number && question.rightValue &&
               std::abs(*answer.number - *question.rightValue) <=
                   1e-9 * std::max(1.0, std::abs(*question.rightValue));
    case Kind::Text:
        break;
    }
    return answer.answer.simplified().compare(question.rightText.simplified(),
                                              Qt::CaseInsensitive) == 0;
}

QStringList JudgeComprehension(const QList<StudyQuestion> &questions,
                               const QList<StudyAnswer> &answers) {
    QStringList wrong;
    for (const StudyQuestion &question : questions) {
        if (!question.hasRightAnswer())
            continue;
        const auto given =
            std::find_if(answers.cbegin(), answers.cend(), [&question](const StudyAnswer &answer) {
                return answer.questionId == question.id;
            });
        if (given == answers.cend() || !IsRightAnswer(question, *given))
            wrong.append(question.id);
    }
    return wrong;
}
