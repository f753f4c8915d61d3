#pragma once

#include "core/common/dialogs.h"
#include "core/recording/database.h"
#include "core/setup/conditions.h"
#include "core/setup/questionnairefile.h"
#include "core/setup/setupfile.h"
#include "core/setup/startverdict.h"
#include "core/setup/studydesign.h"
#include "core/setup/studyfiles.h"

#include <QString>
#include <QStringList>

#include <cstdint>
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

// What a person plays: the conditions of their runs, in order (more than one only in a
// within-person design), and how they were given, as the records keep it.
struct PersonAssignment {
    QStringList conditions; // empty in a folder without conditions
    QString method;         // "rotation", "random" or "chosen"
    std::optional<std::uint64_t> seed;
    std::uint64_t draw = 0; // the number of the draw with that seed
};

// The datSitting row: how the person was given their conditions and language.
Row sittingRow(const QString &sittingId, qint64 subjectRowId, const QString &language,
               const PersonAssignment &given);

// The study files of a data folder: the conditions and their setups, the rotation that gives
// each run its condition, and the questionnaire, pages and end screen a run shows.
// The questions of one sitting, and what keeps it from asking them: a file present that
// cannot be used (every problem with its line; empty when none).
struct SittingQuestions {
    QList<StudyQuestion> before;
    QList<StudyQuestion> comprehension;
    QList<StudyQuestion> after;
    QString problems;
};

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
    // The design of Study.txt, read at launch.
    const StudyDesign &design() const { return m_design; }
    // The conditions a person plays: the chosen one (in a within-person design, the order
    // that starts with it), else the design's rotation or draw.
    PersonAssignment assignPerson(const QString &chosen);
    // A person played every block of `order`: it counts in the rotation of orders.
    void countPersonCompleted(const QStringList &order);

    // Reads the condition's setup into `state` and judges it for `starter`; a setup that
    // plays gets its order tables.
    StartJudgement judgeStart(TaskState &state, Starter starter);
    // The text of the setup file the run plays, as judged.
    QByteArray setupText(const QString &condition) { return setupFor(condition).contents(); }

    // The study files of a run of `condition` shown in `language` (their translations where
    // the study has them).
    QuestionnaireFile questionnaire(const QString &condition, const QString &language = {}) const;
    // Every question a person's sitting asks: before the task (QuestionnaireBefore.txt), the
    // comprehension check (Comprehension.txt) and after it (Questionnaire.txt).
    SittingQuestions sittingQuestions(const QString &condition, const QString &language) const;
    // The consent page (consent.html) a person in `language` is shown: none when the study
    // has none, or when it cannot be read (then `error` says why).
    std::optional<StudyPage> consentPage(const QString &condition, const QString &language,
                                         QString *error) const;
    // The condition's instruction pages; false, with the reason, when one cannot be shown.
    bool instructionPages(const QString &condition, const QString &language,
                          QList<StudyPage> *pages, QString *error) const;
    QString endScreenPath(const QString &condition, const QString &language = {}) const;
    // Every study file a person's run of `condition` in `language` shows: its pages with the
    // files they show, its questionnaires, consent page and end screen.
    QStringList studyFilesShown(const QString &condition, const QString &language) const;
    // Whether the condition has instruction pages of its own (conditions/NAME/instructions).
    bool hasOwnInstructions(const QString &condition) const;
    // Once for each setup in a row, so that a sweep of many runs on one setup warns once.
    void warnAboutSilentDelays(const TaskState &state);

private:
    SetupFile &setupFor(const QString &condition);
    ConditionRotation &rotation();
    void countPersons();
    QString conditionNamed(const QString &text) const;

    QString m_dataDirectory;
    QStringList m_conditions; // by name; none: every run plays Setup.txt
    SetupFile m_setup;
    std::map<QString, SetupFile> m_conditionSetups;
    std::optional<ConditionRotation> m_rotation; // read from Runs.txt when first needed
    QString m_modelCondition;
    StudyDesign m_design;
    QList<QStringList> m_orders;             // the block orders of a within-person design
    std::optional<QList<int>> m_orderCounts; // persons who played each order through
    std::uint64_t m_personsAssigned = 0;     // persons of the records and of this launch
    QString m_warnedSetupId;                 // the setup whose delays were last checked at a start
};
