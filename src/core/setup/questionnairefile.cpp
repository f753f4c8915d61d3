#include "core/setup/questionnairefile.h"

#include "core/setup/conditions.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QStringDecoder>

namespace {

using Kind = StudyQuestion::Kind;

QString kindName(Kind kind) {
    switch (kind) {
    case Kind::Rating:
        return QStringLiteral("rating");
    case Kind::Choice:
        return QStringLiteral("choice");
    case Kind::Text:
        break;
    }
    return QStringLiteral("text");
}

std::optional<Kind> kindOf(const QString &name) {
    for (const Kind kind : {Kind::Rating, Kind::Choice, Kind::Text}) {
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

// FROM-TO; low label; high label. Empty text when it reads, else what is wrong.
QString readRating(const QString &field, StudyQuestion &question) {
    const QStringList parts = trimmedParts(field, QLatin1Char(';'));
    if (parts.size() != 3)
        return QStringLiteral("a rating needs \"FROM-TO; low label; high label\", found \"%1\"")
            .arg(field);
    static const QRegularExpression scale(QStringLiteral("^(-?\\d{1,6})\\s*-\\s*(-?\\d{1,6})$"));
    const QRegularExpressionMatch match = scale.match(parts.at(0));
    if (!match.hasMatch())
        return QStringLiteral("the scale \"%1\" is not FROM-TO in whole numbers, as 1-7")
            .arg(parts.at(0));
    question.from = match.captured(1).toInt();
    question.to = match.captured(2).toInt();
    if (question.from >= question.to)
        return QStringLiteral("the scale %1 must rise: FROM below TO").arg(parts.at(0));
    if (question.to - question.from + 1 > QuestionnaireFile::MaxChoices)
        return QStringLiteral("the scale %1 has more than %2 points")
            .arg(parts.at(0))
            .arg(QuestionnaireFile::MaxChoices);
    question.lowLabel = parts.at(1);
    question.highLabel = parts.at(2);
    return {};
}

QString readChoice(const QString &field, StudyQuestion &question) {
    const QStringList options = trimmedParts(field, QLatin1Char(';'));
    if (options.size() < 2)
        return QStringLiteral("a choice needs two options or more, separated by \";\"");
    if (options.size() > QuestionnaireFile::MaxChoices)
        return QStringLiteral("a choice has at most %1 options").arg(QuestionnaireFile::MaxChoices);
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
        return QStringLiteral("the type \"%1\" is none of rating, choice, text").arg(fields.at(1));
    question.kind = *kind;
    qsizetype textStart = -1;
    for (int bar = 0; bar < 3; ++bar)
        textStart = line.indexOf(QLatin1Char('|'), textStart + 1);
    question.text = line.mid(textStart + 1).trimmed(); // a "|" in the text is kept
    if (question.text.isEmpty())
        return QStringLiteral("the question %1 has no text").arg(question.id);
    const QString &options = fields.at(2);
    switch (question.kind) {
    case Kind::Rating:
        return readRating(options, question);
    case Kind::Choice:
        return readChoice(options, question);
    case Kind::Text:
        break;
    }
    if (!options.isEmpty())
        return QStringLiteral("a text question takes no options: leave the third field empty");
    return {};
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
        if (question.kind == Kind::Rating)
            detail = QStringLiteral(" %1 to %2").arg(question.from).arg(question.to);
        else if (question.kind == Kind::Choice)
            detail = QStringLiteral(" of %1 options").arg(question.options.size());
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

QString QuestionnaireFolderCheckText(const QString &dataDir, bool *usable) {
    const QString fileName = QStringLiteral("Questionnaire.txt");
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
    QString text;
    for (const QString &path : paths) {
        const QuestionnaireFile file = ReadQuestionnaireFile(path);
        if (!file.present)
            continue;
        text += QLatin1Char('\n') + QuestionnaireCheckText(file);
        if (!file.usable())
            *usable = false;
    }
    return text;
}
