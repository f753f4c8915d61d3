#include "web/webjson.h"

#include "core/common/numbers.h"
#include "core/setup/highlightcolours.h"

#include <QDir>
#include <QJsonArray>
#include <QUrl>

namespace {

QString colourName(Colour colour) {
    switch (colour) {
    case Colour::Red:
        return QStringLiteral("red");
    case Colour::Green:
        return QStringLiteral("green");
    case Colour::Blue:
        return QStringLiteral("blue");
    case Colour::Black:
        break;
    }
    return QStringLiteral("black");
}

QJsonObject boxJson(const FlowBox &box) {
    return {{QStringLiteral("back"), colourName(box.back)}, {QStringLiteral("text"), box.text}};
}

template <typename Values> QJsonArray numbersJson(const Values &values) {
    QJsonArray array;
    for (const auto value : values)
        array.append(double(value));
    return array;
}

QJsonArray textsJson(const QStringList &texts) {
    QJsonArray array;
    for (const QString &text : texts)
        array.append(text);
    return array;
}

QString kindName(StudyQuestion::Kind kind) {
    switch (kind) {
    case StudyQuestion::Kind::Rating:
        return QStringLiteral("rating");
    case StudyQuestion::Kind::Choice:
        return QStringLiteral("choice");
    case StudyQuestion::Kind::Number:
        return QStringLiteral("number");
    case StudyQuestion::Kind::Slider:
        return QStringLiteral("slider");
    case StudyQuestion::Kind::Multiple:
        return QStringLiteral("multiple");
    case StudyQuestion::Kind::Text:
        break;
    }
    return QStringLiteral("text");
}

constexpr qsizetype longestTextAnswer = 4000;

StudyAnswer unanswered(const StudyQuestion &question) {
    StudyAnswer answer;
    answer.questionId = question.id;
    answer.questionText = question.text;
    return answer;
}

QString questionnaireText(const Translation &language, const char *source) {
    return language.text("StudyQuestionnaire", source);
}

} // namespace

QJsonObject ViewJson(const TaskView &view) {
    const FillRect &fill = view.TankFill;
    QJsonArray water;
    for (const bool wet : view.pipeWater)
        water.append(wet);
    return {
        {QStringLiteral("pipeWater"), water},
        {QStringLiteral("usrIn"), boxJson(view.lblUsrInCon)},
        {QStringLiteral("usrOut"), boxJson(view.lblUsrOutCon)},
        {QStringLiteral("envIn"), boxJson(view.lblEnvInCon)},
        {QStringLiteral("envOut"), boxJson(view.lblEnvOutCon)},
        {QStringLiteral("status"), view.lblStatusValue},
        {QStringLiteral("period"), view.lblCurrTimePeriod},
        {QStringLiteral("periods"), view.lblTotTimePeriod},
        {QStringLiteral("envInFlow"), view.lblInFlowStatusEnvVal},
        {QStringLiteral("envOutFlow"), view.lblOutFlowStatusEnvVal},
        {QStringLiteral("userInFlow"), view.lblInFlowStatusVal},
        {QStringLiteral("userOutFlow"), view.lblOutFlowStatusVal},
        {QStringLiteral("goal"), view.lblGoalStatusVal},
        {QStringLiteral("amount"), view.lblAmountStatusVal},
        {QStringLiteral("backOrder"), view.lblBackOrderVal},
        {QStringLiteral("forwardOrder"), view.lblForwardOrderVal},
        {QStringLiteral("bonus"), view.lblCurrBonusVal},
        {QStringLiteral("totalBonus"), view.lblAccuBonusVal},
        {QStringLiteral("submitEnabled"), view.submitEnabled},
        {QStringLiteral("entryEnabled"), view.entryEnabled},
        {QStringLiteral("entryText"), textsJson({view.entryText[0], view.entryText[1]})},
        {QStringLiteral("entryRevision"), view.entryRevision},
        {QStringLiteral("fill"), QJsonObject{{QStringLiteral("left"), fill.left},
                                             {QStringLiteral("top"), fill.top},
                                             {QStringLiteral("width"), fill.width},
                                             {QStringLiteral("height"), fill.height},
                                             {QStringLiteral("visible"), fill.visible}}},
        {QStringLiteral("markY"), numbersJson(view.markY)},
        {QStringLiteral("markLabelTop"), numbersJson(view.lblMarkYTop)},
        {QStringLiteral("markCaptions"), textsJson(view.lblMarkYCaption)},
        {QStringLiteral("goalY"), double(view.lineGoalY)},
        {QStringLiteral("showTimePeriod"), view.showTimePeriod},
        {QStringLiteral("showOrderBalances"), view.showOrderBalances},
        {QStringLiteral("practice"), view.practice},
        {QStringLiteral("currency"), view.currency},
        {QStringLiteral("userInColour"), ColourCode(view.userHighlights.inflow)},
        {QStringLiteral("userOutColour"), ColourCode(view.userHighlights.outflow)},
    };
}

