#include "core/recording/database.h"
#include "gui/frmNewSubject.h"
#include "support/screenshot.h"
#include "support/testdatabase.h"
#include "support/testsupport.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <sqlite3.h>

#include <chrono>

#include <memory>

namespace {

// The datSubject rows in the order written: Subject, Version, Condition, Major, Gender, Age,
// Date, Time, and the storage type of Age.
QList<QStringList> subjectRows(const QString &path) {
    return queryRows(path, "SELECT Subject, Version, Condition, Major, Gender, Age, Date, Time, "
                           "typeof(Age) FROM datSubject ORDER BY rowid");
}

} // namespace

class TestFrmNewSubject : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void opensAsDesigned();
    void beginNeedsAgeGenderAndMajor_data();
    void beginNeedsAgeGenderAndMajor();
    void ageKeys_data();
    void ageKeys();
    void noLeadingZeroWhereverTheCursorIs();
    void boxHoldingZeroGivesWayToTheNextDigit();
    void deletingTheAgeDisablesBegin();
    void enterInTheAgeBoxBeginsWhenAllIsGiven();
    void enterWhileBeginIsDisabledWritesNothing();
    void typedMajorIsStoredAsTyped();
    void discreteConditionAndFemale();
    void cancelWritesNothing();
    void recordTakesTheTimeOfItsWriteAfterALock();

private:
    template <typename T> T *control(const char *name) const {
        return requireChild<T>(m_form.get(), name);
    }
    QLineEdit *age() const { return control<QLineEdit>("txtAge"); }
    QComboBox *major() const { return control<QComboBox>("cboMajor"); }
    QPushButton *begin() const { return control<QPushButton>("btnBegin"); }
    void giveEverything(const QString &ageText = QStringLiteral("50"));
    // The datSubject rows once every row asked for is written.
    QList<QStringList> writtenRows() const;

    std::unique_ptr<QTemporaryDir> m_folder;
    QString m_path;
    bool m_scaledTank = true;
    QString m_condition;
    ScriptedDialogs m_dialogs;
    std::unique_ptr<Database> m_database;
    std::unique_ptr<frmNewSubject> m_form;
};

void TestFrmNewSubject::init() {
    m_folder = std::make_unique<QTemporaryDir>();
    m_path = m_folder->filePath(QStringLiteral("Krugel.db"));
    QVERIFY(createTestDatabase(m_path));
    m_scaledTank = true;
    m_condition.clear();
    m_dialogs = ScriptedDialogs{};
    m_database = std::make_unique<Database>(m_path, m_dialogs);
    m_form = std::make_unique<frmNewSubject>(QStringLiteral("Ann"));
    // Begin's entries are recorded as the program records them, with the version box "V2".
    connect(m_form.get(), &frmNewSubject::begun, this, [this](const SubjectEntries &entries) {
        m_condition = conditionOf(m_scaledTank);
        RecordSubject(*m_database, [this, entries] {
            return subjectRow(QStringLiteral("Ann"), QStringLiteral("V2"), m_condition,
                              entries.majorText, entries.genderText, entries.ageText,
                              QDateTime::currentDateTime());
        });
    });
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
}

void TestFrmNewSubject::cleanup() {
    m_form.reset();
    m_database.reset();
    m_folder.reset();
}

QList<QStringList> TestFrmNewSubject::writtenRows() const {
    if (!QTest::qWaitFor([this] { return m_database->idle(); }))
        return {{QStringLiteral("rows still waiting")}};
    return subjectRows(m_path);
}

void TestFrmNewSubject::giveEverything(const QString &ageText) {
    QTest::keyClicks(age(), ageText);
    control<QRadioButton>("optMale")->click();
    major()->setCurrentIndex(major()->findText(QStringLiteral("Psychology")));
}

