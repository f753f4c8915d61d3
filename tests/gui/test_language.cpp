#include "core/common/language.h"
#include "gui/StudyQuestionnaire.h"
#include "gui/Tasks1.h"
#include "gui/frmInstructions.h"
#include "gui/frmKrugel.h"
#include "gui/frmLogin.h"
#include "gui/frmNewSubject.h"
#include "gui/frmPasswordAuth.h"
#include "support/screenshot.h"
#include "support/testsupport.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QtTest>

// Each participant window opened after a language is installed speaks it; without one,
// nothing changes; the records keep English whatever is shown.
class TestLanguage : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { InstallLanguage(QStringLiteral("en")); }

    void germanReachesEveryParticipantWindow();
    void englishIsTheSourceWithNoTranslator();
    void subjectRecordKeepsEnglishMajorAndGender();
    void unknownLanguageChangesNothing();

private:
    // One text of each window, in the order of the windows a person meets; with a language
    // code, pictures of the larger windows are kept to check by eye that its texts fit.
    static QStringList windowTexts(const QString &pictured = {});
};

QStringList TestLanguage::windowTexts(const QString &pictured) {
    QTemporaryDir folder;
    TaskState state;
    ScriptedDialogs dialogs;
    auto runner = runnerFor(state, folder.path(), {}, 0);
    runner->load();
    const frmLogin login;
    frmNewSubject subject(QStringLiteral("P1"), {});
    const frmInstructions instructions({StudyPage{QStringLiteral("<p>1</p>"), folder.path()}});
    frmKrugel task(runner->view(), dialogs);
    frmPasswordAuth exit(dialogs);
    Tasks1 questionnaire(4, 0.1, 0.1, dialogs);
    if (!pictured.isEmpty()) {
        saveScreenshot(&subject, QStringLiteral("frmNewSubject-") + pictured);
        saveScreenshot(&task, QStringLiteral("frmKrugel-") + pictured);
        saveScreenshot(&questionnaire, QStringLiteral("Tasks1-") + pictured);
    }
    const StudyQuestionnaire own({}, dialogs);
    return {login.windowTitle(),
            subject.findChild<QPushButton *>(QStringLiteral("btnBegin"))->text(),
            instructions.findChild<QPushButton *>(QStringLiteral("cmdNext"))->text(),
            task.findChild<QPushButton *>(QStringLiteral("cmdNextTrial"))->text(),
            runner->view().lblStatusValue, exit.windowTitle(),
            questionnaire.findChild<QLabel *>(QStringLiteral("Label8"))->text().left(28),
            own.windowTitle(),
            // The standard button of every Yes/No box comes from Qt's own translation.
            QCoreApplication::translate("QPlatformTheme", "&Yes")};
}

void TestLanguage::germanReachesEveryParticipantWindow() {
    QVERIFY(AvailableLanguages().contains(QStringLiteral("de")));
    QVERIFY(InstallLanguage(QStringLiteral("de")));
    QCOMPARE(windowTexts(QStringLiteral("de")),
             QStringList({QStringLiteral("Willkommen"), QStringLiteral("Beginnen"),
                          QStringLiteral("Weiter"), QStringLiteral("Absenden"),
                          QStringLiteral("Versuchen Sie, die Ziellinie im Tank zu erreichen, "
                                         "indem Sie Zufluss und Abfluss anpassen"),
                          QStringLiteral("Authentifizierung"),
                          QStringLiteral("Haben Sie Ihre Strategie im "),
                          QStringLiteral("Fragebogen"), QStringLiteral("&Ja")}));
}

void TestLanguage::englishIsTheSourceWithNoTranslator() {
    QVERIFY(InstallLanguage(QStringLiteral("de")));
    QVERIFY(InstallLanguage(QStringLiteral("en")));
    QCOMPARE(InstalledLanguage(), QStringLiteral("en"));
    QCOMPARE(windowTexts(),
             QStringList({QStringLiteral("Welcome"), QStringLiteral("Begin"),
                          QStringLiteral("Next"), QStringLiteral("Submit"),
                          QStringLiteral("Try to meet the goal line on the tank by adjusting "
                                         "Inflow and Outflow"),
                          QStringLiteral("Authentication"),
                          QStringLiteral("Did you change your strategy"),
                          QStringLiteral("Questionnaire"), QStringLiteral("&Yes")}));
}

void TestLanguage::subjectRecordKeepsEnglishMajorAndGender() {
    QVERIFY(InstallLanguage(QStringLiteral("de")));
    frmNewSubject form(QStringLiteral("P1"), {});
    auto *major = form.findChild<QComboBox *>(QStringLiteral("cboMajor"));
    const int physics = major->findText(QStringLiteral("Physik"));
    QVERIFY(physics >= 0);
    major->setCurrentIndex(physics);
    form.findChild<QRadioButton *>(QStringLiteral("optFemale"))->click();
    form.findChild<QLineEdit *>(QStringLiteral("txtAge"))->setText(QStringLiteral("30"));
    QCOMPARE(major->itemText(major->count() - 1), QStringLiteral("Sonstiges"));
    SubjectEntries entries;
    connect(&form, &frmNewSubject::begun, this,
            [&entries](const SubjectEntries &given) { entries = given; });
    form.btnBegin_Click();
    QCOMPARE(entries.majorText, QStringLiteral("Physics"));
    QCOMPARE(entries.genderText, QStringLiteral("Female"));
}

void TestLanguage::unknownLanguageChangesNothing() {
    QVERIFY(!LanguageAvailable(QStringLiteral("xx")));
    QVERIFY(!InstallLanguage(QStringLiteral("xx")));
    QCOMPARE(InstalledLanguage(), QStringLiteral("en"));
    QCOMPARE(frmLogin().windowTitle(), QStringLiteral("Welcome"));
}

QTEST_MAIN(TestLanguage)
#include "test_language.moc"
