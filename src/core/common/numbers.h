#pragma once

#include <QDate>
#include <QString>
#include <QTime>

#include <cstdint>
#include <optional>
#include <string>

// The program's number and date texts. Each form has one function, used everywhere, and none
// depends on the machine's locale: the decimal separator is always a point and dates and
// times are always in the US forms, so every machine writes the same data file.
namespace numbers {

// Every form writes a value that is not finite as Inf, -Inf or NaN, never as a number.

// "00.000": at least two digits before the point, exactly three after (window figures).
QString figure(double value);
// "00.00", halves away from zero (amounts in the state message to a model).
QString stateAmount(double value);
// Shortest text with up to 15 significant digits and no zero before the point (0.5 -> ".5").
QString shortForm(double value);
// The data file's general form: up to 15 significant digits, no trailing zeros,
// exponent only for very large or small magnitudes (0, 5.05, 0.1, 4.5, 1E-05).
QString general(double value);
// Each form appended to a line being built, as plain characters: a model's pause-free run
// writes thousands of lines a second.
void appendGeneral(std::string &text, double value);
void appendFigure(std::string &text, double value);
void appendStateAmount(std::string &text, double value);
void appendUsShortDate(std::string &text, const QDate &date);
void appendUsLongTime(std::string &text, const QTime &time);
// A whole number in decimal digits, a minus sign before a negative one.
void appendWhole(std::string &text, int64_t value);
// The value as the data file records it: its general form read back, so that 15 significant
// digits drop what repeated sums add in the last bits (5 + 0.05 + 0.05 reads back as 5.1).
double asRecorded(double value);
// Money as the participant and the report read it: "$5.90".
QString money(double value);
// How a person's screens write money: the setup's currency symbol, before the figure or after
// it, and the person's language ("de"; empty or "en": English).
struct MoneyStyle {
    QString symbol = QStringLiteral("$");
    bool symbolAfter = false;
    QString language;
};
// Money in that style, with two decimals and no grouping: "$5.90" in English as money()
// writes it, "5,90 €" in German with the symbol after the figure.
QString money(double value, const MoneyStyle &style);
// The shortest text that reads back as exactly the same double (3, 2.5, 0.1, 1e-05).
QString roundTrip(double value);
// 12/7/2026
QString usShortDate(const QDate &date);
// 3:04:05 PM
QString usLongTime(const QTime &time);
// Two-digit 24-hour clock, "15:04:05".
QString clockTime(const QTime &time);

// The leading number of a text, as a model's values and the age box are read: blanks, tabs
// and line feeds are skipped, then an optional sign, digits, point and fraction, exponent
// (E or D), or an &H / &O prefix with hexadecimal / octal digits. No leading number reads 0;
// a number too large for a double reads as plus or minus infinity.
double leadingNumber(QStringView text);

// A whole text that is a number (blanks around it allowed), or nothing.
std::optional<double> parseNumber(const QString &text);
// Rounds to the nearest whole number, halves to even (2.5 -> 2, 3.5 -> 4).
double roundHalfEven(double value);

// floor(x * f + 0.5) / f: rounds to 1/f, halves upwards.
double RoundToFactor(double x, double f);

} // namespace numbers
