#include "core/recording/database.h"

#include "core/common/dialogs.h"
#include "core/common/numbers.h"
#include "core/setup/questionnairefile.h"

#include <QPointer>
#include <QRandomGenerator>
#include <QStringList>

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace {

struct Failure {
    int code = 0; // extended result code
    QString message;
};

QString quotedName(QString name) {
    return QLatin1Char('"') + name.replace(QLatin1Char('"'), QStringLiteral("\"\"")) +
           QLatin1Char('"');
}

QString insertStatement(const QString &tableName, const Row &row) {
    if (row.isEmpty())
        return QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(quotedName(tableName));
    QStringList names;
    QStringList marks;
    for (const Column &column : row) {
        names.append(quotedName(column.name));
        marks.append(QStringLiteral("?"));
    }
    return QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
        .arg(quotedName(tableName), names.join(QStringLiteral(", ")),
             marks.join(QStringLiteral(", ")));
}

bool isLockError(int code) {
    const int primary = code & 0xff;
    return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

// One row's way into the table, as steps that can each be retried on their own. The row is
// inserted and committed in one transaction, so it lands once or not at all: a failure that
// ends the transaction sends the retry back to its start.
class Insertion {
public:
    Insertion(const QString &path, const QString &tableName, const RowSource &row)
        : m_path(path.toUtf8())
        , m_source(row)
        , m_row(row())
        , m_sql(insertStatement(tableName, m_row).toUtf8()) {}
    ~Insertion() {
        sqlite3_finalize(m_insert);
        if (m_db != nullptr && sqlite3_get_autocommit(m_db) == 0)
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close_v2(m_db);
    }
    Insertion(const Insertion &) = delete;
    Insertion &operator=(const Insertion &) = delete;

    bool done() const { return m_step == Step::Done; }
    qint64 rowId() const { return m_rowId; }

    // Runs the next step; on failure the same step runs again on the next call.
    std::optional<Failure> advance() {
        switch (m_step) {
        case Step::Open:
            return open();
        case Step::Prepare:
            return prepare();
        case Step::Begin:
            return execute("BEGIN IMMEDIATE", Step::Insert);
        case Step::Insert:
            return insert();
        case Step::Commit:
            return execute("COMMIT", Step::Done);
        case Step::Done:
            break;
        }
        return std::nullopt;
    }

private:
    enum class Step { Open, Prepare, Begin, Insert, Commit, Done };

    Failure lastFailure() const {
        return {sqlite3_extended_errcode(m_db), QString::fromUtf8(sqlite3_errmsg(m_db))};
    }

    // A failed statement may have ended the transaction, and with it the row.
    void restartIfRolledBack() {
        if (sqlite3_get_autocommit(m_db) != 0) {
            sqlite3_reset(m_insert);
            m_step = Step::Begin;
        }
    }

    std::optional<Failure> open() {
        // Without SQLITE_OPEN_CREATE a missing file is an error: the program never makes one.
        const int rc = sqlite3_open_v2(m_path.constData(), &m_db, SQLITE_OPEN_READWRITE, nullptr);
        if (rc != SQLITE_OK) {
            Failure failure{rc, QString::fromUtf8(sqlite3_errstr(rc))};
            if (m_db != nullptr) {
                failure = lastFailure();
                sqlite3_close_v2(m_db);
                m_db = nullptr;
            }
            return failure;
        }
        sqlite3_extended_result_codes(m_db, 1);
        // No waiting inside the engine: a lock must reach the program's own back-off.
        sqlite3_busy_timeout(m_db, 0);
        m_step = Step::Prepare;
        return std::nullopt;
    }

    // Also the check that the table and its columns exist. Nothing is written yet, so a retry
    // opens the file again: the operator may have put a mended copy in its place.
    std::optional<Failure> prepare() {
        if (sqlite3_prepare_v2(m_db, m_sql.constData(), -1, &m_insert, nullptr) != SQLITE_OK) {
            const Failure failure = lastFailure();
            sqlite3_finalize(m_insert);
            m_insert = nullptr;
            sqlite3_close_v2(m_db);
            m_db = nullptr;
            m_step = Step::Open;
            return failure;
        }
        m_step = Step::Begin;
        return std::nullopt;
    }

    bool bindValues() {
        m_texts.clear();
        m_texts.reserve(static_cast<size_t>(m_row.size()));
        int index = 1;
        for (const Column &column : m_row) {
            if (bindValue(index++, column.value) != SQLITE_OK)
                return false;
        }
        return true;
    }

    int bindValue(int index, const QVariant &value) {
        if (value.isNull())
            return sqlite3_bind_null(m_insert, index);
        switch (value.metaType().id()) {
        case QMetaType::Double:
        case QMetaType::Float:
            return sqlite3_bind_double(m_insert, index, value.toDouble());
        case QMetaType::Bool:
        case QMetaType::Short:
        case QMetaType::UShort:
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::Long:
        case QMetaType::LongLong:
            return sqlite3_bind_int64(m_insert, index, value.toLongLong());
        default:
            // The text stays alive in m_texts while the statement uses it (a null destructor
            // tells the engine not to copy it).
            m_texts.push_back(value.toString().toUtf8());
            return sqlite3_bind_text(m_insert, index, m_texts.back().constData(),
                                     static_cast<int>(m_texts.back().size()), nullptr);
        }
    }

    std::optional<Failure> execute(const char *sql, Step next) {
        if (sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
            const Failure failure = lastFailure();
            if (m_step == Step::Commit)
                restartIfRolledBack();
            return failure;
        }
        m_step = next;
        return std::nullopt;
    }

    std::optional<Failure> insert() {
        // The row is made anew for each try: its date and time are those of this write.
        m_row = m_source();
        if (!bindValues()) {
            const Failure failure = lastFailure();
            sqlite3_reset(m_insert);
            return failure;
        }
        if (sqlite3_step(m_insert) != SQLITE_DONE) {
            const Failure failure = lastFailure();
            sqlite3_reset(m_insert);
            restartIfRolledBack();
            return failure;
        }
        m_rowId = sqlite3_last_insert_rowid(m_db);
        m_step = Step::Commit;
        return std::nullopt;
    }

    QByteArray m_path;
    RowSource m_source;
    Row m_row;
    QByteArray m_sql;
    std::vector<QByteArray> m_texts;
    sqlite3 *m_db = nullptr;
    sqlite3_stmt *m_insert = nullptr;
    Step m_step = Step::Open;
    qint64 m_rowId = 0;
};

// Asks through `dialogs`; the answer may come after `owner` is gone, and then has nothing left
// to act on.
void askWhileAlive(Dialogs &dialogs, QObject *owner, const QString &title, const QString &text,
                   Dialogs::Icon icon, Dialogs::Answer answer) {
    dialogs.ask(title, text, icon,
                [alive = QPointer<QObject>(owner), answer = std::move(answer)](bool yes) {
                    if (alive)
                        answer(yes);
                });
}

} // namespace

// One row asked for, and how far its write has come.
struct Database::Pending {
    QString tableName;
    QString status;
    RowSource source;
    Written written;
    std::unique_ptr<Insertion> insertion; // made at the row's first attempt
    int retries = 0;                      // lock errors of this row
};

Database::Database(QString path, Dialogs &dialogs, QObject *parent)
    : QObject(parent)
    , m_path(std::move(path))
    , m_dialogs(dialogs)
    , m_random([] { return QRandomGenerator::global()->generateDouble(); })
    , m_pause([](std::chrono::microseconds planned) { return planned; })
    , m_timer(new QTimer(this)) {
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &Database::advance);
}

