#include "report/people.h"

#include "core/common/numbers.h"

#include <QFileInfo>
#include <QSet>
#include <QStringList>

#include <sqlite3.h>

#include <algorithm>
#include <optional>

namespace {

const QString fileLabel = QStringLiteral("Krugel.db");

// Another program may be writing a row; its lock lasts milliseconds.
constexpr int lockWaitMilliseconds = 2000;

class ReadOnlyDatabase {
public:
    explicit ReadOnlyDatabase(const QString &path) {
        m_code = sqlite3_open_v2(path.toUtf8().constData(), &m_db, SQLITE_OPEN_READONLY, nullptr);
        if (m_db != nullptr)
            sqlite3_busy_timeout(m_db, lockWaitMilliseconds);
    }
    ~ReadOnlyDatabase() { sqlite3_close_v2(m_db); }
    ReadOnlyDatabase(const ReadOnlyDatabase &) = delete;
    ReadOnlyDatabase &operator=(const ReadOnlyDatabase &) = delete;

    bool isOpen() const { return m_code == SQLITE_OK; }
    QString error() const {
        return QString::fromUtf8(m_db != nullptr ? sqlite3_errmsg(m_db) : sqlite3_errstr(m_code));
    }

    // Every row of `sql`, each value as text; nothing, with the reason in `error()`, when the
    // query fails.
    std::optional<QList<QStringList>> rows(const char *sql) const {
        sqlite3_stmt *query = nullptr;
        if (sqlite3_prepare_v2(m_db, sql, -1, &query, nullptr) != SQLITE_OK)
            return std::nullopt;
        QList<QStringList> result;
        int code = SQLITE_ROW;
        while ((code = sqlite3_step(query)) == SQLITE_ROW) {
            QStringList row;
            for (int column = 0; column < sqlite3_column_count(query); ++column)
                row.append(valueText(query, column));
            result.append(row);
        }
        sqlite3_finalize(query);
        if (code != SQLITE_DONE)
            return std::nullopt;
        return result;
    }

private:
    // A real as the data file writes numbers (21, not 21.0); NULL as an empty text.
    static QString valueText(sqlite3_stmt *query, int column) {
        if (sqlite3_column_type(query, column) == SQLITE_FLOAT)
            return numbers::general(sqlite3_column_double(query, column));
        return QString::fromUtf8(
            reinterpret_cast<const char *>(sqlite3_column_text(query, column)));
    }

