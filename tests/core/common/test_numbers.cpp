#include "core/common/numbers.h"

#include <QLocale>
#include <QtTest>

#include <clocale>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

// The number and date texts of the window, the data file and the model messages.
class TestNumbers : public QObject {
    Q_OBJECT

private slots:
    void roundTripReadsBack_data();
    void roundTripReadsBack();
    void figure_data();
    void figure();
    void stateAmount_data();
    void stateAmount();
    void shortForm_data();
    void shortForm();
    void general_data();
    void general();
    void recordedIsTheGeneralFormReadBack();
    void usShortDate_data();
    void usShortDate();
    void usLongTime_data();
    void usLongTime();
    void clockTime();
    void leadingNumber_data();
    void leadingNumber();
    void parseNumber_data();
    void parseNumber();
    void roundHalfEven_data();
    void roundHalfEven();
    void roundToFactor_data();
    void roundToFactor();
    void nonFiniteIsNeverWrittenAsANumber();
    void formatsIgnoreTheDefaultLocale();
    void formatsIgnoreTheCLibraryLocale();
    void moneyInALanguageAndCurrency();
};

void TestNumbers::nonFiniteIsNeverWrittenAsANumber() {
    for (const auto &format : {numbers::figure, numbers::stateAmount, numbers::shortForm,
                               numbers::general, numbers::roundTrip}) {
        QCOMPARE(format(qInf()), QStringLiteral("Inf"));
        QCOMPARE(format(-qInf()), QStringLiteral("-Inf"));
        QCOMPARE(format(qQNaN()), QStringLiteral("NaN"));
    }
}

void TestNumbers::figure_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("whole number gets two integer digits") << 4.0 << QStringLiteral("04.000");
    QTest::newRow("zero") << 0.0 << QStringLiteral("00.000");
    QTest::newRow("three integer digits, rounded up") << 123.4567 << QStringLiteral("123.457");
    QTest::newRow("small fraction") << 0.05 << QStringLiteral("00.050");
    QTest::newRow("half shown in full") << 2.5 << QStringLiteral("02.500");
    QTest::newRow("bonus total") << 5.05 << QStringLiteral("05.050");
    QTest::newRow("negative") << -2.5 << QStringLiteral("-02.500");
    QTest::newRow("negative rounded") << -123.4567 << QStringLiteral("-123.457");
    QTest::newRow("half of last digit rounds away from zero") << 0.0005 << QStringLiteral("00.001");
    QTest::newRow("below half of last digit") << 0.0004 << QStringLiteral("00.000");
    QTest::newRow("negative that rounds to zero has no sign")
        << -0.0004 << QStringLiteral("00.000");
    QTest::newRow("carry through nines") << 9.9996 << QStringLiteral("10.000");
    QTest::newRow("carry adds a digit") << 99.9999 << QStringLiteral("100.000");
    QTest::newRow("large value") << 123456.0 << QStringLiteral("123456.000");
}

void TestNumbers::figure() {
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(numbers::figure(value), text);
}

void TestNumbers::stateAmount_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("whole number") << 4.0 << QStringLiteral("04.00");
    QTest::newRow("rounded to two decimals") << 123.456 << QStringLiteral("123.46");
    QTest::newRow("half rounds away from zero") << 0.125 << QStringLiteral("00.13");
    QTest::newRow("negative half rounds away from zero") << -0.125 << QStringLiteral("-00.13");
    QTest::newRow("half of an odd digit also rounds up") << 0.135 << QStringLiteral("00.14");
    QTest::newRow("zero") << 0.0 << QStringLiteral("00.00");
    QTest::newRow("amount after scaling error") << 5.4999999999999 << QStringLiteral("05.50");
}

void TestNumbers::stateAmount() {
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(numbers::stateAmount(value), text);
}

void TestNumbers::shortForm_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("no zero before the point") << 0.5 << QStringLiteral(".5");
    QTest::newRow("negative, no zero before the point") << -0.5 << QStringLiteral("-.5");
    QTest::newRow("whole number") << 3.0 << QStringLiteral("3");
    QTest::newRow("fraction above one") << 2.5 << QStringLiteral("2.5");
    QTest::newRow("zero") << 0.0 << QStringLiteral("0");
    QTest::newRow("negative whole number") << -2.0 << QStringLiteral("-2");
    QTest::newRow("small fraction") << 0.05 << QStringLiteral(".05");
}

void TestNumbers::shortForm() {
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(numbers::shortForm(value), text);
}

