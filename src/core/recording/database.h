#pragma once

#include "core/recording/runfile.h"

#include <QDateTime>
#include <QString>
#include <QVariant>
#include <QVector>

#include <chrono>
#include <functional>

class Dialogs;
struct StudyAnswer;

// The database of subject records and questionnaire answers, data/Krugel.db. The file and its
// tables are made by the build or --init. The program appends rows; it never creates the
// file, and the only tables it adds are datRun, datRunQuestionnaire and datAnswer, to a database
// made before they existed.

// One value of a row to append, by column name.
struct Column {
    QString name;
    QVariant value; // QString -> text, double -> real, integer -> integer, null -> NULL
};
using Row = QVector<Column>;
// Builds a row at the moment it is written, so that a date and time in it are those of the
// write, after any wait for a lock.
using RowSource = std::function<Row()>;

// Appends rows, opening and closing the database for each one. Another program may hold the
// file locked: a lock is waited out with growing random pauses, and the operator is asked
// from the eleventh lock of one row on. Any other failure asks the operator at once.
class Database {
public:
    using Wait = std::function<void(std::chrono::microseconds)>;
    using Random = std::function<double()>; // uniform in [0, 1)

    // `endProgram` is the program's end routine; it may return (a model is connected).
    // `processEvents` lets the windows repaint once before each pause.
    Database(QString path, Dialogs &dialogs, std::function<void()> endProgram,
             std::function<void()> processEvents = {});

    // Test seams: the pause before a retry and the random number that sizes it.
    void setWait(Wait wait);
    void setRandom(Random random);

    // Appends one row to `tableName` in a transaction of its own; `status` names the work in
    // the error dialogs ("Recording demographics"). False, with nothing written, when the
    // operator declined to retry and the end routine returned.
    // `rowId`, when given, receives the new row's rowid.
    bool appendRow(const QString &tableName, const QString &status, const RowSource &row,
                   qint64 *rowId = nullptr);
    bool appendRow(const QString &tableName, const QString &status, const Row &row,
                   qint64 *rowId = nullptr);

private:
    void backOff(int &retries, int code, const QString &message, const QString &tableName,
                 const QString &status);
    bool askProblemsOpeningTable(int code, const QString &message, const QString &status);

    QString m_path;
    Dialogs &m_dialogs;
    std::function<void()> m_endProgram;
    std::function<void()> m_processEvents;
    Wait m_wait;
    Random m_random;
};

// The datSubject row of the subject form's Begin: the login name, the version box's text, the
// condition, the major box's text, the gender option, the age box read as a leading number,
// and the date (ISO) and 24-hour time of `now`.
Row subjectRow(const QString &subjectName, const QString &versionText, const QString &condition,
               const QString &majorText, bool isMale, const QString &ageText, const QDateTime &now);
// The same with the gender as chosen from the setup's GenderOptions, kept as its text.
Row subjectRow(const QString &subjectName, const QString &versionText, const QString &condition,
               const QString &majorText, const QString &genderText, const QString &ageText,
               const QDateTime &now);

// The subject record's condition: "continuous" while the tank is scaled (always), else
// "discrete".
QString conditionOf(bool scaledTank);

// One datQuestionnaire row: the answer to question `questionNumber` (1 to 3).
Row questionnaireRow(const QString &subjectName, const QString &versionTag, int questionNumber,
                     const QString &answer);

// The datRun row that ties a person's run to the rowid of their datSubject row.
Row runRow(const QString &runId, const QString &subjectName, const QString &studyCondition,
           const QString &setupId, qint64 subjectRowId, RunPlayer player);
// The datRunQuestionnaire row that ties a run to one of its datQuestionnaire rows.
Row runQuestionnaireRow(const QString &runId, qint64 questionnaireRowId);

// The datAnswer row of one answer to the study's own questionnaire, tied to its run;
// AnswerNumber holds a rating's point and is NULL for the other kinds.
Row studyAnswerRow(const QString &runId, const StudyAnswer &answer);

// Adds datRun, datRunQuestionnaire and datAnswer to an existing database that lacks them, and
// datRun's Player column to one made before it. A missing database is left missing. False,
// with the reason, when they could not be added.
bool AddRunTables(const QString &databasePath, QString *error);

// Whether datSubject holds a record of `subject`. Read only; a database that cannot be read
// answers false, since the program never relies on reading its records back.
bool SubjectRecorded(const QString &databasePath, const QString &subject);

// Write a row built above to its table, with the table's status phrase.
bool RecordSubject(Database &database, const RowSource &subject, qint64 *rowId = nullptr);
bool RecordSubject(Database &database, const Row &subject, qint64 *rowId = nullptr);
bool RecordQuestionnaireAnswer(Database &database, const Row &answer, qint64 *rowId = nullptr);
bool RecordRun(Database &database, const Row &run);
bool RecordRunQuestionnaire(Database &database, const Row &link);
bool RecordStudyAnswer(Database &database, const Row &answer);
