#include "core/setup/conditions.h"

#include "core/common/paths.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <utility>

QStringList ConditionNames(const QString &dataDir) {
    // A pipe or a broken link named NAME.txt is a condition too: its check, and the program's
    // start, say what is wrong with it rather than pass it over.
    const QDir folder(paths::conditionsDirectory(dataDir));
    QStringList names;
    for (const QString &file : folder.entryList({QStringLiteral("*.txt")},
                                                QDir::Files | QDir::System | QDir::CaseSensitive))
        names.append(file.chopped(4));
    std::sort(names.begin(), names.end()); // by code point: the same order on every machine
    return names;
}

QString ConditionFile(const QString &dataDir, const QString &name) {
    return paths::conditionsDirectory(dataDir) + QLatin1Char('/') + name + QStringLiteral(".txt");
}

QString ConditionFolder(const QString &dataDir, const QString &name) {
    return paths::conditionsDirectory(dataDir) + QLatin1Char('/') + name;
}

ConditionRotation::ConditionRotation(QStringList names)
    : m_names(std::move(names)) {}

void ConditionRotation::countCompleted(const QString &condition, bool person) {
    if (m_names.contains(condition))
        ++(person ? m_persons : m_models)[condition];
}

QString ConditionRotation::next(bool person) const {
    const QHash<QString, int> &counts = person ? m_persons : m_models;
    QString fewest;
    for (const QString &name : m_names) { // sorted, so the first of equals wins
        if (fewest.isNull() || counts.value(name) < counts.value(fewest))
            fewest = name;
    }
    return fewest;
}

QString StudyFilePath(const QString &dataDir, const QString &condition, const QString &fileName) {
    if (!condition.isEmpty()) {
        const QString own = ConditionFolder(dataDir, condition) + QLatin1Char('/') + fileName;
        const QFileInfo info(own);
        if (info.exists() || info.isSymLink())
            return own;
    }
    return dataDir + QLatin1Char('/') + fileName;
}

QString TranslatedStudyPath(const QString &path, const QString &language) {
    if (language.isEmpty())
        return path;
    const QFileInfo info(path);
    if (info.isDir()) {
        const QString folder = path + QLatin1Char('/') + language;
        return QFileInfo(folder).isDir() ? folder : path;
    }
    const QString suffix = info.suffix();
    if (suffix.isEmpty())
        return path;
    const QString translated = path.chopped(suffix.size()) + language + QLatin1Char('.') + suffix;
    const QFileInfo translation(translated);
    return translation.exists() || translation.isSymLink() ? translated : path;
}

QString StudyFilePath(const QString &dataDir, const QString &condition, const QString &fileName,
                      const QString &language) {
    return TranslatedStudyPath(StudyFilePath(dataDir, condition, fileName), language);
}
