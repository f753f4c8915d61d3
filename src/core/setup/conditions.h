#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

// A study's conditions: each is a whole setup file, conditions/NAME.txt in the data folder.
// A folder without such files has none, and its runs play Setup.txt.

// The login list's first entry: the condition the rotation gives.
inline QString nextInRotationText() {
    return QStringLiteral("next in rotation");
}

// The names of the folder's conditions (conditions/NAME.txt), sorted.
QStringList ConditionNames(const QString &dataDir);
QString ConditionFile(const QString &dataDir, const QString &name);
// The folder of a condition's own study files: conditions/NAME/.
QString ConditionFolder(const QString &dataDir, const QString &name);

// Gives each new run the condition with the fewest completed runs so far, counted apart for
// persons and for models, ties broken by name: a study stays balanced however many people
// drop out. Practice runs are never counted.
class ConditionRotation {
public:
    explicit ConditionRotation(QStringList names);

    // One more completed run of `condition`; a name that is no condition is ignored.
    void countCompleted(const QString &condition, bool person);
    QString next(bool person) const;

private:
    QStringList m_names;
    QHash<QString, int> m_persons;
    QHash<QString, int> m_models;
};

// A study file (Questionnaire.txt, instructions, ...) of a run of `condition`: the condition's
// own, conditions/NAME/FILE, where that exists; else the data folder's DATA/FILE.
QString StudyFilePath(const QString &dataDir, const QString &condition, const QString &fileName);

// The translation of a study file into `language`, kept beside it: NAME.LANG.EXT beside a
// file (Questionnaire.de.txt, end.de.html), the subfolder LANG/ of a folder of pages
// (instructions/de/); `path` itself when there is none, or no language is given.
QString TranslatedStudyPath(const QString &path, const QString &language);
// StudyFilePath, then its translation into `language`.
QString StudyFilePath(const QString &dataDir, const QString &condition, const QString &fileName,
                      const QString &language);