// A row still queued is dropped unwritten: its Insertion rolls back and closes the file, and
// an answer still to come from an open box finds the object gone (see askWhileAlive()).
Database::~Database() {
    m_timer->stop();
    m_queue.clear();
}

void Database::setRandom(Random random) {
    if (random)
        m_random = std::move(random);
}

void Database::setPause(std::function<std::chrono::microseconds(std::chrono::microseconds)> pause) {
    if (pause)
        m_pause = std::move(pause);
}

void Database::appendRow(const QString &tableName, const QString &status, RowSource row,
                         Written written) {
    auto pending = std::make_unique<Pending>();
    pending->tableName = tableName;
    pending->status = status;
    pending->source = std::move(row);
    pending->written = std::move(written);
    m_queue.push_back(std::move(pending));
    if (m_queue.size() == 1)
        startNext();
}

bool Database::idle() const {
    return m_queue.empty();
}

// From a timer, so that no caller hears of its row inside appendRow().
void Database::startNext() {
    m_timer->start(0);
}

// Runs the front row's steps until it is written or one fails.
void Database::advance() {
    if (m_queue.empty())
        return;
    Pending &row = *m_queue.front();
    if (!row.insertion)
        row.insertion = std::make_unique<Insertion>(m_path, row.tableName, row.source);
    while (!row.insertion->done()) {
        const std::optional<Failure> failure = row.insertion->advance();
        if (!failure)
            continue;
        if (isLockError(failure->code))
            lockedOut(failure->code, failure->message);
        else
            failed(failure->code, failure->message);
        return;
    }
    finish(true);
}