void TestNumbers::general_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << 0.0 << QStringLiteral("0");
    QTest::newRow("negative zero") << -0.0 << QStringLiteral("0");
    QTest::newRow("bonus total") << 5.05 << QStringLiteral("5.05");
    QTest::newRow("one tenth") << 0.1 << QStringLiteral("0.1");
    QTest::newRow("half") << 4.5 << QStringLiteral("4.5");
    QTest::newRow("whole number") << 100.0 << QStringLiteral("100");
    QTest::newRow("negative") << -2.25 << QStringLiteral("-2.25");
    QTest::newRow("small value gets an exponent") << 1e-5 << QStringLiteral("1E-05");
    QTest::newRow("smallest value without exponent") << 0.0001 << QStringLiteral("0.0001");
    QTest::newRow("fifteen digits without exponent")
        << 123456789012345.0 << QStringLiteral("123456789012345");
    QTest::newRow("large value gets an exponent") << 1e15 << QStringLiteral("1E+15");
    QTest::newRow("exponent with fraction") << 1.5e20 << QStringLiteral("1.5E+20");
    QTest::newRow("one third to fifteen digits")
        << 1.0 / 3.0 << QStringLiteral("0.333333333333333");
    QTest::newRow("binary error hidden by fifteen digits") << 0.1 + 0.2 << QStringLiteral("0.3");
    QTest::newRow("amount after scaling") << 5.5 * 358.5 / 358.5 << QStringLiteral("5.5");
    QTest::newRow("tiniest numbers keep fifteen digits")
        << 7.3781856196233903e-310 << QStringLiteral("7.37818561962339E-310");
}

void TestNumbers::general() {
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(numbers::general(value), text);
}

// A noisy run plays each flow as Data.txt records it; --verify reads the file's text back.
// The two must agree to the last bit for every value, not only for typical ones.
void TestNumbers::recordedIsTheGeneralFormReadBack() {
    std::mt19937_64 bits(7);
    for (int i = 0; i < 200000; ++i) {
        double value = 0;
        const uint64_t pattern = bits();
        std::memcpy(&value, &pattern, sizeof value); // any double, of every magnitude
        if (i % 2)
            value = std::ldexp(double(pattern >> 11), -53) * 40 - 20; // flows as they are drawn
        const double readBack = numbers::parseNumber(numbers::general(value)).value_or(value);
        const double recorded = numbers::asRecorded(value);
        QVERIFY2(recorded == readBack || (std::isnan(readBack) && std::isnan(recorded)),
                 qPrintable(QString::number(value, 'g', 17)));
    }
}

void TestNumbers::usShortDate_data() {
    QTest::addColumn<QDate>("date");
    QTest::addColumn<QString>("text");
    QTest::newRow("month first, no leading zeros")
        << QDate(2026, 12, 7) << QStringLiteral("12/7/2026");
    QTest::newRow("single-digit month") << QDate(2026, 1, 31) << QStringLiteral("1/31/2026");
}

void TestNumbers::usShortDate() {
    QFETCH(QDate, date);
    QFETCH(QString, text);
    QCOMPARE(numbers::usShortDate(date), text);
}

void TestNumbers::usLongTime_data() {
    QTest::addColumn<QTime>("time");
    QTest::addColumn<QString>("text");
    QTest::newRow("afternoon") << QTime(15, 4, 5) << QStringLiteral("3:04:05 PM");
    QTest::newRow("midnight") << QTime(0, 0, 0) << QStringLiteral("12:00:00 AM");
    QTest::newRow("noon") << QTime(12, 0, 0) << QStringLiteral("12:00:00 PM");
    QTest::newRow("morning") << QTime(9, 30, 59) << QStringLiteral("9:30:59 AM");
    QTest::newRow("last second of the day") << QTime(23, 59, 59) << QStringLiteral("11:59:59 PM");
}

void TestNumbers::usLongTime() {
    QFETCH(QTime, time);
    QFETCH(QString, text);
    QCOMPARE(numbers::usLongTime(time), text);
}

void TestNumbers::clockTime() {
    QCOMPARE(numbers::clockTime(QTime(15, 4, 5)), QStringLiteral("15:04:05"));
    QCOMPARE(numbers::clockTime(QTime(0, 0, 0)), QStringLiteral("00:00:00"));
}

