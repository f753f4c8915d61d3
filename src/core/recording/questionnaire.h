#pragma once

#include <QString>

#include <optional>

// The closing questionnaire's three questions and the form of its answers, shared by the
// window that asks them and the report that shows what was answered. The questions are in
// the language installed (English in the report); the answers are kept as given.
namespace questionnaire {

inline constexpr int QuestionCount = 3;

// The program's own unit, which the questions name unless the setup's UnitName says another.
inline const QString standardUnit = QStringLiteral("Gallons");

// The first question names the goal band: `goal` in units, the band reaching `below` under
// it and `above` over it, in `unitName` (the setup's UnitName).
QString questionOneText(double goal, double below, double above,
                        const QString &unitName = standardUnit);
QString questionTwoText();
QString questionThreeText();
// The text of question `number` (1 to 3), empty for any other number.
QString questionText(int number, double goal, double below, double above,
                     const QString &unitName = standardUnit);

// What the first question's row holds: the rating box's text, ", ", then the reasons.
QString ratingAnswer(const QString &rating, const QString &reasons);

// The first question's stored answer taken apart again. A rating that is a number comes
// apart from its reasons; any other text (the box takes whatever is typed) leaves the
// whole answer as the reasons, so that nothing is lost.
struct RatedAnswer {
    std::optional<double> rating;
    QString reasons;
};
RatedAnswer splitRatingAnswer(const QString &stored);

} // namespace questionnaire