void TestFrmNewSubject::opensAsDesigned() {
    QCOMPARE(m_form->windowTitle(), QStringLiteral("Subject Info: Ann"));
    QCOMPARE(m_form->font().family(), QStringLiteral("Arial"));
    QCOMPARE(control<QGroupBox>("fraGender")->title(), QStringLiteral("Gender"));
    QCOMPARE(control<QRadioButton>("optMale")->text(), QStringLiteral("Male"));
    QCOMPARE(control<QRadioButton>("optFemale")->text(), QStringLiteral("Female"));
    QVERIFY(!control<QRadioButton>("optMale")->isChecked());
    QVERIFY(!control<QRadioButton>("optFemale")->isChecked());
    QCOMPARE(control<QLabel>("tagAge")->text(), QStringLiteral("Age:"));
    QVERIFY(age()->text().isEmpty());
    QCOMPARE(age()->maxLength(), 2);
    QVERIFY(major()->isEditable());
    QCOMPARE(major()->currentText(), QStringLiteral("Major"));
    QCOMPARE(begin()->text(), QStringLiteral("Begin"));
    QVERIFY(!begin()->isEnabled());
    QCOMPARE(control<QPushButton>("btnCancel")->text(), QStringLiteral("Cancel"));
    QVERIFY(!m_form->Cleared);

    QStringList items;
    for (int i = 0; i < major()->count(); ++i)
        items.append(major()->itemText(i));
    QCOMPARE(items.size(), 27);
    QCOMPARE(items.last(), QStringLiteral("Other"));
    QStringList fields = items.mid(0, 26);
    QStringList sorted = fields;
    sorted.sort();
    QCOMPARE(fields, sorted);
    QCOMPARE(fields.removeDuplicates(), 0);
    saveScreenshot(m_form.get(), QStringLiteral("frmNewSubject"));
}

void TestFrmNewSubject::beginNeedsAgeGenderAndMajor_data() {
    QTest::addColumn<QString>("ageText");
    QTest::addColumn<QString>("gender"); // option to click, or empty
    QTest::addColumn<QString>("majorTyped");
    QTest::addColumn<int>("majorChosen"); // list index, or -1
    QTest::addColumn<bool>("enabled");

    const QString none;
    QTest::newRow("nothing given") << none << none << none << -1 << false;
    QTest::newRow("age only") << "25" << none << none << -1 << false;
    QTest::newRow("gender only") << none << "optFemale" << none << -1 << false;
    QTest::newRow("major only") << none << none << "Law" << -1 << false;
    QTest::newRow("age and gender") << "25"
                                    << "optMale" << none << -1 << false;
    QTest::newRow("age and major") << "25" << none << none << 3 << false;
    QTest::newRow("gender and major") << none << "optMale" << none << 3 << false;
    QTest::newRow("all, major chosen") << "25"
                                       << "optMale" << none << 3 << true;
    QTest::newRow("all, major typed") << "7"
                                      << "optFemale"
                                      << "Law" << -1 << true;
    QTest::newRow("all, major only blanks") << "25"
                                            << "optMale"
                                            << "   " << -1 << false;
    QTest::newRow("all, age refused") << "0"
                                      << "optMale" << none << 3 << false;
}

void TestFrmNewSubject::beginNeedsAgeGenderAndMajor() {
    QFETCH(QString, ageText);
    QFETCH(QString, gender);
    QFETCH(QString, majorTyped);
    QFETCH(int, majorChosen);
    QFETCH(bool, enabled);

    QTest::keyClicks(age(), ageText);
    if (!gender.isEmpty()) {
        auto *option = m_form->findChild<QRadioButton *>(gender);
        // On the round mark, where a click always lands on the option.
        QTest::mouseClick(option, Qt::LeftButton, {}, QPoint(8, option->height() / 2));
        QVERIFY(option->isChecked());
    }
    if (!majorTyped.isEmpty()) {
        major()->lineEdit()->selectAll();
        QTest::keyClicks(major()->lineEdit(), majorTyped);
    }
    if (majorChosen >= 0) {
        major()->setCurrentIndex(majorChosen);
        emit major()->activated(majorChosen);
    }
    QCOMPARE(begin()->isEnabled(), enabled);
}

