#include "core/common/language.h"
#include "core/setup/studyfiles.h"
#include "gui/frmConsent.h"
#include "support/testsupport.h"

#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QtTest>

// The consent page: only its two buttons answer it, each once.
class TestFrmConsent : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup() { InstallLanguage(QStringLiteral("en")); }

    void showsTheStudysPageAndTwoAnswers();
    void agreeingAcceptsTheWindow();
    void decliningRejectsTheWindowAndIsThankedFor();
    void onlyTheButtonsAnswer();
    void speaksGerman();
    void consentPageOfARun();

private:
    QPushButton *button(const char *name) const {
        return requireChild<QPushButton>(m_window.get(), name);
    }
    void write(const QString &name, const QByteArray &text) const;

    QTemporaryDir m_root;
    QString m_data;
    std::unique_ptr<frmConsent> m_window;
};

void TestFrmConsent::write(const QString &name, const QByteArray &text) const {
    const QString path = m_data + QLatin1Char('/') + name;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
}

void TestFrmConsent::init() {
    m_data = m_root.filePath(QStringLiteral("data"));
    write(QStringLiteral("consent.html"), "<h2>Consent</h2><p>Taking part is voluntary.</p>");
    StudyPage page;
    QString error;
    QVERIFY2(ReadStudyPage(m_data, ConsentPagePath(m_data, QString()), &page, &error),
             qPrintable(error));
    m_window = std::make_unique<frmConsent>(page);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void TestFrmConsent::showsTheStudysPageAndTwoAnswers() {
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Consent"));
    const auto *page = requireChild<QTextBrowser>(m_window.get(), "brwPage");
    QVERIFY(page->toPlainText().contains(QStringLiteral("Taking part is voluntary.")));
    QCOMPARE(button("cmdAgree")->text(), QStringLiteral("I agree"));
    QCOMPARE(button("cmdDecline")->text(), QStringLiteral("I do not agree"));
    QVERIFY(!button("cmdAgree")->isDefault() && !button("cmdDecline")->isDefault());
    const QRect screen = m_window->screen()->availableGeometry();
    QVERIFY(m_window->width() <= screen.width() && m_window->height() <= screen.height());
    QVERIFY(m_window->width() > screen.width() / 2); // a large part of it, not a fixed size
}

void TestFrmConsent::agreeingAcceptsTheWindow() {
    QSignalSpy agreed(m_window.get(), &frmConsent::agreed);
    QSignalSpy declined(m_window.get(), &frmConsent::declined);
    QTest::mouseClick(button("cmdAgree"), Qt::LeftButton);
    m_window->cmdDecline_Click(); // answered already: nothing more
    QCOMPARE(agreed.size(), 1);
    QCOMPARE(declined.size(), 0);
    QCOMPARE(m_window->result(), int(QDialog::Accepted));
    QVERIFY(!m_window->isVisible());
}

void TestFrmConsent::decliningRejectsTheWindowAndIsThankedFor() {
    QSignalSpy agreed(m_window.get(), &frmConsent::agreed);
    QSignalSpy declined(m_window.get(), &frmConsent::declined);
    QTest::mouseClick(button("cmdDecline"), Qt::LeftButton);
    QCOMPARE(declined.size(), 1);
    QCOMPARE(agreed.size(), 0);
    QCOMPARE(m_window->result(), int(QDialog::Rejected));

    ScriptedDialogs dialogs;
    bool done = false;
    TellConsentDeclined(dialogs, [&done] { done = true; });
    QCOMPARE(dialogs.shown.size(), 1);
    QCOMPARE(dialogs.shown.first().title, programTitle());
    QCOMPARE(dialogs.shown.first().text,
             QStringLiteral("Thank you. You have chosen not to take part."));
    QTRY_VERIFY(done);
}

void TestFrmConsent::onlyTheButtonsAnswer() {
    QSignalSpy agreed(m_window.get(), &frmConsent::agreed);
    QSignalSpy declined(m_window.get(), &frmConsent::declined);
    for (const int key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape})
        QTest::keyClick(m_window.get(), Qt::Key(key));
    QVERIFY(!m_window->close());
    QVERIFY(m_window->isVisible());
    QCOMPARE(agreed.size() + declined.size(), 0);
}

void TestFrmConsent::speaksGerman() {
    QVERIFY(InstallLanguage(QStringLiteral("de")));
    const frmConsent window(StudyPage{QStringLiteral("<p>1</p>"), m_data});
    QCOMPARE(window.windowTitle(), QStringLiteral("Einwilligung"));
    QCOMPARE(window.findChild<QPushButton *>(QStringLiteral("cmdAgree"))->text(),
             QStringLiteral("Ich stimme zu"));
    QCOMPARE(window.findChild<QPushButton *>(QStringLiteral("cmdDecline"))->text(),
             QStringLiteral("Ich stimme nicht zu"));
    QCOMPARE(frmConsent::declinedText(),
             QStringLiteral("Vielen Dank. Sie haben sich entschieden, nicht teilzunehmen."));
}

// A condition's own page replaces the data folder's, and a translation its original.
void TestFrmConsent::consentPageOfARun() {
    const QString shared = m_data + QStringLiteral("/consent.html");
    QCOMPARE(ConsentPagePath(m_data, QStringLiteral("B")), shared);
    write(QStringLiteral("conditions/B/consent.html"), "<p>B</p>");
    write(QStringLiteral("consent.de.html"), "<p>de</p>");
    QCOMPARE(ConsentPagePath(m_data, QStringLiteral("B")),
             m_data + QStringLiteral("/conditions/B/consent.html"));
    QCOMPARE(ConsentPagePath(m_data, QString(), QStringLiteral("de")),
             m_data + QStringLiteral("/consent.de.html"));
    QVERIFY(QFile::remove(shared));
    QCOMPARE(ConsentPagePath(m_data, QString()), QString());
}

QTEST_MAIN(TestFrmConsent)
#include "test_frmConsent.moc"