    sqlite3 *m_db = nullptr;
    int m_code = SQLITE_OK;
};

SubjectRecord subjectRecord(const QStringList &row) {
    return {row.at(1), row.at(2), row.at(3),
            row.at(4), row.at(5), row.at(6),
            row.at(7), row.at(8), row.at(0).toLongLong(),
            row.at(9)};
}

QuestionnaireAnswer questionnaireAnswer(const QStringList &row) {
    return {row.at(1), row.at(2), row.at(3), row.at(4), row.at(0).toLongLong()};
}

StudyAnswerRecord studyAnswerRecord(const QStringList &row) {
    return {row.at(0), row.at(1), row.at(2), row.at(3), row.at(4), row.at(5), row.at(6), row.at(7)};
}

// The rows of one table, each made by `rowOf`; a table that cannot be read is named.
template <typename Row>
bool readTable(const ReadOnlyDatabase &database, const char *table, const char *sql,
               Row (*rowOf)(const QStringList &), QList<Row> &into, Problems &problems) {
    const std::optional<QList<QStringList>> rows = database.rows(sql);
    if (!rows) {
        problems.append(
            {fileLabel, 0,
             QStringLiteral("%1 cannot be read (%2)").arg(QLatin1String(table), database.error())});
        return false;
    }
    for (const QStringList &row : *rows)
        into.append(rowOf(row));
    return true;
}

template <typename Row> QList<Row> rowsOf(const QList<Row> &rows, const QString &subject) {
    QList<Row> found;
    for (const Row &row : rows) {
        if (row.subject == subject)
            found.append(row);
    }
    return found;
}

bool hasTable(const ReadOnlyDatabase &database, const char *name) {
    const std::optional<QList<QStringList>> rows = database.rows(
        (QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = '") +
         QLatin1String(name) + QLatin1Char('\''))
            .toUtf8()
            .constData());
    return rows && !rows->isEmpty() && rows->constFirst().value(0) == QLatin1String("1");
}

bool hasColumn(const ReadOnlyDatabase &database, const char *table, const char *column) {
    const std::optional<QList<QStringList>> rows = database.rows(
        (QStringLiteral("SELECT count(*) FROM pragma_table_info('") + QLatin1String(table) +
         QStringLiteral("') WHERE name = '") + QLatin1String(column) + QLatin1Char('\''))
            .toUtf8()
            .constData());
    return rows && !rows->isEmpty() && rows->constFirst().value(0) == QLatin1String("1");
}

// The column, or NULL in a table made before it was added.
QByteArray columnOrNull(const ReadOnlyDatabase &database, const char *table, const char *column) {
    return hasColumn(database, table, column) ? QByteArray(column) : QByteArray("NULL");
}

QByteArray subjectQuery(const ReadOnlyDatabase &database) {
    return "SELECT rowid, Subject, Version, Condition, Major, Gender, Age, Date, Time, " +
           columnOrNull(database, "datSubject", "GenderNumber") + " FROM datSubject ORDER BY rowid";
}

QByteArray studyAnswerQuery(const ReadOnlyDatabase &database) {
    return "SELECT RunId, QuestionId, QuestionText, Answer, AnswerNumber, " +
           columnOrNull(database, "datAnswer", "AnswerOptions") + ", " +
           columnOrNull(database, "datAnswer", "Attempt") + ", " +
           columnOrNull(database, "datAnswer", "Correct") + " FROM datAnswer ORDER BY rowid";
}

bool hasRunTables(const ReadOnlyDatabase &database) {
    return hasTable(database, "datRun") && hasTable(database, "datRunQuestionnaire");
}

bool readRunLinks(const ReadOnlyDatabase &database, People &people, Problems &problems) {
    const std::optional<QList<QStringList>> runs =
        database.rows("SELECT RunId, SubjectRowId, StudyCondition FROM datRun ORDER BY rowid");
    const std::optional<QList<QStringList>> answers =
        database.rows("SELECT RunId, QuestionnaireRowId FROM datRunQuestionnaire ORDER BY rowid");
    if (!runs || !answers) {
        problems.append({fileLabel, 0,
                         QStringLiteral("datRun or datRunQuestionnaire cannot be read (%1); "
                                        "answers are matched by the subject's name")
                             .arg(database.error())});
        return false;
    }
    for (const QStringList &row : *runs) {
        people.runLinks.append({row.at(0), row.at(1).toLongLong(), row.at(2)});
        people.subjectRowOfRun.insert(row.at(0), row.at(1).toLongLong());
    }
    for (const QStringList &row : *answers)
        people.answerRowsOfRun[row.at(0)].append(row.at(1).toLongLong());
    return true;
}

// The study files each run kept; a run without is left out, and a datRun made before the
// column cannot answer the query: none of its runs kept any.
void readStudyFilesOfRuns(const ReadOnlyDatabase &database, People &people) {
    const std::optional<QList<QStringList>> runs =
        database.rows("SELECT RunId, StudyFilesId FROM datRun WHERE StudyFilesId <> ''");
    for (const QStringList &row : runs.value_or(QList<QStringList>()))
        people.studyFilesOfRun.insert(row.at(0), row.at(1));
}

// The rows of `rows` with the given rowids, in the order of `rows`.
template <typename Row> QList<Row> rowsWithIds(const QList<Row> &rows, const QSet<qint64> &ids) {
    QList<Row> found;
    for (const Row &row : rows) {
        if (ids.contains(row.rowId))
            found.append(row);
    }
    return found;
}

// The rows of `subject` that belong to no run.
template <typename Row>
QList<Row> unclaimedRowsOf(const QList<Row> &rows, const QString &subject,
                           const QSet<qint64> &claimed) {
    QList<Row> found;
    for (const Row &row : rows) {
        if (row.subject == subject && !claimed.contains(row.rowId))
            found.append(row);
    }
    return found;
}

} // namespace

