#include "core/recording/questionnaire.h"

#include "core/common/numbers.h"

#include <QCoreApplication>

namespace questionnaire {
namespace {

const QString ratingSeparator = QStringLiteral(", ");

} // namespace

QString questionOneText(double goal, double below, double above, const QString &unitName) {
    QString text = QCoreApplication::translate(
        "Tasks1", "How difficult was the present task of keeping the water level in the "
                  "tank between %1 Gallons and %2 Gallons? (Please rate on a 1 to 10 "
                  "scale with 10 as most difficult and 1 as least difficult and provide "
                  "any extra information on reasons for your rating)");
    // Another unit takes the place of the word, in the words the task window names it by.
    if (unitName != standardUnit)
        text.replace(QCoreApplication::translate("frmKrugel", "Gallons"), unitName);
    return text.arg(numbers::general(goal - below), numbers::general(goal + above));
}

QString questionTwoText() {
    return QCoreApplication::translate(
        "Tasks1", "What strategy did you follow to keep the number of people in the store as "
                  "close to the goal as possible? (Try to answer the question even if your "
                  "strategy did not work for you in the experiment). ");
}

QString questionThreeText() {
    return QCoreApplication::translate(
        "Tasks1", "Did you change your strategy at any stage in the experiment? If you did so, "
                  "can you specify what your changes to strategy were during the course of the "
                  "experiment?");
}

QString questionText(int number, double goal, double below, double above, const QString &unitName) {
    switch (number) {
    case 1:
        return questionOneText(goal, below, above, unitName);
    case 2:
        return questionTwoText();
    case 3:
        return questionThreeText();
    default:
        return {};
    }
}

QString ratingAnswer(const QString &rating, const QString &reasons) {
    return rating + ratingSeparator + reasons;
}

RatedAnswer splitRatingAnswer(const QString &stored) {
    const qsizetype separator = stored.indexOf(ratingSeparator);
    if (separator < 0)
        return {std::nullopt, stored};
    const std::optional<double> rating = numbers::parseNumber(stored.left(separator));
    if (!rating)
        return {std::nullopt, stored};
    return {rating, stored.mid(separator + ratingSeparator.size())};
}

} // namespace questionnaire