void TestNumbers::leadingNumber_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value");
    QTest::newRow("digits then letters") << QStringLiteral("12abc") << 12.0;
    QTest::newRow("no number") << QStringLiteral("abc") << 0.0;
    QTest::newRow("empty") << QString() << 0.0;
    QTest::newRow("blank, sign, fraction and exponent") << QStringLiteral(" -3.5e2x") << -350.0;
    QTest::newRow("hexadecimal") << QStringLiteral("&H1F") << 31.0;
    QTest::newRow("hexadecimal, lower case") << QStringLiteral("&h1f") << 31.0;
    QTest::newRow("octal") << QStringLiteral("&O17") << 15.0;
    QTest::newRow("octal stops at 8") << QStringLiteral("&O178") << 15.0;
    QTest::newRow("unknown prefix") << QStringLiteral("&X12") << 0.0;
    QTest::newRow("blanks inside the number are skipped") << QStringLiteral("1 2") << 12.0;
    QTest::newRow("tabs and line feeds are skipped") << QStringLiteral("\t3\n.5") << 3.5;
    QTest::newRow("plus sign and point first") << QStringLiteral("+.5") << 0.5;
    QTest::newRow("exponent without digits is ignored") << QStringLiteral("1e") << 1.0;
    QTest::newRow("D exponent") << QStringLiteral("2D3") << 2000.0;
    QTest::newRow("negative exponent") << QStringLiteral("25E-1") << 2.5;
    QTest::newRow("point alone") << QStringLiteral(".") << 0.0;
    QTest::newRow("sign alone") << QStringLiteral("-") << 0.0;
    QTest::newRow("two points") << QStringLiteral("1.2.3") << 1.2;
    QTest::newRow("comma ends the number") << QStringLiteral("1,5") << 1.0;
    QTest::newRow("overflow reads infinite") << QStringLiteral("1e999") << qInf();
    QTest::newRow("underflow reads 0") << QStringLiteral("1e-999") << 0.0;
}

void TestNumbers::leadingNumber() {
    QFETCH(QString, text);
    QFETCH(double, value);
    QCOMPARE(numbers::leadingNumber(text), value);
}

void TestNumbers::parseNumber_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("isNumber");
    QTest::addColumn<double>("value");
    QTest::newRow("whole number") << QStringLiteral("100") << true << 100.0;
    QTest::newRow("blanks around") << QStringLiteral("  2.5 ") << true << 2.5;
    QTest::newRow("negative") << QStringLiteral("-4") << true << -4.0;
    QTest::newRow("exponent") << QStringLiteral("1e3") << true << 1000.0;
    QTest::newRow("empty") << QString() << false << 0.0;
    QTest::newRow("letters") << QStringLiteral("abc") << false << 0.0;
    QTest::newRow("trailing letters") << QStringLiteral("2.5x") << false << 0.0;
    QTest::newRow("comma as decimal separator") << QStringLiteral("2,5") << false << 0.0;
    QTest::newRow("infinity") << QStringLiteral("inf") << false << 0.0;
    QTest::newRow("not a number") << QStringLiteral("nan") << false << 0.0;
    QTest::newRow("overflow") << QStringLiteral("1e999") << false << 0.0;
}

void TestNumbers::parseNumber() {
    QFETCH(QString, text);
    QFETCH(bool, isNumber);
    QFETCH(double, value);
    const std::optional<double> parsed = numbers::parseNumber(text);
    QCOMPARE(parsed.has_value(), isNumber);
    if (isNumber)
        QCOMPARE(*parsed, value);
}

void TestNumbers::roundHalfEven_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("rounded");
    QTest::newRow("two and a half") << 2.5 << 2.0;
    QTest::newRow("three and a half") << 3.5 << 4.0;
    QTest::newRow("minus two and a half") << -2.5 << -2.0;
    QTest::newRow("below half") << 2.49 << 2.0;
    QTest::newRow("above half") << 2.51 << 3.0;
}

void TestNumbers::roundHalfEven() {
    QFETCH(double, value);
    QFETCH(double, rounded);
    QCOMPARE(numbers::roundHalfEven(value), rounded);
}

void TestNumbers::roundToFactor_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("rounded");
    QTest::newRow("rounds up") << 2.0006 << 2.001;
    QTest::newRow("rounds down") << 2.0004 << 2.0;
    QTest::newRow("negative rounds away") << -2.0006 << -2.001;
    QTest::newRow("negative rounds towards zero") << -2.0004 << -2.0;
    QTest::newRow("band edge below") << 3.8996 << 3.9;
    QTest::newRow("just outside band edge") << 3.8994 << 3.899;
}

void TestNumbers::roundToFactor() {
    QFETCH(double, value);
    QFETCH(double, rounded);
    QCOMPARE(numbers::RoundToFactor(value, 1000), rounded);
}

