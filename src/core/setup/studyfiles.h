#pragma once

#include "core/setup/conditions.h" // StudyFilePath

#include <QList>
#include <QString>
#include <QStringList>

// A study's own participant files in the data folder: instruction pages
// (instructions/01.html, 02.html, ...) and an end screen (end.html). A condition NAME may
// have a folder conditions/NAME/ whose files replace the data folder's for the runs of that
// condition. Every file is UTF-8 text in Qt's rich-text subset; without them the program
// shows what it always has.

// The instruction pages of a run, sorted by name: only files named with two digits and
// ".html" count. None when there is no instructions folder.
QStringList InstructionPagePaths(const QString &dataDir, const QString &condition);
// The end screen of a run, or empty text when there is none.
QString EndScreenPath(const QString &dataDir, const QString &condition);

// One page to show: its HTML and the folder its images are found in.
struct StudyPage {
    QString html;
    QString folder;
};

// Reads a study file as UTF-8 text; false with the reason, naming the file and line, when it
// is no readable regular file, is too large or is not UTF-8.
bool ReadStudyPage(const QString &path, StudyPage *page, QString *error);

// The figures an end screen shows, filled in for {payment}, {bonus}, {periods_in_band} and
// {subject}.
struct EndScreenValues {
    double payment = 0; // the whole payment, base and bonus
    double bonus = 0;
    int periodsInBand = 0;
    QString subject;
};
QString FillEndScreen(const QString &html, const EndScreenValues &values);

// What --check-setup tells of the study files: for the data folder and each condition folder,
// the pages found and the end screen, and each problem with its file and line. Empty when the
// folder has no study files of these kinds.
struct StudyFilesCheck {
    QString text;
    bool usable = true;
};
StudyFilesCheck CheckStudyPages(const QString &dataDir);
