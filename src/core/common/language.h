#pragma once

#include <QString>
#include <QStringList>

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