void Database::lockedOut(int code, const QString &message) {
    Pending &row = *m_queue.front();
    if (++row.retries <= 10) {
        retryAfterPause();
        return;
    }
    const QString title = QStringLiteral("Error %1: %2").arg(QString::number(code), row.status);
    const QString text =
        message + QLatin1Char('\n') + row.tableName + QStringLiteral("\nRetry? (No to quit)");
    askWhileAlive(m_dialogs, this, title, text, Dialogs::Icon::Question,
                  [this, code, message](bool yes) {
                      if (yes) {
                          m_queue.front()->retries = 1;
                          retryAfterPause();
                      } else {
                          failed(code, message);
                      }
                  });
}

// Any failure but a lock, and a lock the operator would not wait out: Yes retries at once, No
// gives the row up.
void Database::failed(int code, const QString &message) {
    const QString text = QStringLiteral("Error %1: %2\nStatus was %3\nRetry?")
                             .arg(QString::number(code), message, m_queue.front()->status);
    askWhileAlive(m_dialogs, this, QStringLiteral("Problems opening table"), text,
                  Dialogs::Icon::None, [this](bool yes) {
                      if (yes)
                          advance();
                      else
                          finish(false);
                  });
}

// Waits before the next attempt after a lock error, each time longer, at random so that two
// programs waiting for each other fall out of step.
void Database::retryAfterPause() {
    const int retries = m_queue.front()->retries;
    const double r = m_random();
    const auto unit = static_cast<int64_t>(r * 3000 + 1000); // 1000 to 3999 microseconds
    const std::chrono::microseconds pause =
        m_pause(std::chrono::microseconds(unit * retries * retries));
    // The timer counts whole milliseconds; rounding up never makes a pause shorter.
    m_timer->start(static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(pause).count()));
}

// Ends the front row, tells its caller, and goes on with the next row.
void Database::finish(bool written) {
    const std::unique_ptr<Pending> row = std::move(m_queue.front());
    m_queue.pop_front();
    const qint64 rowId = written ? row->insertion->rowId() : 0;
    row->insertion.reset(); // closes the file before the caller hears
    const QPointer<Database> self(this);
    if (row->written)
        row->written(written, rowId);
    if (!self)
        return;
    if (m_queue.empty())
        emit drained();
    else
        startNext();
}

Row subjectRow(const QString &subjectName, const QString &versionText, const QString &condition,
               const QString &majorText, bool isMale, const QString &ageText,
               const QDateTime &now) {
    return subjectRow(subjectName, versionText, condition, majorText,
                      isMale ? QStringLiteral("Male") : QStringLiteral("Female"), ageText, now);
}

Row subjectRow(const QString &subjectName, const QString &versionText, const QString &condition,
               const QString &majorText, const QString &genderText, const QString &ageText,
               const QDateTime &now) {
    return subjectRow(subjectName, versionText, condition, majorText, genderText, std::nullopt,
                      ageText, now);
}

Row subjectRow(const QString &subjectName, const QString &versionText, const QString &condition,
               const QString &majorText, const QString &genderText, std::optional<int> genderNumber,
               const QString &ageText, const QDateTime &now) {
    Row row{
        {QStringLiteral("Subject"), subjectName},
        {QStringLiteral("Version"), versionText},
        {QStringLiteral("Condition"), condition},
        {QStringLiteral("Major"), majorText},
        {QStringLiteral("Gender"), genderText},
        {QStringLiteral("Age"), numbers::leadingNumber(ageText)},
        {QStringLiteral("Date"), now.date().toString(Qt::ISODate)},
        {QStringLiteral("Time"), numbers::clockTime(now.time())},
    };
    if (genderNumber)
        row.append({QStringLiteral("GenderNumber"), *genderNumber});
    return row;
}

QString conditionOf(bool scaledTank) {
    return scaledTank ? QStringLiteral("continuous") : QStringLiteral("discrete");
}