// A comma-separating default locale must not change any text the program writes or reads.
void TestNumbers::formatsIgnoreTheDefaultLocale() {
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::German));
    QCOMPARE(numbers::figure(2.5), QStringLiteral("02.500"));
    QCOMPARE(numbers::stateAmount(0.125), QStringLiteral("00.13"));
    QCOMPARE(numbers::general(5.05), QStringLiteral("5.05"));
    QCOMPARE(numbers::general(1e-5), QStringLiteral("1E-05"));
    QCOMPARE(numbers::shortForm(0.5), QStringLiteral(".5"));
    QCOMPARE(numbers::usShortDate(QDate(2026, 12, 7)), QStringLiteral("12/7/2026"));
    QCOMPARE(numbers::usLongTime(QTime(15, 4, 5)), QStringLiteral("3:04:05 PM"));
    QCOMPARE(numbers::clockTime(QTime(15, 4, 5)), QStringLiteral("15:04:05"));
    QCOMPARE(numbers::leadingNumber(QStringLiteral("2.5")), 2.5);
    QCOMPARE(numbers::parseNumber(QStringLiteral("2.5")).value_or(0), 2.5);
    QVERIFY(!numbers::parseNumber(QStringLiteral("2,5")));
    QLocale::setDefault(previous);
}

// The application object takes the C library's locale from the environment, so a German
// machine must still get points from every format.
void TestNumbers::formatsIgnoreTheCLibraryLocale() {
    const QByteArray previous = std::setlocale(LC_NUMERIC, nullptr);
    const char *german = nullptr;
    for (const char *name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE"}) {
        german = std::setlocale(LC_NUMERIC, name);
        if (german)
            break;
    }
    if (!german)
        QSKIP("No German C library locale is installed");
    const QString figure = numbers::figure(2.5);
    const QString general = numbers::general(5.05);
    const QString amount = numbers::stateAmount(0.125);
    std::setlocale(LC_NUMERIC, previous.constData());
    QCOMPARE(figure, QStringLiteral("02.500"));
    QCOMPARE(general, QStringLiteral("5.05"));
    QCOMPARE(amount, QStringLiteral("00.13"));
}

void TestNumbers::roundTripReadsBack_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("whole number") << 3.0 << QStringLiteral("3");
    QTest::newRow("zero") << 0.0 << QStringLiteral("0");
    QTest::newRow("fraction") << 2.5 << QStringLiteral("2.5");
    QTest::newRow("zero before the point") << 0.5 << QStringLiteral("0.5");
    QTest::newRow("negative fraction") << -0.5 << QStringLiteral("-0.5");
    QTest::newRow("two digits") << 16.0 << QStringLiteral("16");
    QTest::newRow("tiny magnitude") << 1e-5 << QStringLiteral("1e-05");
    QTest::newRow("all seventeen digits") << 0.1 + 0.2 << QStringLiteral("0.30000000000000004");
    QTest::newRow("largest accepted") << 1e15 << QStringLiteral("1e+15");
}

void TestNumbers::roundTripReadsBack() {
    QFETCH(double, value);
    QFETCH(QString, text);
    const QString written = numbers::roundTrip(value);
    QCOMPARE(written, text);
    // A reader (an entry box, a model) reads it back as the same number.
    QCOMPARE(numbers::parseNumber(written), std::optional<double>(value));
    QCOMPARE(numbers::leadingNumber(written), value);
}

// The end screen's money: English as the program always wrote it, whatever the machine's
// locale; German with a decimal comma, the symbol where the setup puts it.
void TestNumbers::moneyInALanguageAndCurrency() {
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::German));
    const numbers::MoneyStyle dollars;
    for (double value : {5.0, 5.15, 0.0, 1234.5, 0.005})
        QCOMPARE(numbers::money(value, dollars), numbers::money(value));
    QCOMPARE(numbers::money(1234.5, dollars), QStringLiteral("$1234.50"));
    const QString euro = QStringLiteral("\u20ac");
    QCOMPARE(numbers::money(5, {euro, true, QStringLiteral("de")}), QStringLiteral("5,00 \u20ac"));
    QCOMPARE(numbers::money(1234.5, {euro, true, QStringLiteral("de")}),
             QStringLiteral("1234,50 \u20ac"));
    QCOMPARE(numbers::money(3.3, {euro, false, QStringLiteral("de")}),
             QStringLiteral("\u20ac3,30"));
    QCOMPARE(numbers::money(3.3, {euro, true, QStringLiteral("en")}),
             QStringLiteral("3.30 \u20ac"));
    QLocale::setDefault(previous);
}

QTEST_GUILESS_MAIN(TestNumbers)
#include "test_numbers.moc"
