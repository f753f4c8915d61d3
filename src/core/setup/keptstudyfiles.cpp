#include "core/setup/keptstudyfiles.h"

#include "core/common/paths.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QUuid>

namespace {

// Study files are pages, images and short texts: a larger file is no study file.
constexpr qint64 MaxFileBytes = 64 * 1024 * 1024;

QString shown(const QString &path) {
    return QDir::toNativeSeparators(path);
}

// Whether `name`, relative to the data folder, is one of the folder's records or setups, or
// lies where the program keeps copies: never a file a person is shown.
bool isRecordOrSetup(const QString &name) {
    static const QRegularExpression kept(
        QStringLiteral("^(Setup\\.txt|Data\\.txt|Runs(-v[0-9]+)?\\.txt|DecisionTimes\\.txt|"
                       "Krugel\\.db.*|\\.fluxmere\\.lock.*|conditions/[^/]*\\.txt|setups/.*|"
                       "studyfiles/.*)$"),
        QRegularExpression::CaseInsensitiveOption);
    return kept.match(name).hasMatch();
}

// The name of `path` relative to the data folder, with '/' between its parts; empty, with
// the reason, when it names no file of the folder that may be kept.
QString studyFileName(const QDir &dataDir, const QString &path, QString *error) {
    const QFileInfo info(QDir::isAbsolutePath(path) ? path : dataDir.filePath(path));
    if (!info.isFile()) {
        *error = QStringLiteral("%1: no such file").arg(shown(info.filePath()));
        return {};
    }
    // Through links, as the file is read: a link that leads out of the folder is outside.
    const QString name = dataDir.relativeFilePath(info.canonicalFilePath());
    if (name.startsWith(QLatin1String("../")) || QDir::isAbsolutePath(name)) {
        *error = QStringLiteral("%1: outside the data folder %2; only the study's own files "
                                "are kept")
                     .arg(shown(info.filePath()), shown(dataDir.path()));
        return {};
    }
    if (isRecordOrSetup(name) || name == studyFilesManifestName()) {
        *error = QStringLiteral("%1: a record or setup of the data folder, not a study file")
                     .arg(shown(info.filePath()));
        return {};
    }
    return name;
}

// The files by name, each read once: what is hashed is what is kept.
bool readStudyFiles(const QString &dataDir, const QStringList &paths,
                    QMap<QString, QByteArray> *files, QString *error) {
    const QDir folder(QFileInfo(dataDir).canonicalFilePath());
    if (folder.path().isEmpty() || !folder.exists()) {
        *error = QStringLiteral("no data folder %1").arg(shown(dataDir));
        return false;
    }
    for (const QString &path : paths) {
        const QString name = studyFileName(folder, path, error);
        if (name.isEmpty())
            return false;
        QFile file(folder.filePath(name));
        if (file.size() > MaxFileBytes) {
            *error = QStringLiteral("%1: larger than %2 MB; no study file is")
                         .arg(shown(file.fileName()))
                         .arg(MaxFileBytes / (1024 * 1024));
            return false;
        }
        if (!file.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("%1: %2").arg(shown(file.fileName()), file.errorString());
            return false;
        }
        files->insert(name, file.readAll());
    }
    return true;
}

QByteArray manifestOf(const QMap<QString, QByteArray> &files) {
    QByteArray manifest;
    for (auto file = files.cbegin(); file != files.cend(); ++file) {
        manifest += QCryptographicHash::hash(file.value(), QCryptographicHash::Sha256).toHex();
        manifest += "  " + file.key().toUtf8() + '\n';
    }
    return manifest;
}

bool writeFile(const QString &path, const QByteArray &contents, QString *error) {
    QFile file(path);
    if (QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly) &&
        file.write(contents) == contents.size() && file.flush())
        return true;
    *error = QStringLiteral("cannot write %1: %2").arg(shown(path), file.errorString());
    return false;
}

// The files go into a folder of their own first, which then takes the ID's name at once:
// studyfiles/ID is either whole or not there.
bool writeKept(const QString &dataDir, const QString &id, const QMap<QString, QByteArray> &files,
               const QByteArray &manifest, QString *error) {
    const QString target = keptStudyFilesPath(dataDir, id);
    const QString partial = keptStudyFilesDirectory(dataDir) + QStringLiteral("/.") + id +
                            QLatin1Char('-') + QUuid::createUuid().toString(QUuid::Id128);
    bool written =
        writeFile(partial + QLatin1Char('/') + studyFilesManifestName(), manifest, error);
    for (auto file = files.cbegin(); written && file != files.cend(); ++file)
        written = writeFile(partial + QLatin1Char('/') + file.key(), file.value(), error);
    if (written && !QDir().rename(partial, target) && !QFileInfo(target).isDir()) {
        *error = QStringLiteral("cannot keep the study files as %1").arg(shown(target));
        written = false;
    }
    QDir(partial).removeRecursively(); // gone after the rename; a failed copy leaves nothing
    return written;
}

} // namespace

QString keptStudyFilesDirectory(const QString &dataDir) {
    return dataDir + QStringLiteral("/studyfiles");
}

QString keptStudyFilesPath(const QString &dataDir, const QString &id) {
    return keptStudyFilesDirectory(dataDir) + QLatin1Char('/') + id;
}

QString studyFilesManifestName() {
    return QStringLiteral("manifest.sha256");
}

bool keepStudyFiles(const QString &dataDir, const QStringList &paths, QString *id, QString *error) {
    id->clear();
    QMap<QString, QByteArray> files;
    if (!readStudyFiles(dataDir, paths, &files, error))
        return false;
    if (files.isEmpty())
        return true;
    const QByteArray manifest = manifestOf(files);
    const QString kept = QString::fromLatin1(
        QCryptographicHash::hash(manifest, QCryptographicHash::Sha256).toHex().left(12));
    if (!QFileInfo(keptStudyFilesPath(dataDir, kept)).isDir() &&
        !writeKept(dataDir, kept, files, manifest, error))
        return false;
    *id = kept;
    return true;
}