QJsonObject TaskCaptionsJson(const TaskView &view, const Translation &language) {
    const auto tr = [&language](const char *source) {
        return language.text("frmKrugel", source);
    };
    const QString unit = view.unitName == QLatin1String("Gallons") ? tr("Gallons") : view.unitName;
    return {
        {QStringLiteral("timePeriod"), tr("Time Period")},
        {QStringLiteral("of"), tr("of")},
        {QStringLiteral("envIn"), tr("Env InFlow(%1/Hour):").arg(unit)},
        {QStringLiteral("envOut"), tr("Env OutFlow(%1/Hour):").arg(unit)},
        {QStringLiteral("userIn"), tr("UserInFlow(%1/Hour):").arg(unit)},
        {QStringLiteral("userOut"), tr("UserOutFlow(%1/Hour):").arg(unit)},
        {QStringLiteral("goal"), tr("Goal(%1):").arg(unit)},
        {QStringLiteral("amount"), tr("Amount in Tank(%1):").arg(unit)},
        {QStringLiteral("backOrder"), tr("Back Order (Gallons):")},
        {QStringLiteral("forwardOrder"), tr("Dch Order (Gallons):")},
        {QStringLiteral("unit"), unit},
        {QStringLiteral("decision"), tr("Make Decision->")},
        {QStringLiteral("enterIn"), tr("Enter the Inflow(%1/Hour):").arg(unit)},
        {QStringLiteral("enterOut"), tr("Enter the Outflow(%1/Hour):").arg(unit)},
        {QStringLiteral("submit"), tr("Submit")},
        {QStringLiteral("bonus"), tr("Current bonus for the time period is:")},
        {QStringLiteral("totalBonus"),
         view.practice ? tr("Practice, not paid:") : tr("Total money to be paid at the end:")},
        {QStringLiteral("goalLine"), tr("Goal")},
        {QStringLiteral("userInflow"), tr("User Inflow")},
        {QStringLiteral("envInflow"), tr("Environment Inflow")},
        {QStringLiteral("userOutflow"), tr("User Outflow")},
        {QStringLiteral("envOutflow"), tr("Environment Outflow")},
        {QStringLiteral("practice"), tr("Practice")},
        {QStringLiteral("inflowNotNumber"),
         tr("The inflow must be a number. Please enter it again.")},
        {QStringLiteral("outflowNotNumber"),
         tr("The outflow must be a number. Please enter it again.")},
    };
}

// The page's references resolve against its own folder, served under /study/.
QJsonObject PageJson(const QString &dataDir, const StudyPage &page) {
    const QString folder = QDir(dataDir).relativeFilePath(page.folder);
    QString base = QStringLiteral("/study/");
    if (!folder.isEmpty() && folder != QLatin1String("."))
        base += QString::fromLatin1(QUrl::toPercentEncoding(folder, "/")) + QLatin1Char('/');
    return {{QStringLiteral("html"), page.html}, {QStringLiteral("base"), base}};
}

QJsonObject QuestionJson(const StudyQuestion &question) {
    return {
        {QStringLiteral("id"), question.id},
        {QStringLiteral("kind"), kindName(question.kind)},
        {QStringLiteral("text"), question.text},
        {QStringLiteral("from"), question.from},
        {QStringLiteral("to"), question.to},
        {QStringLiteral("minimum"), question.minimum},
        {QStringLiteral("maximum"), question.maximum},
        {QStringLiteral("low"), question.lowLabel},
        {QStringLiteral("high"), question.highLabel},
        {QStringLiteral("options"), textsJson(question.options)},
    };
}