void TestFrmNewSubject::ageKeys_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("expected");

    QTest::newRow("zero first is refused") << "0"
                                           << "";
    QTest::newRow("fifty") << "50"
                           << "50";
    QTest::newRow("zero five gives five") << "05"
                                          << "5";
    QTest::newRow("at most two digits") << "123"
                                        << "12";
    QTest::newRow("letters dropped") << "a5b"
                                     << "5";
    QTest::newRow("sign and point dropped") << "-2.5"
                                            << "25";
    QTest::newRow("blank dropped") << " 9"
                                   << "9";
    QTest::newRow("backspace typed") << "57\b"
                                     << "5";
    QTest::newRow("backspace to empty, zero refused again") << "5\b0"
                                                            << "";
}

void TestFrmNewSubject::ageKeys() {
    QFETCH(QString, typed);
    QFETCH(QString, expected);
    for (const QChar c : typed) {
        if (c == QLatin1Char('\b'))
            QTest::keyClick(age(), Qt::Key_Backspace);
        else
            QTest::keyClicks(age(), QString(c));
    }
    QCOMPARE(age()->text(), expected);
}

void TestFrmNewSubject::noLeadingZeroWhereverTheCursorIs() {
    QTest::keyClicks(age(), QStringLiteral("5"));
    QTest::keyClick(age(), Qt::Key_Home);
    QTest::keyClicks(age(), QStringLiteral("0"));
    QCOMPARE(age()->text(), QStringLiteral("5"));
}

void TestFrmNewSubject::boxHoldingZeroGivesWayToTheNextDigit() {
    QTest::keyClicks(age(), QStringLiteral("50"));
    QTest::keyClick(age(), Qt::Key_Home);
    QTest::keyClick(age(), Qt::Key_Delete); // "0" is left
    QCOMPARE(age()->text(), QStringLiteral("0"));
    QTest::keyClicks(age(), QStringLiteral("7"));
    QCOMPARE(age()->text(), QStringLiteral("7"));
}

void TestFrmNewSubject::deletingTheAgeDisablesBegin() {
    giveEverything(QStringLiteral("42"));
    QVERIFY(begin()->isEnabled());
    QTest::keyClick(age(), Qt::Key_Backspace);
    QVERIFY(begin()->isEnabled());
    QTest::keyClick(age(), Qt::Key_Backspace);
    QVERIFY(!begin()->isEnabled());
}

