#pragma once

#include "core/common/numbers.h"
#include "core/setup/conditions.h" // StudyFilePath

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

// A study's own participant files in the data folder: instruction pages
// (instructions/01.html, 02.html, ...), a consent page (consent.html) and an end screen
// (end.html). A condition NAME may have a folder conditions/NAME/ whose files replace the data
// folder's for the runs of that condition. Every file is UTF-8 text in Qt's rich-text subset;
// without them the program shows what it always has.

// The instruction pages of a run, sorted by name: only files named with two digits and
// ".html" count. None when there is no instructions folder.
// In `language`, the pages of the folder's translation (instructions/de/) where it has one.
QStringList InstructionPagePaths(const QString &dataDir, const QString &condition,
                                 const QString &language = QString());
// The end screen of a run (its translation end.LANG.html where there is one), or empty text
// when there is none.
QString EndScreenPath(const QString &dataDir, const QString &condition,
                      const QString &language = QString());
// The consent page of a run (consent.html, or its translation consent.LANG.html where there
// is one), or empty text when there is none.
QString ConsentPagePath(const QString &dataDir, const QString &condition,
                        const QString &language = QString());

// One page to show: its HTML, its own folder, and the study's folders whose files (with
// their subfolders') it may show besides the files of its own folder.
struct StudyPage {
    QString html;
    QString folder;
    QStringList studyFolders = {};
};

// Reads a study file of the data folder `dataDir` as UTF-8 text; false with the reason,
// naming the file and line, when it is no readable regular file, is too large or is not
// UTF-8. The page may show the files of the data folder's instructions/, of the condition's
// folder conditions/NAME/ it lies in, and of its own folder (never the records or setups).
bool ReadStudyPage(const QString &dataDir, const QString &path, StudyPage *page, QString *error);

// What an image or link of a page names, as the page writes it or as resolved against the
// page's folder. Only a Shown file is ever loaded.
struct PageReference {
    enum class Verdict {
        Shown,   // a file of the study's (path)
        InPage,  // the page itself: an empty reference, or only a fragment ("#part")
        Inline,  // a data: URL, which holds what it shows
        Missing, // inside the study's files, but no such file (path)
        Outside, // a file or URL outside the study's files (path, when it names a file)
    };
    Verdict verdict = Verdict::Outside;
    QString path;
};
PageReference JudgePageReference(const StudyPage &page, const QUrl &reference);
// The study's files a page shows or links to (its images, say), each once.
QStringList ShownFiles(const StudyPage &page);

// The figures an end screen shows, filled in for {payment}, {bonus}, {periods_in_band} and
// {subject}.
struct EndScreenValues {
    double payment = 0; // the whole payment, base and bonus
    double bonus = 0;
    int periodsInBand = 0;
    QString subject;
};
// Money is written in `style` (numbers::money's "$5.00" unless the setup and language say
// otherwise).
QString FillEndScreen(const QString &html, const EndScreenValues &values,
                      const numbers::MoneyStyle &style = {});

// What --check-setup tells of the study files: for the data folder and each condition folder,
// the pages found and the end screen, and each problem with its file and line. Empty when the
// folder has no study files of these kinds.
struct StudyFilesCheck {
    QString text;
    bool usable = true;
};
// In a study with conditions, only the files a condition shows are checked. Every image or
// link of a page that is missing or lies outside the study's files is a problem.
StudyFilesCheck CheckStudyPages(const QString &dataDir);

// The data folder's own study files that a run of `condition` shows for want of the
// condition's own: its instruction pages, Questionnaire.txt and end.html, where it has them.
QStringList SharedStudyFiles(const QString &dataDir, const QString &condition);

// The study files a run of `condition` shows a person in `language` untranslated: each file
// (its instruction pages, Questionnaire.txt, end.html, where it has them) that has no
// translation into the language beside it and is not written in it (`ownLanguage` for the
// condition's own files, `sharedLanguage` for the data folder's), relative to the data folder.
QStringList UntranslatedStudyFiles(const QString &dataDir, const QString &condition,
                                   const QString &language, const QString &ownLanguage,
                                   const QString &sharedLanguage);
