#include "core/common/language.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QLocale>
#include <QPointer>
#include <QTranslator>

namespace {

const QString sourceLanguage = QStringLiteral("en");
const QString translationFolder = QStringLiteral(":/i18n");
const QString translationPrefix = QStringLiteral("fluxmere_");

QString translationFile(const QString &code) {
    return QStringLiteral("%1/%2%3.qm").arg(translationFolder, translationPrefix, code);
}

struct Installed {
    QString code = sourceLanguage;
    QPointer<QTranslator> program;
    QPointer<QTranslator> qt;
};

Installed &installed() {
    static Installed languages;
    return languages;
}

void removeTranslators() {
    Installed &now = installed();
    for (QPointer<QTranslator> *translator : {&now.program, &now.qt}) {
        if (*translator) {
            QCoreApplication::removeTranslator(*translator);
            delete translator->data();
        }
    }
    now.code = sourceLanguage;
}

} // namespace

QStringList AvailableLanguages() {
    QStringList codes = {sourceLanguage};
    const QStringList files =
        QDir(translationFolder).entryList({translationPrefix + QStringLiteral("*.qm")});
    for (const QString &file : files)
        codes.append(file.mid(translationPrefix.size()).chopped(3));
    return codes;
}

bool LanguageAvailable(const QString &code) {
    return code == sourceLanguage || (!code.isEmpty() && QFile::exists(translationFile(code)));
}

QString LanguageName(const QString &code) {
    return QLocale::languageToString(QLocale(code).language());
}

bool InstallLanguage(const QString &code) {
    const QString wanted = code.isEmpty() ? sourceLanguage : code;
    if (!LanguageAvailable(wanted))
        return false;
    if (wanted == installed().code)
        return true;
    removeTranslators();
    if (wanted == sourceLanguage)
        return true;
    Installed &now = installed();
    now.program = new QTranslator(QCoreApplication::instance());
    if (!now.program->load(translationFile(wanted)))
        return false;
    QCoreApplication::installTranslator(now.program);
    // Qt's own texts, such as the standard buttons, where the system has them.
    now.qt = new QTranslator(QCoreApplication::instance());
    if (now.qt->load(QStringLiteral("qtbase_") + wanted,
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(now.qt);
    now.code = wanted;
    return true;
}

QString InstalledLanguage() {
    return installed().code;
}

Translation::Translation(const QString &code)
    : m_code(QStringLiteral("en")) {
    if (code.isEmpty() || code == sourceLanguage || !LanguageAvailable(code))
        return;
    auto translator = std::make_shared<QTranslator>();
    if (!translator->load(translationFile(code)))
        return;
    m_program = std::move(translator);
    m_code = code;
}

QString Translation::text(const char *context, const char *source) const {
    const QString translated = m_program ? m_program->translate(context, source) : QString();
    return translated.isEmpty() ? QString::fromUtf8(source) : translated;
}

void Translation::install() const {
    InstallLanguage(m_code);
}
