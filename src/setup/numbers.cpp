#include "setup/numbers.h"

#include <QLocale>

#include <cmath>

namespace numbers {
namespace {

// The decimal digits of a value rounded to 15 significant digits, as the platform's
// conversions see a double: digits without leading zeros and the power of ten of the first.
struct Decimal {
    bool negative = false;
    QString digits;   // "" for zero
    int exponent = 0; // value = 0.d1d2d3... * 10^(exponent + 1)
};

Decimal toDecimal(double value) {
    Decimal d;
    if (value == 0.0 || !std::isfinite(value))
        return d;
    // Not printf: the application object takes the C library's numeric locale from the
    // environment, and a German one would write a comma.
    QString text = QString::number(value, 'e', 14);
    d.negative = text.startsWith(QLatin1Char('-'));
    if (d.negative)
        text.remove(0, 1);
    const int e = text.indexOf(QLatin1Char('e'));
    d.exponent = text.mid(e + 1).toInt();
    d.digits = text.left(e).remove(QLatin1Char('.'));
    while (d.digits.endsWith(QLatin1Char('0')))
        d.digits.chop(1);
    return d;
}

// Fixed-point text of the value with exactly `decimals` fraction digits, rounding the
// 15-digit decimal form half away from zero, and at least `intDigits` integer digits.
QString fixed(double value, int decimals, int intDigits) {
    const Decimal d = toDecimal(value);
    // All digits as an integer string scaled by 10^decimals.
    const int pointPos = d.exponent + 1;  // digits before the point in d.digits
    QString whole;                        // digits of round(|value| * 10^decimals)
    const int keep = pointPos + decimals; // digits of d.digits kept
    if (d.digits.isEmpty() || keep < 0) {
        whole = QStringLiteral("0");
    } else {
        QString kept = d.digits.left(keep);
        while (kept.size() < keep)
            kept.append(QLatin1Char('0'));
        const bool roundUp = keep < d.digits.size() && d.digits.at(keep) >= QLatin1Char('5');
        if (kept.isEmpty())
            kept = QStringLiteral("0");
        if (roundUp) {
            int i = kept.size() - 1;
            while (i >= 0 && kept.at(i) == QLatin1Char('9')) {
                kept[i] = QLatin1Char('0');
                --i;
            }
            if (i < 0)
                kept.prepend(QLatin1Char('1'));
            else
                kept[i] = QChar(kept.at(i).unicode() + 1);
        }
        whole = kept;
    }
    while (whole.size() < decimals + intDigits)
        whole.prepend(QLatin1Char('0'));
    QString text = whole.left(whole.size() - decimals);
    if (decimals > 0)
        text += QLatin1Char('.') + whole.right(decimals);
    const bool isZero = whole.count(QLatin1Char('0')) == whole.size();
    if (d.negative && !isZero)
        text.prepend(QLatin1Char('-'));
    return text;
}

int digitValue(QChar c) {
    const char ch = c.toUpper().toLatin1();
    if (ch >= '0' && ch <= '9')
        return ch - '0';
    if (ch >= 'A' && ch <= 'F')
        return ch - 'A' + 10;
    return -1;
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

QString figure(double value) {
    return nonFiniteText(value).value_or(fixed(value, 3, 2));
}

QString stateAmount(double value) {
    return nonFiniteText(value).value_or(fixed(value, 2, 2));
}

QString roundTrip(double value) {
    if (const auto text = nonFiniteText(value))
        return *text;
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

QString general(double value) {
    if (const auto text = nonFiniteText(value))
        return *text;
    const Decimal d = toDecimal(value);
    if (d.digits.isEmpty())
        return QStringLiteral("0");
    QString text;
    if (d.exponent < -4 || d.exponent >= 15) {
        text = d.digits.left(1);
        if (d.digits.size() > 1)
            text += QLatin1Char('.') + d.digits.mid(1);
        text += QStringLiteral("E%1%2")
                    .arg(d.exponent < 0 ? QLatin1Char('-') : QLatin1Char('+'))
                    .arg(std::abs(d.exponent), 2, 10, QLatin1Char('0'));
    } else if (d.exponent < 0) {
        text = QStringLiteral("0.") + QString(-d.exponent - 1, QLatin1Char('0')) + d.digits;
    } else {
        const int intDigits = d.exponent + 1;
        QString digits = d.digits;
        while (digits.size() < intDigits)
            digits.append(QLatin1Char('0'));
        text = digits.left(intDigits);
        if (digits.size() > intDigits)
            text += QLatin1Char('.') + digits.mid(intDigits);
    }
    if (d.negative)
        text.prepend(QLatin1Char('-'));
    return text;
}

QString shortForm(double value) {
    QString text = general(value);
    if (text.startsWith(QStringLiteral("0.")))
        text.remove(0, 1);
    else if (text.startsWith(QStringLiteral("-0.")))
        text.remove(1, 1);
    return text;
}

QString usShortDate(const QDate &date) {
    return QStringLiteral("%1/%2/%3").arg(date.month()).arg(date.day()).arg(date.year());
}

QString usLongTime(const QTime &time) {
    const int hour12 = time.hour() % 12 == 0 ? 12 : time.hour() % 12;
    return QStringLiteral("%1:%2:%3 %4")
        .arg(hour12)
        .arg(time.minute(), 2, 10, QLatin1Char('0'))
        .arg(time.second(), 2, 10, QLatin1Char('0'))
        .arg(time.hour() < 12 ? QStringLiteral("AM") : QStringLiteral("PM"));
}

QString clockTime(const QTime &time) {
    return time.toString(QStringLiteral("HH:mm:ss"));
}

double leadingNumber(const QString &text) {
    QString s;
    for (const QChar c : text) {
        if (c != QLatin1Char(' ') && c != QLatin1Char('\t') && c != QLatin1Char('\n'))
            s.append(c);
    }
    if (s.size() >= 2 && s.at(0) == QLatin1Char('&')) {
        const QChar kind = s.at(1).toUpper();
        const int base = kind == QLatin1Char('H') ? 16 : kind == QLatin1Char('O') ? 8 : 0;
        if (base == 0)
            return 0.0;
        double result = 0.0;
        for (int i = 2; i < s.size(); ++i) {
            const int digit = digitValue(s.at(i));
            if (digit < 0 || digit >= base)
                break;
            result = result * base + digit;
        }
        return result;
    }
    // The longest prefix of the form [sign] digits [. digits] [(E|D) [sign] digits].
    int i = 0;
    const auto isDigit = [&](int at) {
        return at < s.size() && s.at(at).isDigit() && s.at(at).unicode() < 128;
    };
    if (i < s.size() && (s.at(i) == QLatin1Char('+') || s.at(i) == QLatin1Char('-')))
        ++i;
    int mantissaDigits = 0;
    while (isDigit(i)) {
        ++i;
        ++mantissaDigits;
    }
    if (i < s.size() && s.at(i) == QLatin1Char('.')) {
        ++i;
        while (isDigit(i)) {
            ++i;
            ++mantissaDigits;
        }
    }
    if (mantissaDigits == 0)
        return 0.0;
    int end = i;
    if (i < s.size() &&
        (s.at(i).toUpper() == QLatin1Char('E') || s.at(i).toUpper() == QLatin1Char('D'))) {
        int j = i + 1;
        if (j < s.size() && (s.at(j) == QLatin1Char('+') || s.at(j) == QLatin1Char('-')))
            ++j;
        if (isDigit(j)) {
            while (isDigit(j))
                ++j;
            end = j;
        }
    }
    QString number = s.left(end);
    number.replace(QLatin1Char('D'), QLatin1Char('E')).replace(QLatin1Char('d'), QLatin1Char('E'));
    // A number too large for a double reads as infinite, so that a caller can refuse it; one
    // too small reads as 0.
    return QLocale::c().toDouble(number);
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