Row questionnaireRow(const QString &subjectName, const QString &versionTag, int questionNumber,
                     const QString &answer) {
    return {
        {QStringLiteral("Subject"), subjectName},
        {QStringLiteral("Version"), versionTag},
        {QStringLiteral("QuestionNumber"), questionNumber},
        {QStringLiteral("QuestionAnswer"), answer},
    };
}

Row runRow(const QString &runId, const QString &subjectName, const QString &studyCondition,
           const QString &setupId, qint64 subjectRowId, RunPlayer player,
           const QString &studyFilesId) {
    Row row{
        {QStringLiteral("RunId"), runId},
        {QStringLiteral("Subject"), subjectName},
        {QStringLiteral("StudyCondition"), studyCondition},
        {QStringLiteral("SetupId"), setupId},
        {QStringLiteral("SubjectRowId"), subjectRowId},
        {QStringLiteral("Player"), runPlayerText(player)},
    };
    // A run that kept no study files leaves the column NULL.
    if (!studyFilesId.isEmpty())
        row.append({QStringLiteral("StudyFilesId"), studyFilesId});
    return row;
}

Row runQuestionnaireRow(const QString &runId, qint64 questionnaireRowId) {
    return {
        {QStringLiteral("RunId"), runId},
        {QStringLiteral("QuestionnaireRowId"), questionnaireRowId},
    };
}

Row consentRow(const QString &sittingId, bool agreed, const QDateTime &when) {
    return Row{{QStringLiteral("SittingId"), sittingId},
               {QStringLiteral("Agreed"), agreed ? 1 : 0},
               {QStringLiteral("Date"), when.toString(Qt::ISODate).left(10)},
               {QStringLiteral("Time"), when.toString(QStringLiteral("HH:mm:ss"))}};
}

Row studyAnswerRow(const QString &runId, const StudyAnswer &answer) {
    Row row{
        {QStringLiteral("RunId"), runId},
        {QStringLiteral("QuestionId"), answer.questionId},
        {QStringLiteral("QuestionText"), answer.questionText},
        {QStringLiteral("Answer"), answer.answer},
        {QStringLiteral("AnswerNumber"), answer.number ? QVariant(*answer.number) : QVariant()},
    };
    // The newer columns only where they hold something: a plain answer's row is as ever.
    if (!answer.options.isEmpty())
        row.append({QStringLiteral("AnswerOptions"), OptionNumbersText(answer.options)});
    if (answer.attempt > 0)
        row.append({QStringLiteral("Attempt"), answer.attempt});
    if (answer.correct)
        row.append({QStringLiteral("Correct"), *answer.correct ? 1 : 0});
    return row;
}

namespace {

bool hasColumn(sqlite3 *db, const char *table, const char *column) {
    sqlite3_stmt *query = nullptr;
    bool found = false;
    const QByteArray sql = QByteArray("SELECT 1 FROM pragma_table_info('") + table +
                           "') WHERE name = '" + column + "'";
    if (sqlite3_prepare_v2(db, sql.constData(), -1, &query, nullptr) == SQLITE_OK)
        found = sqlite3_step(query) == SQLITE_ROW;
    sqlite3_finalize(query);
    return found;
}

bool hasTable(sqlite3 *db, const char *table) {
    sqlite3_stmt *query = nullptr;
    bool found = false;
    const QByteArray sql =
        QByteArray("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = '") + table + "'";
    if (sqlite3_prepare_v2(db, sql.constData(), -1, &query, nullptr) == SQLITE_OK)
        found = sqlite3_step(query) == SQLITE_ROW;
    sqlite3_finalize(query);
    return found;
}

// The columns added after the tables were first made; the rows already there keep NULL.
int addLaterColumns(sqlite3 *db) {
    static const char *const later[][3] = {
        {"datSubject", "GenderNumber", "INTEGER"}, {"datAnswer", "AnswerOptions", "TEXT"},
        {"datAnswer", "Attempt", "INTEGER"},       {"datAnswer", "Correct", "INTEGER"},
        {"datRun", "StudyFilesId", "TEXT"},
    };
    int rc = SQLITE_OK;
    for (const auto &column : later) {
        // A table that is missing is the writer's problem, named when a row is written.
        if (rc != SQLITE_OK || !hasTable(db, column[0]) || hasColumn(db, column[0], column[1]))
            continue;
        const QByteArray sql =
            QByteArray("ALTER TABLE ") + column[0] + " ADD COLUMN " + column[1] + ' ' + column[2];
        rc = sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr);
    }
    return rc;
}

} // namespace

