#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// The files a report writes, checked before any is written.
struct OutputFile {
    QString option; // "-o", "--csv", ...
    QString path;   // as given
};

// Where writing `path` lands: symbolic links followed (also one whose target does not exist
// yet), relative forms and ".." resolved as far as the path exists.
QString landingPath(const QString &path);

// Why the outputs must not be written, or empty text when they may: one would write over a
// file inside a data folder being read (or add one there: the folder is the program's), over
// a file the report reads by another name (a hard link), over something that exists and is
// not a regular file (a folder, a device, a pipe), or over another output. Files and folders
// are compared as the file system knows them (device and inode), not by their paths, so a
// symbolic link or a bind mount of a data folder is caught.
QString outputsRefusal(const QList<OutputFile> &outputs, const QStringList &dataFolders);
