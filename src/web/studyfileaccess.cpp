#include "web/studyfileaccess.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>

namespace {

const QHash<QString, QByteArray> &servedTypes() {
    static const QHash<QString, QByteArray> types{
        {QStringLiteral("html"), "text/html; charset=utf-8"},
        {QStringLiteral("htm"), "text/html; charset=utf-8"},
        {QStringLiteral("css"), "text/css; charset=utf-8"},
        {QStringLiteral("png"), "image/png"},
        {QStringLiteral("jpg"), "image/jpeg"},
        {QStringLiteral("jpeg"), "image/jpeg"},
        {QStringLiteral("gif"), "image/gif"},
        {QStringLiteral("svg"), "image/svg+xml"},
        {QStringLiteral("webp"), "image/webp"},
        {QStringLiteral("mp3"), "audio/mpeg"},
        {QStringLiteral("ogg"), "audio/ogg"},
        {QStringLiteral("wav"), "audio/wav"},
        {QStringLiteral("mp4"), "video/mp4"},
        {QStringLiteral("webm"), "video/webm"},
        {QStringLiteral("pdf"), "application/pdf"},
    };
    return types;
}

bool isInside(const QString &path, const QString &folder) {
    return path.startsWith(folder + QLatin1Char('/'));
}

} // namespace

StudyFileAccess::StudyFileAccess(QString dataDirectory)
    : m_dataDirectory(QFileInfo(dataDirectory).canonicalFilePath()) {}

void StudyFileAccess::allow(const QStringList &paths) {
    for (const QString &path : paths) {
        const QFileInfo file(QDir(m_dataDirectory).filePath(path));
        const QString canonical = file.canonicalFilePath();
        if (!canonical.isEmpty() && isInside(canonical, m_dataDirectory) &&
            servedTypes().contains(file.suffix().toLower()))
            m_allowed.insert(canonical);
    }
}

// instructions/... and conditions/NAME/..., never conditions/NAME.txt (a setup).
bool StudyFileAccess::inStudyFolders(const QString &canonical) const {
    if (isInside(canonical, m_dataDirectory + QStringLiteral("/instructions")))
        return true;
    const QString conditions = m_dataDirectory + QStringLiteral("/conditions");
    if (!isInside(canonical, conditions))
        return false;
    return canonical.mid(conditions.size() + 1).contains(QLatin1Char('/'));
}

QString StudyFileAccess::servedPath(const QString &relative) const {
    if (m_dataDirectory.isEmpty() || relative.isEmpty() || relative.contains(QChar(0)) ||
        QDir::isAbsolutePath(relative))
        return {};
    const QFileInfo file(m_dataDirectory + QLatin1Char('/') + relative);
    const QString canonical = file.canonicalFilePath(); // empty for a missing file
    if (canonical.isEmpty() || !QFileInfo(canonical).isFile() ||
        !servedTypes().contains(QFileInfo(canonical).suffix().toLower()))
        return {};
    return m_allowed.contains(canonical) || inStudyFolders(canonical) ? canonical : QString();
}

QByteArray StudyFileAccess::contentType(const QString &path) {
    return servedTypes().value(QFileInfo(path).suffix().toLower(), "application/octet-stream");
}