bool AddRunTables(const QString &databasePath, QString *error) {
    static const char *const sql =
        "CREATE TABLE IF NOT EXISTS datRun (RunId TEXT PRIMARY KEY, Subject TEXT, "
        "StudyCondition TEXT, SetupId TEXT, SubjectRowId INTEGER, Player TEXT, "
        "StudyFilesId TEXT);"
        "CREATE TABLE IF NOT EXISTS datRunQuestionnaire (RunId TEXT, "
        "QuestionnaireRowId INTEGER);"
        "CREATE TABLE IF NOT EXISTS datAnswer (RunId TEXT, QuestionId TEXT, QuestionText TEXT, "
        "Answer TEXT, AnswerNumber REAL);"
        "CREATE TABLE IF NOT EXISTS datSitting (SittingId TEXT, SubjectRowId INTEGER, "
        "Language TEXT, Assignment TEXT, Seed TEXT, Draw INTEGER, Conditions TEXT);"
        "CREATE TABLE IF NOT EXISTS datConsent (SittingId TEXT, Agreed INTEGER, Date TEXT, "
        "Time TEXT);"
        "CREATE TABLE IF NOT EXISTS datPanel (SubjectRowId INTEGER, ParticipantId TEXT, "
        "StudyId TEXT, SessionId TEXT);";
    sqlite3 *db = nullptr;
    // Without SQLITE_OPEN_CREATE a missing file stays missing: the program never makes one.
    int rc =
        sqlite3_open_v2(databasePath.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
    if (rc == SQLITE_CANTOPEN) {
        sqlite3_close_v2(db);
        return true;
    }
    if (rc == SQLITE_OK) {
        sqlite3_busy_timeout(db, 2000);
        rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    }
    // A datRun made before Player: its rows stay without one (NULL), read by the earlier rule.
    if (rc == SQLITE_OK && !hasColumn(db, "datRun", "Player"))
        rc = sqlite3_exec(db, "ALTER TABLE datRun ADD COLUMN Player TEXT", nullptr, nullptr,
                          nullptr);
    if (rc == SQLITE_OK)
        rc = addLaterColumns(db);
    if (rc != SQLITE_OK)
        *error = QStringLiteral("The run tables cannot be added to %1: %2")
                     .arg(databasePath, QString::fromUtf8(sqlite3_errmsg(db)));
    sqlite3_close_v2(db);
    return rc == SQLITE_OK;
}

bool SubjectRecorded(const QString &databasePath, const QString &subject) {
    sqlite3 *db = nullptr;
    sqlite3_stmt *query = nullptr;
    bool found = false;
    const QByteArray name = subject.toUtf8();
    if (sqlite3_open_v2(databasePath.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) ==
            SQLITE_OK &&
        sqlite3_prepare_v2(db, "SELECT 1 FROM datSubject WHERE Subject = ? LIMIT 1", -1, &query,
                           nullptr) == SQLITE_OK &&
        sqlite3_bind_text(query, 1, name.constData(), static_cast<int>(name.size()), nullptr) ==
            SQLITE_OK)
        found = sqlite3_step(query) == SQLITE_ROW;
    sqlite3_finalize(query);
    sqlite3_close_v2(db);
    return found;
}

void RecordSubject(Database &database, RowSource subject, Database::Written written) {
    database.appendRow(QStringLiteral("datSubject"), QStringLiteral("Recording demographics"),
                       std::move(subject), std::move(written));
}

void RecordQuestionnaireAnswer(Database &database, const Row &answer, Database::Written written) {
    database.appendRow(
        QStringLiteral("datQuestionnaire"), QStringLiteral("Recording Questionnaire"),
        [answer] { return answer; }, std::move(written));
}

void RecordRun(Database &database, const Row &run, Database::Written written) {
    database.appendRow(
        QStringLiteral("datRun"), QStringLiteral("Recording the run"), [run] { return run; },
        std::move(written));
}

void RecordRunQuestionnaire(Database &database, const Row &link, Database::Written written) {
    database.appendRow(
        QStringLiteral("datRunQuestionnaire"), QStringLiteral("Recording Questionnaire"),
        [link] { return link; }, std::move(written));
}

void RecordStudyAnswer(Database &database, const Row &answer, Database::Written written) {
    database.appendRow(
        QStringLiteral("datAnswer"), QStringLiteral("Recording Questionnaire"),
        [answer] { return answer; }, std::move(written));
}
