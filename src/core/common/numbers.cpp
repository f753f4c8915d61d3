#include "core/common/numbers.h"

#include <QLocale>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <iterator>
#include <limits>
#include <string>

namespace numbers {
namespace {

// The decimal digits of a value rounded to 15 significant digits, as the platform's
// conversions see a double: digits without leading zeros and the power of ten of the first.
// Plain characters: a model's pause-free run formats some thirty numbers a period.
struct Decimal {
    bool negative = false;
    std::string digits; // "" for zero
    int exponent = 0;   // value = 0.d1d2d3... * 10^(exponent + 1)
};

// Splits "d.ddde[+-]x" into its digits, without trailing zeros, and its power of ten.
void readScientific(const char *first, const char *last, Decimal &d) {
    d.negative = *first == '-';
    if (d.negative)
        ++first;
    const char *exponent = std::find(first, last, 'e');
    std::from_chars(exponent + (exponent[1] == '+' ? 2 : 1), last, d.exponent);
    char digits[32]; // at most 17 significant digits, and the point
    size_t count = 0;
    for (const char *c = first; c != exponent && count < sizeof digits; ++c) {
        if (*c != '.')
            digits[count++] = *c;
    }
    while (count > 0 && digits[count - 1] == '0')
        --count;
    d.digits.assign(digits, count);
}

Decimal toDecimal(double value) {
    Decimal d;
    if (value == 0.0 || !std::isfinite(value))
        return d;
    // Correctly rounded and independent of any locale, unlike printf, whose decimal point
    // follows the C library's numeric locale. The shortest text that reads back as the value
    // is quick to find; when it has at most 15 digits it is also the value rounded to 15,
    // except for the tiniest (subnormal) numbers, whose precision is lower.
    char text[32];
    auto end =
        std::to_chars(std::begin(text), std::end(text), value, std::chars_format::scientific);
    readScientific(text, end.ptr, d);
    if (d.digits.size() <= 15 && std::fabs(value) >= std::numeric_limits<double>::min())
        return d;
    d = Decimal{};
    end = std::to_chars(std::begin(text), std::end(text), value, std::chars_format::scientific, 14);
    readScientific(text, end.ptr, d);
    return d;
}

// Appends the decimal digits of a non-negative number, with at least `width` of them.
void appendNumber(std::string &text, int64_t number, int width = 1) {
    char digits[24];
    const char *end = std::to_chars(std::begin(digits), std::end(digits), number).ptr;
    const auto count = static_cast<int>(end - digits);
    if (count < width)
        text.append(static_cast<size_t>(width - count), '0');
    text.append(digits, static_cast<size_t>(count));
}

// Whole numbers below 10^15 (flows, orders and counts most often are) are written exactly
// by their digits: no search for their shortest decimal form is needed.
bool isWholeNumber(double value) {
    return std::fabs(value) < 1e15 && value == std::trunc(value);
}

// Appends the fixed-point text of the value with exactly `decimals` fraction digits,
// rounding the 15-digit decimal form half away from zero, and at least `intDigits` integer
// digits.
void appendFixed(std::string &text, double value, int decimals, int intDigits) {
    if (isWholeNumber(value)) {
        const auto whole = static_cast<int64_t>(value);
        if (whole < 0)
            text.push_back('-');
        appendNumber(text, whole < 0 ? -whole : whole, intDigits);
        if (decimals > 0)
            text.append(".").append(static_cast<size_t>(decimals), '0');
        return;
    }
    const Decimal d = toDecimal(value);
    const int keep = d.exponent + 1 + decimals; // digits of d.digits kept
    std::string whole;                          // digits of round(|value| * 10^decimals)
    if (!d.digits.empty() && keep >= 0) {
        whole = d.digits.substr(0, static_cast<size_t>(keep));
        whole.resize(static_cast<size_t>(keep), '0');
        const bool roundUp = static_cast<size_t>(keep) < d.digits.size() &&
                             d.digits[static_cast<size_t>(keep)] >= '5';
        if (roundUp) {
            auto i = whole.rbegin();
            for (; i != whole.rend() && *i == '9'; ++i)
                *i = '0';
            if (i == whole.rend())
                whole.insert(whole.begin(), '1');
            else
                ++*i;
        }
    }
    const bool isZero = whole.find_first_not_of('0') == std::string::npos;
    const auto width = static_cast<size_t>(decimals + intDigits);
    if (whole.size() < width)
        whole.insert(0, width - whole.size(), '0');
    if (d.negative && !isZero)
        text.push_back('-');
    const size_t integerDigits = whole.size() - static_cast<size_t>(decimals);
    text.append(whole, 0, integerDigits);
    if (decimals > 0)
        text.append(".").append(whole, integerDigits, std::string::npos);
}

QString latin1(const std::string &text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// A value that is not a number, or too large for a double, is never written as 0: a reader
// of the data file or of a state message must see it for what it is.
std::optional<QString> nonFiniteText(double value) {
    if (std::isnan(value))
        return QStringLiteral("NaN");
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("Inf") : QStringLiteral("-Inf");
    return std::nullopt;
}

} // namespace

void appendFigure(std::string &text, double value) {
    if (const auto nonFinite = nonFiniteText(value))
        text.append(nonFinite->toStdString());
    else
        appendFixed(text, value, 3, 2);
}

void appendStateAmount(std::string &text, double value) {
    if (const auto nonFinite = nonFiniteText(value))
        text.append(nonFinite->toStdString());
    else
        appendFixed(text, value, 2, 2);
}

QString figure(double value) {
    std::string text;
    appendFigure(text, value);
    return latin1(text);
}

QString stateAmount(double value) {
    std::string text;
    appendStateAmount(text, value);
    return latin1(text);
}

double asRecorded(double value) {
    if (isWholeNumber(value))
        return value == 0 ? 0.0 : value; // written exactly (a negative zero as 0)
    // Within these magnitudes the 15-digit text is read back alike by any correctly rounding
    // reader: the quick one, as a noisy run's every flow is recorded before it plays.
    const double magnitude = std::fabs(value);
    if (magnitude > 1e-300 && magnitude < 1e300) {
        char text[32];
        const auto end = std::to_chars(std::begin(text), std::end(text), value,
                                       std::chars_format::scientific, 14);
        double recorded = value;
        std::from_chars(text, end.ptr, recorded, std::chars_format::scientific);
        return recorded;
    }
    return parseNumber(general(value)).value_or(value);
}

QString money(double value) {
    return QStringLiteral("$") + QString::number(value, 'f', 2);
}

QString money(double value, const MoneyStyle &style) {
    const bool english = style.language.isEmpty() || style.language == QLatin1String("en");
    QLocale locale = english ? QLocale::c() : QLocale(style.language);
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    const QString figure = locale.toString(value, 'f', 2);
    return style.symbolAfter ? figure + QLatin1Char(' ') + style.symbol : style.symbol + figure;
}

QString roundTrip(double value) {
    if (const auto text = nonFiniteText(value))
        return *text;
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

void appendGeneral(std::string &text, double value) {
    if (const auto nonFinite = nonFiniteText(value)) {
        text.append(nonFinite->toStdString());
        return;
    }
    if (isWholeNumber(value)) {
        appendWhole(text, static_cast<int64_t>(value));
        return;
    }
    const Decimal d = toDecimal(value);
    if (d.digits.empty()) {
        text.push_back('0');
        return;
    }
    if (d.negative)
        text.push_back('-');
    if (d.exponent < -4 || d.exponent >= 15) {
        text.push_back(d.digits[0]);
        if (d.digits.size() > 1)
            text.append(".").append(d.digits, 1);
        text.append(d.exponent < 0 ? "E-" : "E+");
        appendNumber(text, std::abs(d.exponent), 2);
    } else if (d.exponent < 0) {
        text.append("0.").append(static_cast<size_t>(-d.exponent - 1), '0').append(d.digits);
    } else {
        const auto intDigits = static_cast<size_t>(d.exponent + 1);
        text.append(d.digits, 0, intDigits);
        if (d.digits.size() < intDigits)
            text.append(intDigits - d.digits.size(), '0');
        else if (d.digits.size() > intDigits)
            text.append(".").append(d.digits, intDigits);
    }
}

QString general(double value) {
    std::string text;
    appendGeneral(text, value);
    return latin1(text);
}

QString shortForm(double value) {
    QString text = general(value);
    if (text.startsWith(QStringLiteral("0.")))
        text.remove(0, 1);
    else if (text.startsWith(QStringLiteral("-0.")))
        text.remove(1, 1);
    return text;
}

void appendUsShortDate(std::string &text, const QDate &date) {
    appendNumber(text, date.month());
    text.push_back('/');
    appendNumber(text, date.day());
    text.push_back('/');
    appendNumber(text, date.year());
}

void appendUsLongTime(std::string &text, const QTime &time) {
    const int hour12 = time.hour() % 12 == 0 ? 12 : time.hour() % 12;
    appendNumber(text, hour12);
    text.push_back(':');
    appendNumber(text, time.minute(), 2);
    text.push_back(':');
    appendNumber(text, time.second(), 2);
    text.append(time.hour() < 12 ? " AM" : " PM");
}

QString usShortDate(const QDate &date) {
    std::string text;
    appendUsShortDate(text, date);
    return latin1(text);
}

QString usLongTime(const QTime &time) {
    std::string text;
    appendUsLongTime(text, time);
    return latin1(text);
}

void appendWhole(std::string &text, int64_t value) {
    char digits[24];
    const char *end = std::to_chars(std::begin(digits), std::end(digits), value).ptr;
    text.append(digits, static_cast<size_t>(end - digits));
}

QString clockTime(const QTime &time) {
    return time.toString(QStringLiteral("HH:mm:ss"));
}

double leadingNumber(QStringView text) {
    // Plain characters, blanks left out; any other character than ASCII stops the number.
    std::string s;
    s.reserve(static_cast<size_t>(text.size()));
    for (const QChar c : text) {
        if (c != QLatin1Char(' ') && c != QLatin1Char('\t') && c != QLatin1Char('\n'))
            s.push_back(c.unicode() < 128 ? static_cast<char>(c.unicode()) : '\x7f');
    }
    const auto size = static_cast<int>(s.size());
    const auto upper = [&s](int at) {
        return static_cast<char>(
            std::toupper(static_cast<unsigned char>(s[static_cast<size_t>(at)])));
    };
    if (size >= 2 && s[0] == '&') {
        const int base = upper(1) == 'H' ? 16 : upper(1) == 'O' ? 8 : 0;
        if (base == 0)
            return 0.0;
        double result = 0.0;
        for (int i = 2; i < size; ++i) {
            const char c = upper(i);
            const int digit = c >= '0' && c <= '9'   ? c - '0'
                              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                     : -1;
            if (digit < 0 || digit >= base)
                break;
            result = result * base + digit;
        }
        return result;
    }
    // The longest prefix of the form [sign] digits [. digits] [(E|D) [sign] digits].
    const auto isDigit = [&](int at) {
        return at < size && s[static_cast<size_t>(at)] >= '0' && s[static_cast<size_t>(at)] <= '9';
    };
    const auto isSign = [&](int at) {
        return at < size &&
               (s[static_cast<size_t>(at)] == '+' || s[static_cast<size_t>(at)] == '-');
    };
    int i = isSign(0) ? 1 : 0;
    int mantissaDigits = 0;
    for (; isDigit(i); ++i)
        ++mantissaDigits;
    if (i < size && s[static_cast<size_t>(i)] == '.') {
        for (++i; isDigit(i); ++i)
            ++mantissaDigits;
    }
    if (mantissaDigits == 0)
        return 0.0;
    int end = i;
    if (i < size && (upper(i) == 'E' || upper(i) == 'D')) {
        int j = isSign(i + 1) ? i + 2 : i + 1;
        if (isDigit(j)) {
            while (isDigit(j))
                ++j;
            s[static_cast<size_t>(i)] = 'E';
            end = j;
        }
    }
    const char *first = s.data() + (s[0] == '+' ? 1 : 0);
    double value = 0;
    if (std::from_chars(first, s.data() + end, value).ec == std::errc())
        return value;
    // A number too large for a double reads as infinite, so that a caller can refuse it; one
    // too small reads as 0.
    return QLocale::c().toDouble(QString::fromLatin1(s.data(), end));
}

std::optional<double> parseNumber(const QString &text) {
    bool ok = false;
    const double value = QLocale::c().toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

double roundHalfEven(double value) {
    return std::nearbyint(value);
}

double RoundToFactor(double x, double f) {
    return std::floor(x * f + 0.5) / f;
}

} // namespace numbers
