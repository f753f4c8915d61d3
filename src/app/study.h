#pragma once

#include "core/common/dialogs.h"
#include "core/setup/conditions.h"
#include "core/setup/questionnairefile.h"
#include "core/setup/setupfile.h"
#include "core/setup/startverdict.h"
#include "core/setup/studyfiles.h"

#include <QString>
#include <QStringList>

#include <map>
#include <optional>

struct TaskState;

// What Start meets in the setup a run plays.
struct StartJudgement {
    StartOutcome outcome = StartOutcome::Refused;
    QString reason;
    bool fileMissing = false;
    QStringList checkFailures; // shown whenever Start reaches them
    bool plays() const { return outcome == StartOutcome::Plays; }
    // The box that gives the reason of a start that ends the program: "ERROR" and no icon
    // for a missing file, as ever; the program's title and a critical icon otherwise.
    QString title() const;
    Dialogs::Icon icon() const;
};

// The study files of a data folder: the conditions and their setups, the rotation that gives
// each run its condition, and the questionnaire, pages and end screen a run shows.
class Study {
public:
    explicit Study(QString dataDirectory);

    const QString &dataDirectory() const { return m_dataDirectory; }
    const QStringList &conditions() const { return m_conditions; }
    // The condition every model's run of this instance plays; empty: the rotation decides.
    void setModelCondition(const QString &name) { m_modelCondition = name; }
    const QString &modelCondition() const { return m_modelCondition; }

    // At launch: every setup the study plays can be read. Empty when so, else the message to
    // show (`title` set for it); `languages` gets the language each one names.
    QString unusableSetup(QString *title, QStringList *languages);
    // The condition a run plays: the one chosen, when it names one (in any letter case),
    // else the rotation's. Empty in a folder without conditions.
    QString conditionForRun(const QString &chosen, bool byPerson);
    // A completed run that counts in the rotation.
    void countCompleted(const QString &condition, bool byPerson);

    // Reads the condition's setup into `state` and judges it for `starter`; a setup that
    // plays gets its order tables.
    StartJudgement judgeStart(TaskState &state, Starter starter);
    // The text of the setup file the run plays, as judged.
    QByteArray setupText(const QString &condition) { return setupFor(condition).contents(); }

    QuestionnaireFile questionnaire(const QString &condition) const;
    // The condition's instruction pages; false, with the reason, when one cannot be shown.
    bool instructionPages(const QString &condition, QList<StudyPage> *pages, QString *error) const;
    QString endScreenPath(const QString &condition) const;
    // Once for each setup in a row, so that a sweep of many runs on one setup warns once.
    void warnAboutSilentDelays(const TaskState &state);

private:
    SetupFile &setupFor(const QString &condition);
    ConditionRotation &rotation();

    QString m_dataDirectory;
    QStringList m_conditions; // by name; none: every run plays Setup.txt
    SetupFile m_setup;
    std::map<QString, SetupFile> m_conditionSetups;
    std::optional<ConditionRotation> m_rotation; // read from Runs.txt when first needed
    QString m_modelCondition;
    QString m_warnedSetupId; // the setup whose delays were last checked at a start
};