void TestFrmNewSubject::enterInTheAgeBoxBeginsWhenAllIsGiven() {
    giveEverything();
    const QDateTime before = QDateTime::currentDateTime();
    QTest::keyClick(age(), Qt::Key_Return);

    QVERIFY(m_form->Cleared);
    QVERIFY(!m_form->isVisible());
    QCOMPARE(m_form->result(), int(QDialog::Accepted));
    QCOMPARE(m_condition, QStringLiteral("continuous"));
    const QList<QStringList> rows = writtenRows();
    const QDateTime after = QDateTime::currentDateTime();
    QCOMPARE(rows.size(), 1);
    const QStringList &row = rows.first();
    QCOMPARE(row.mid(0, 6), (QStringList{QStringLiteral("Ann"), QStringLiteral("V2"),
                                         QStringLiteral("continuous"), QStringLiteral("Psychology"),
                                         QStringLiteral("Male"), QStringLiteral("50.0")}));
    QCOMPARE(row.at(8), QStringLiteral("real"));
    QVERIFY(row.at(6) == before.date().toString(Qt::ISODate) ||
            row.at(6) == after.date().toString(Qt::ISODate));
    QVERIFY(
        QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d$")).match(row.at(7)).hasMatch());
    const QTime written = QTime::fromString(row.at(7), QStringLiteral("HH:mm:ss"));
    QVERIFY(written.isValid());
    QVERIFY(qAbs(written.secsTo(after.time())) <= 2 || qAbs(written.secsTo(before.time())) <= 2);
    QVERIFY(m_dialogs.shown.isEmpty());
}

void TestFrmNewSubject::enterWhileBeginIsDisabledWritesNothing() {
    QTest::keyClicks(age(), QStringLiteral("50"));
    control<QRadioButton>("optMale")->click();
    QTest::keyClick(age(), Qt::Key_Return); // no major yet
    QVERIFY(m_form->isVisible());
    QVERIFY(!m_form->Cleared);
    QCOMPARE(age()->text(), QStringLiteral("50"));
    m_form->btnBegin_Click(); // a direct call obeys the disabled button too
    QVERIFY(m_form->isVisible());
    QCOMPARE(writtenRows().size(), 0);
}

void TestFrmNewSubject::typedMajorIsStoredAsTyped() {
    QTest::keyClicks(age(), QStringLiteral("19"));
    control<QRadioButton>("optMale")->click();
    major()->lineEdit()->selectAll();
    QTest::keyClicks(major()->lineEdit(), QStringLiteral("Nursing"));
    QTest::keyClick(major()->lineEdit(), Qt::Key_Return); // neither adds it nor begins
    QCOMPARE(major()->count(), 27);
    QVERIFY(m_form->isVisible());
    QVERIFY(begin()->isEnabled());
    QTest::mouseClick(begin(), Qt::LeftButton);
    QVERIFY(m_form->Cleared);
    const QList<QStringList> rows = writtenRows();
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.first().at(3), QStringLiteral("Nursing"));
    QCOMPARE(rows.first().at(5), QStringLiteral("19.0"));
}

void TestFrmNewSubject::discreteConditionAndFemale() {
    m_scaledTank = false;
    QTest::keyClicks(age(), QStringLiteral("33"));
    control<QRadioButton>("optMale")->click();
    control<QRadioButton>("optFemale")->click();
    major()->setCurrentIndex(major()->count() - 1);
    begin()->click();
    QCOMPARE(m_condition, QStringLiteral("discrete"));
    const QList<QStringList> rows = writtenRows();
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.first().at(2), QStringLiteral("discrete"));
    QCOMPARE(rows.first().at(3), QStringLiteral("Other"));
    QCOMPARE(rows.first().at(4), QStringLiteral("Female"));
}

void TestFrmNewSubject::cancelWritesNothing() {
    giveEverything();
    QTest::mouseClick(control<QPushButton>("btnCancel"), Qt::LeftButton);
    QVERIFY(!m_form->isVisible());
    QVERIFY(!m_form->Cleared);
    QCOMPARE(m_form->result(), int(QDialog::Rejected));
    QCOMPARE(writtenRows().size(), 0);
}

void TestFrmNewSubject::recordTakesTheTimeOfItsWriteAfterALock() {
    sqlite3 *other = nullptr;
    QCOMPARE(sqlite3_open(m_path.toUtf8().constData(), &other), SQLITE_OK);
    QCOMPARE(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    // Another program holds the database for a little more than a second: for three pauses
    // of 400 ms, the last of which begins as it lets go.
    int pauses = 0;
    m_database->setPause([&](std::chrono::microseconds) {
        if (++pauses == 3)
            sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
        return std::chrono::microseconds(400000);
    });
    const QTime now = QTime::currentTime();
    const QTime clicked(now.hour(), now.minute(), now.second());
    giveEverything();
    begin()->click();
    const QList<QStringList> rows = writtenRows();
    sqlite3_close(other);
    QCOMPARE(rows.size(), 1);
    const QTime written = QTime::fromString(rows.first().at(7), QStringLiteral("HH:mm:ss"));
    QVERIFY2(clicked.secsTo(written) >= 1, qPrintable(rows.first().at(7)));
}

QTEST_MAIN(TestFrmNewSubject)
#include "test_frmNewSubject.moc"