bool RunPeople::answersAreTheRunsOwn() const {
    QSet<QString> questions;
    for (const QuestionnaireAnswer &answer : answers) {
        if (questions.contains(answer.questionNumber))
            return false;
        questions.insert(answer.questionNumber);
    }
    return true;
}

QList<SubjectRecord> People::subjectRecordsOf(const QString &subject) const {
    return rowsOf(subjects, subject);
}

const SubjectRecord *People::tiedSubjectOf(const QString &runId) const {
    const auto row = subjectRowOfRun.constFind(runId);
    if (runId.isEmpty() || row == subjectRowOfRun.cend())
        return nullptr;
    // Subject records are read by rowid: the one sought is found by halving.
    const auto found = std::lower_bound(
        subjects.cbegin(), subjects.cend(), *row,
        [](const SubjectRecord &record, qint64 rowId) { return record.rowId < rowId; });
    return found != subjects.cend() && found->rowId == *row ? &*found : nullptr;
}

QList<QuestionnaireAnswer> People::answersOf(const QString &subject) const {
    return rowsOf(answers, subject);
}

QList<StudyAnswerRecord> People::studyAnswersOf(const QString &runId) const {
    QList<StudyAnswerRecord> found;
    if (runId.isEmpty())
        return found;
    for (const StudyAnswerRecord &answer : studyAnswers) {
        if (answer.runId == runId)
            found.append(answer);
    }
    return found;
}

RunPeople People::ofRun(const QString &runId, const QString &subject) const {
    RunPeople found;
    found.studyAnswers = studyAnswersOf(runId);
    const bool linked = hasRunLinks && !runId.isEmpty() &&
                        (subjectRowOfRun.contains(runId) || answerRowsOfRun.contains(runId));
    if (linked) {
        found.match = RunPeople::Match::Run;
        if (subjectRowOfRun.contains(runId))
            found.records = rowsWithIds(subjects, {subjectRowOfRun.value(runId)});
        const QList<qint64> answerRows = answerRowsOfRun.value(runId);
        found.answers = rowsWithIds(answers, QSet<qint64>(answerRows.begin(), answerRows.end()));
        return found;
    }
    QSet<qint64> claimedSubjects;
    QSet<qint64> claimedAnswers;
    for (const qint64 row : subjectRowOfRun)
        claimedSubjects.insert(row);
    for (const QList<qint64> &rows : answerRowsOfRun)
        claimedAnswers.unite(QSet<qint64>(rows.begin(), rows.end()));
    found.records = unclaimedRowsOf(subjects, subject, claimedSubjects);
    found.answers = unclaimedRowsOf(answers, subject, claimedAnswers);
    return found;
}

People readPeople(const QString &path, Problems &problems) {
    People people;
    if (!QFileInfo::exists(path)) {
        problems.append({fileLabel, 0, QStringLiteral("not found; no subject records or answers")});
        return people;
    }
    const ReadOnlyDatabase database(path);
    if (!database.isOpen()) {
        problems.append(
            {fileLabel, 0, QStringLiteral("cannot be opened (%1)").arg(database.error())});
        return people;
    }
    const bool subjectsRead = readTable(database, "datSubject", subjectQuery(database).constData(),
                                        subjectRecord, people.subjects, problems);
    const bool answersRead = readTable(
        database, "datQuestionnaire",
        "SELECT rowid, Subject, Version, QuestionNumber, QuestionAnswer FROM datQuestionnaire "
        "ORDER BY QuestionNumber, rowid",
        questionnaireAnswer, people.answers, problems);
    people.isRead = subjectsRead || answersRead;
    if (people.isRead && hasRunTables(database))
        people.hasRunLinks = readRunLinks(database, people, problems);
    if (people.hasRunLinks)
        readStudyFilesOfRuns(database, people);
    if (people.isRead && hasTable(database, "datAnswer"))
        readTable(database, "datAnswer", studyAnswerQuery(database).constData(), studyAnswerRecord,
                  people.studyAnswers, problems);
    return people;
}