std::optional<double> EntryNumber(const QString &typed) {
    QString text = typed;
    text.replace(QLatin1Char(','), QLatin1Char('.'));
    if (text.size() > 32)
        return std::nullopt;
    for (const QChar c : std::as_const(text)) {
        if (!c.isDigit() && c != QLatin1Char('.'))
            return std::nullopt;
        if (c.unicode() > 127)
            return std::nullopt;
    }
    if (text.isEmpty())
        return 0.0;
    return numbers::parseNumber(text);
}

namespace {

std::optional<int> wholeNumber(const QJsonValue &given) {
    if (given.isDouble()) {
        const double value = given.toDouble();
        return value == int(value) ? std::optional<int>(int(value)) : std::nullopt;
    }
    bool ok = false;
    const int value = given.toString().toInt(&ok);
    return ok ? std::optional<int>(value) : std::nullopt;
}

std::optional<StudyAnswer> pointAnswer(const StudyQuestion &question, const QJsonValue &given) {
    const std::optional<int> point = wholeNumber(given);
    if (!point || *point < question.from || *point > question.to)
        return std::nullopt;
    StudyAnswer answer = unanswered(question);
    answer.answer = QString::number(*point);
    answer.number = *point;
    return answer;
}

std::optional<StudyAnswer> choiceAnswer(const StudyQuestion &question, const QJsonValue &given) {
    const std::optional<int> option = wholeNumber(given);
    if (!option || *option < 1 || *option > question.options.size())
        return std::nullopt;
    StudyAnswer answer = unanswered(question);
    answer.answer = question.options.at(*option - 1);
    answer.number = *option;
    answer.options = {*option};
    return answer;
}

std::optional<StudyAnswer> multipleAnswer(const StudyQuestion &question, const QJsonValue &given) {
    if (!given.isArray())
        return std::nullopt;
    QList<int> chosen;
    for (const QJsonValue &value : given.toArray()) {
        const std::optional<int> option = wholeNumber(value);
        if (!option || *option < 1 || *option > question.options.size() || chosen.contains(*option))
            return std::nullopt;
        chosen.append(*option);
    }
    if (chosen.isEmpty())
        return std::nullopt;
    std::sort(chosen.begin(), chosen.end());
    StudyAnswer answer = unanswered(question);
    QStringList texts;
    for (const int option : std::as_const(chosen))
        texts.append(question.options.at(option - 1));
    answer.answer = texts.join(QStringLiteral("; "));
    answer.options = chosen;
    return answer;
}

} // namespace

std::optional<StudyAnswer> ReadAnswer(const StudyQuestion &question, const QJsonValue &given,
                                      int number, const Translation &language, QString *problem) {
    using Kind = StudyQuestion::Kind;
    const QString text = given.isString() ? given.toString() : QString();
    *problem = questionnaireText(language, "Please answer Question %1").arg(number);
    if (question.kind == Kind::Text) {
        if (text.trimmed().isEmpty() || text.size() > longestTextAnswer)
            return std::nullopt;
        StudyAnswer answer = unanswered(question);
        answer.answer = text;
        return answer;
    }
    if (question.kind == Kind::Number) {
        if (text.trimmed().isEmpty())
            return std::nullopt;
        QString typed = text.trimmed();
        typed.replace(QLatin1Char(','), QLatin1Char('.'));
        const std::optional<double> value =
            typed.size() <= 32 ? numbers::parseNumber(typed) : std::nullopt;
        if (!value || *value < question.minimum || *value > question.maximum) {
            *problem =
                questionnaireText(language, "Please give a number from %1 to %2 in Question %3")
                    .arg(numbers::general(question.minimum), numbers::general(question.maximum))
                    .arg(number);
            return std::nullopt;
        }
        StudyAnswer answer = unanswered(question);
        answer.answer = numbers::general(*value);
        answer.number = *value;
        return answer;
    }
    if (question.kind == Kind::Multiple)
        return multipleAnswer(question, given);
    if (question.kind == Kind::Choice)
        return choiceAnswer(question, given);
    return pointAnswer(question, given); // a rating or a slider
}
