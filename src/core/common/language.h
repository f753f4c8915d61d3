#pragma once

#include <QString>
#include <QStringList>

#include <memory>

class QTranslator;

// The languages a participant's texts can be shown in: English, the texts as written in the
// source, and each translation built into the program (translations/fluxmere_XX.ts). Records
// never change with the language: only what is shown is translated.

// "en" and the codes of the built-in translations, in that order.
QStringList AvailableLanguages();
// Whether `code` (such as "de") is one of them.
bool LanguageAvailable(const QString &code);
// The language's English name, such as "German".
QString LanguageName(const QString &code);
// Shows the texts in `code` from now on, with Qt's own texts (standard buttons) in it too;
// "en" or an empty code shows the source texts with no translator installed. False, and
// nothing changed, for a language the program has no translation of.
bool InstallLanguage(const QString &code);
// The language installed last; "en" when none is.
QString InstalledLanguage();

// One person's language: its translators, loaded once and held by whoever serves that person
// (the sitting), so that two people can be served in two languages by one process. Texts are
// looked up without touching the application's translators; install() makes them the
// application's for the windows a desktop sitting opens.
class Translation {
public:
    // The source texts (English) for "en", an empty code or a language without a translation.
    explicit Translation(const QString &code = QString());
    const QString &code() const { return m_code; }
    // The text in this language, as tr() in `context` would give it.
    QString text(const char *context, const char *source) const;
    // From now on the windows opened show this language (InstallLanguage's effect).
    void install() const;

private:
    QString m_code;
    std::shared_ptr<QTranslator> m_program;
};
