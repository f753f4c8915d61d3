#pragma once

#include <QSet>
#include <QString>

// Which files of the data folder a browser may fetch: the study's pages and what they show,
// from instructions/ and the conditions' folders conditions/NAME/, and the files of a page the
// server has sent (a consent page's image beside it). Never a record, a setup, a kept copy or
// the database; every path is judged by where it really lies, links resolved.
class StudyFileAccess {
public:
    explicit StudyFileAccess(QString dataDirectory);

    // A page that was sent may show these files (paths in the data folder).
    void allow(const QStringList &paths);
    // The file's real path when `relative` (a URL path below /study/) may be served; empty
    // otherwise.
    QString servedPath(const QString &relative) const;
    // The content type of a served file, by its suffix.
    static QByteArray contentType(const QString &path);

private:
    bool inStudyFolders(const QString &canonical) const;

    QString m_dataDirectory; // canonical
    QSet<QString> m_allowed; // canonical paths
};
