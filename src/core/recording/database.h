#pragma once

#include "core/recording/runfile.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QVariant>
#include <QVector>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>

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

// Appends rows, opening and closing the database for each one, one row after the other in
// the order they were asked for. Nothing here waits on the caller's thread: another program
// may hold the file locked, and a lock is waited out by a timer with growing random pauses
// (1000 to 3999 microseconds times the square of the lock's count); the operator is asked
// from the eleventh lock of one row on, and at once for any other failure. The operator's
// last No gives the row up: its caller hears so, and decides what follows.
class Database : public QObject {
    Q_OBJECT
public:
    using Random = std::function<double()>; // uniform in [0, 1)
    // What became of one row: written, with its rowid, or given up with nothing written.
    using Written = std::function<void(bool written, qint64 rowId)>;

    Database(QString path, Dialogs &dialogs, QObject *parent = nullptr);
    ~Database() override;

    // Test seams: the random number that sizes a pause, and the pause itself (given the
    // planned one, returns the one to wait; by default the planned one).
    void setRandom(Random random);
    void setPause(std::function<std::chrono::microseconds(std::chrono::microseconds)> pause);

    // Appends one row to `tableName` in a transaction of its own, after every row asked for
    // before it; `status` names the work in the error boxes ("Recording demographics"). The
    // row is built when it is written (after any wait), so a time in it is the write's.
    // `written` follows, never inside this call.
    void appendRow(const QString &tableName, const QString &status, RowSource row,
                   Written written = {});
    // No row is waiting to be written.
    bool idle() const;

signals:
    // The last row waiting was written or given up.
    void drained();

private:
    struct Pending;
    void startNext();
    void advance();
    void lockedOut(int code, const QString &message);
    void failed(int code, const QString &message);
    void finish(bool written);
    void retryAfterPause();

    QString m_path;
    Dialogs &m_dialogs;
    Random m_random;
    std::function<std::chrono::microseconds(std::chrono::microseconds)> m_pause;
    std::deque<std::unique_ptr<Pending>> m_queue;
    QTimer *m_timer = nullptr;
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
// The same with the option's number (from 1) in GenderNumber beside its text.
Row subjectRow(const QString &subjectName, const QString &versionText, const QString &condition,
               const QString &majorText, const QString &genderText, std::optional<int> genderNumber,
               const QString &ageText, const QDateTime &now);

// The subject record's condition: "continuous" while the tank is scaled (always), else
// "discrete".
QString conditionOf(bool scaledTank);

// One datQuestionnaire row: the answer to question `questionNumber` (1 to 3).
Row questionnaireRow(const QString &subjectName, const QString &versionTag, int questionNumber,
                     const QString &answer);

// The datRun row that ties a person's run to the rowid of their datSubject row, and to the
// study files it showed, kept as studyfiles/STUDYFILESID/ (NULL when it kept none).
Row runRow(const QString &runId, const QString &subjectName, const QString &studyCondition,
           const QString &setupId, qint64 subjectRowId, RunPlayer player,
           const QString &studyFilesId = {});
// The datRunQuestionnaire row that ties a run to one of its datQuestionnaire rows.
Row runQuestionnaireRow(const QString &runId, qint64 questionnaireRowId);

// The datAnswer row of one answer to the study's own questionnaire, tied to its run;
// AnswerNumber holds the number of a rating, slider or number and a choice's option number
// (NULL for a multiple and a text), AnswerOptions the options chosen of a choice or multiple
// ("1;3"), and Attempt and Correct a comprehension check's Submit and verdict (1 or 0).
Row studyAnswerRow(const QString &runId, const StudyAnswer &answer);
// The datConsent row of a sitting's answer to the consent page, given at `when`.
Row consentRow(const QString &sittingId, bool agreed, const QDateTime &when);

// Adds datRun, datRunQuestionnaire, datAnswer, datSitting, datConsent and datPanel to an
// existing database that lacks them, and datRun's Player and StudyFilesId columns to one made
// before them, as datSubject's GenderNumber and datAnswer's AnswerOptions, Attempt and
// Correct. A missing database is left missing. False, with the reason, when they could not be
// added.
bool AddRunTables(const QString &databasePath, QString *error);

// Whether datSubject holds a record of `subject`. Read only; a database that cannot be read
// answers false, since the program never relies on reading its records back.
bool SubjectRecorded(const QString &databasePath, const QString &subject);

// Write a row built above to its table, with the table's status phrase.
void RecordSubject(Database &database, RowSource subject, Database::Written written = {});
void RecordQuestionnaireAnswer(Database &database, const Row &answer,
                               Database::Written written = {});
void RecordRun(Database &database, const Row &run, Database::Written written = {});
void RecordRunQuestionnaire(Database &database, const Row &link, Database::Written written = {});
void RecordStudyAnswer(Database &database, const Row &answer, Database::Written written = {});
