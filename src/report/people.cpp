#include "report/people.h"

#include "core/common/numbers.h"

#include <QFileInfo>
#include <QStringList>

#include <sqlite3.h>

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
    return {row.at(0), row.at(1), row.at(2), row.at(3), row.at(4), row.at(5), row.at(6), row.at(7)};
}

QuestionnaireAnswer questionnaireAnswer(const QStringList &row) {
    return {row.at(0), row.at(1), row.at(2), row.at(3)};
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

} // namespace

QList<SubjectRecord> People::subjectRecordsOf(const QString &subject) const {
    return rowsOf(subjects, subject);
}

QList<QuestionnaireAnswer> People::answersOf(const QString &subject) const {
    return rowsOf(answers, subject);
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
    const bool subjectsRead = readTable(
        database, "datSubject",
        "SELECT Subject, Version, Condition, Major, Gender, Age, Date, Time FROM datSubject "
        "ORDER BY rowid",
        subjectRecord, people.subjects, problems);
    const bool answersRead =
        readTable(database, "datQuestionnaire",
                  "SELECT Subject, Version, QuestionNumber, QuestionAnswer FROM datQuestionnaire "
                  "ORDER BY QuestionNumber, rowid",
                  questionnaireAnswer, people.answers, problems);
    people.isRead = subjectsRead || answersRead;
    return people;
}
