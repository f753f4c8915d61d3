#include "core/common/dialogs.h"
#include "core/recording/database.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <sqlite3.h>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

// Answers Yes/No boxes from a script, later as a person would, and records every box shown.
// `onAsk` runs just before the answer is given, as the operator might fix the cause before
// pressing Yes.
class ScriptedDialogs : public Dialogs {
public:
    struct Box {
        QString title;
        QString text;
        Icon icon;
    };

    void inform(const QString &title, const QString &text, Icon icon, Done done) override {
        boxes.append({title, text, icon});
        if (done)
            QTimer::singleShot(0, std::move(done));
    }
    void ask(const QString &title, const QString &text, Icon icon, Answer answer) override {
        boxes.append({title, text, icon});
        const bool yes = answers.isEmpty() ? false : answers.takeFirst();
        QTimer::singleShot(0, [this, box = boxes.size(), yes, answer = std::move(answer)] {
            if (onAsk)
                onAsk(box);
            answer(yes);
        });
    }
    bool someoneCanAnswer() const override { return true; }

    QList<Box> boxes;
    QList<bool> answers;
    std::function<void(int boxNumber)> onAsk;
};

// A second connection to the database, as another program holding it.
class OtherConnection {
public:
    explicit OtherConnection(const QString &path) {
        sqlite3_open_v2(path.toUtf8().constData(), &m_db, SQLITE_OPEN_READWRITE, nullptr);
    }
    ~OtherConnection() { sqlite3_close_v2(m_db); }
    OtherConnection(const OtherConnection &) = delete;
    OtherConnection &operator=(const OtherConnection &) = delete;

    bool execute(const char *sql) {
        return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    // Nobody else may read or write until release().
    bool holdExclusive() { return execute("BEGIN EXCLUSIVE"); }
    // Others may read, but no one may commit a change until release().
    bool holdShared() { return execute("BEGIN") && execute("SELECT count(*) FROM datSubject"); }
    void release() {
        if (sqlite3_get_autocommit(m_db) == 0)
            execute("ROLLBACK");
    }

private:
    sqlite3 *m_db = nullptr;
};

bool executeScript(const QString &path, const QByteArray &sql) {
    sqlite3 *db = nullptr;
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    bool ok = sqlite3_open_v2(path.toUtf8().constData(), &db, flags, nullptr) == SQLITE_OK &&
              sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close_v2(db);
    return ok;
}

// The database the build lays out, made from the schema kept with the sources.
bool createDatabase(const QString &path) {
    QFile schema(QStringLiteral(FLUXMERE_SOURCE_DIR "/data/Krugel.sql"));
    return schema.open(QIODevice::ReadOnly) && executeScript(path, schema.readAll());
}

// The rows of a table, each as its values followed by the storage classes of the values.
QList<QStringList> readTable(const QString &path, const QString &table) {
    QList<QStringList> rows;
    sqlite3 *db = nullptr;
    sqlite3_stmt *query = nullptr;
    sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    const QByteArray sql = (u"SELECT * FROM "_s + table + u" ORDER BY rowid"_s).toUtf8();
    if (sqlite3_prepare_v2(db, sql.constData(), -1, &query, nullptr) == SQLITE_OK) {
        while (sqlite3_step(query) == SQLITE_ROW) {
            QStringList values;
            QStringList types;
            for (int i = 0; i < sqlite3_column_count(query); ++i) {
                values.append(QString::fromUtf8(
                    reinterpret_cast<const char *>(sqlite3_column_text(query, i))));
                static const char *const names[] = {"", "integer", "real", "text", "blob", "null"};
                types.append(QLatin1String(names[sqlite3_column_type(query, i)]));
            }
            rows.append(values + types);
        }
    }
    sqlite3_finalize(query);
    sqlite3_close_v2(db);
    return rows;
}

// What became of each row: written or not, and its rowid.
using Outcomes = QList<std::pair<bool, qint64>>;

const QDateTime sampleNow(QDate(2026, 12, 7), QTime(15, 4, 5));

Row sampleSubject() {
    return subjectRow(u"Ann"_s, QString(), u"continuous"_s, u"Psychology"_s, true, u" 25 years"_s,
                      sampleNow);
}

} // namespace

class TestDatabase : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_path;
    ScriptedDialogs m_dialogs;
    std::unique_ptr<Database> m_database;
    std::vector<std::chrono::microseconds> m_waits;
    std::function<void(int waitNumber)> m_onWait;
    Outcomes m_written; // what each row's caller heard, in order

    Database::Written note() {
        return [this](bool written, qint64 rowId) {
            m_written.append({written, rowId});
        };
    }

    // Each pause lasts 1000 to 3999 microseconds times the square of its retry count.
    void verifyWaits(const std::vector<int> &retryCounts) {
        QCOMPARE(m_waits.size(), retryCounts.size());
        for (size_t i = 0; i < m_waits.size(); ++i) {
            const auto square = static_cast<int64_t>(retryCounts[i]) * retryCounts[i];
            const int64_t time = m_waits[i].count();
            QVERIFY2(time >= 1000 * square && time < 4000 * square,
                     qPrintable(u"wait %1 lasted %2 us"_s.arg(i + 1).arg(time)));
        }
    }

private slots:
    void init() {
        m_path = m_dir.filePath(u"Krugel.db"_s);
        QFile::remove(m_path);
        QVERIFY(createDatabase(m_path));
        m_dialogs.boxes.clear();
        m_dialogs.answers.clear();
        m_dialogs.onAsk = nullptr;
        m_waits.clear();
        m_onWait = nullptr;
        m_written.clear();
        // A writer whose pauses are recorded instead of waited.
        m_database = std::make_unique<Database>(m_path, m_dialogs);
        m_database->setPause([this](std::chrono::microseconds planned) {
            m_waits.push_back(planned);
            if (m_onWait)
                m_onWait(static_cast<int>(m_waits.size()));
            return std::chrono::microseconds(0);
        });
    }

    void cleanup() { m_database.reset(); }

    void subjectRowFromTheForm_data() {
        QTest::addColumn<bool>("isMale");
        QTest::addColumn<QString>("ageText");
        QTest::addColumn<QString>("gender");
        QTest::addColumn<double>("age");
        QTest::newRow("male, age with words after it")
            << true << u" 25 years"_s << u"Male"_s << 25.0;
        QTest::newRow("female, fractional age") << false << u"19.5"_s << u"Female"_s << 19.5;
        QTest::newRow("empty age box reads 0") << false << QString() << u"Female"_s << 0.0;
    }

    void subjectRowFromTheForm() {
        QFETCH(bool, isMale);
        QFETCH(QString, ageText);
        QFETCH(QString, gender);
        QFETCH(double, age);
        const Row row = subjectRow(u"Ann"_s, u"v2"_s, u"discrete"_s, u"Biology"_s, isMale, ageText,
                                   QDateTime(QDate(2026, 1, 2), QTime(9, 5, 7)));
        QStringList names;
        for (const Column &column : row)
            names.append(column.name);
        QCOMPARE(names, QStringList({u"Subject"_s, u"Version"_s, u"Condition"_s, u"Major"_s,
                                     u"Gender"_s, u"Age"_s, u"Date"_s, u"Time"_s}));
        QCOMPARE(row.at(0).value.toString(), u"Ann"_s);
        QCOMPARE(row.at(1).value.toString(), u"v2"_s);
        QCOMPARE(row.at(2).value.toString(), u"discrete"_s);
        QCOMPARE(row.at(3).value.toString(), u"Biology"_s);
        QCOMPARE(row.at(4).value.toString(), gender);
        QCOMPARE(row.at(5).value.metaType().id(), int(QMetaType::Double));
        QCOMPARE(row.at(5).value.toDouble(), age);
        QCOMPARE(row.at(6).value.toString(), u"2026-01-02"_s);
        QCOMPARE(row.at(7).value.toString(), u"09:05:07"_s);
    }

    void subjectRecordIsStoredWithItsTypes() {
        RecordSubject(*m_database, sampleSubject, note());
        QVERIFY(m_written.isEmpty()); // never inside the call
        QVERIFY(!m_database->idle());
        QTRY_COMPARE(m_written, (Outcomes{{true, 1}}));
        QVERIFY(m_database->idle());
        const QList<QStringList> rows = readTable(m_path, u"datSubject"_s);
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows.at(0),
                 QStringList({u"Ann"_s, QString(), u"continuous"_s, u"Psychology"_s, u"Male"_s,
                              u"25.0"_s, u"2026-12-07"_s, u"15:04:05"_s, QString(), u"text"_s,
                              u"text"_s, u"text"_s, u"text"_s, u"text"_s, u"real"_s, u"text"_s,
                              u"text"_s, u"null"_s})); // GenderNumber: none without GenderOptions
        QVERIFY(m_dialogs.boxes.isEmpty());
        QVERIFY(m_waits.empty());
    }

    void questionnaireRowsAreStoredInOrder() {
        QSignalSpy drained(m_database.get(), &Database::drained);
        const QStringList answers = {u"7, it was \"hard\""_s, u"line one\nline two"_s,
                                     u"Nein, gar nicht \u00e4ndern"_s};
        for (int i = 0; i < answers.size(); ++i)
            RecordQuestionnaireAnswer(
                *m_database, questionnaireRow(u"Ann"_s, QString(), i + 1, answers.at(i)), note());
        QTRY_COMPARE(drained.count(), 1);
        QCOMPARE(m_written, (Outcomes{{true, 1}, {true, 2}, {true, 3}}));
        const QList<QStringList> rows = readTable(m_path, u"datQuestionnaire"_s);
        QCOMPARE(rows.size(), 3);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(rows.at(i),
                     QStringList({u"Ann"_s, QString(), QString::number(i + 1), answers.at(i),
                                  u"text"_s, u"text"_s, u"integer"_s, u"text"_s}));
        }
    }

    void otherFailuresAskAtOnce_data() {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("text");
        QTest::newRow("missing database file")
            << u"no file"_s << u"datSubject"_s << u"Recording demographics"_s
            << u"Error 14: unable to open database file\nStatus was Recording demographics\n"
               "Retry?"_s;
        QTest::newRow("missing table")
            << u"no questionnaire table"_s << u"datQuestionnaire"_s << u"Recording Questionnaire"_s
            << u"Error 1: no such table: datQuestionnaire\nStatus was Recording Questionnaire\n"
               "Retry?"_s;
        QTest::newRow("missing column")
            << u"no age column"_s << u"datSubject"_s << u"Recording demographics"_s
            << u"Error 1: table datSubject has no column named Age\nStatus was Recording "
               "demographics\nRetry?"_s;
        QTest::newRow("not a database")
            << u"text file"_s << u"datSubject"_s << u"Recording demographics"_s
            << u"Error 26: file is not a database\nStatus was Recording demographics\nRetry?"_s;
    }

    // Sets up the failure; returns how to remove its cause.
    std::function<bool()> breakDatabase(const QString &setup) {
        QFile::remove(m_path);
        if (setup == u"no file"_s)
            return [this] {
                return createDatabase(m_path);
            };
        if (setup == u"no questionnaire table"_s) {
            executeScript(m_path, "CREATE TABLE datSubject (Subject TEXT)");
            return [this] {
                return executeScript(m_path, "DROP TABLE datSubject") && createDatabase(m_path);
            };
        }
        if (setup == u"no age column"_s) {
            executeScript(m_path, "CREATE TABLE datSubject (Subject TEXT, Version TEXT, "
                                  "Condition TEXT, Major TEXT, Gender TEXT, Date TEXT, Time TEXT)");
            return [this] {
                return executeScript(m_path, "ALTER TABLE datSubject ADD COLUMN Age REAL");
            };
        }
        QFile file(m_path);
        file.open(QIODevice::WriteOnly);
        file.write(QByteArray(4096, 'x'));
        file.close();
        return [this] {
            return QFile::remove(m_path) && createDatabase(m_path);
        };
    }

    Row rowFor(const QString &table) {
        return table == u"datSubject"_s ? sampleSubject()
                                        : questionnaireRow(u"Ann"_s, QString(), 1, u"8, "_s);
    }

    void otherFailuresAskAtOnce() {
        QFETCH(QString, setup);
        QFETCH(QString, table);
        QFETCH(QString, status);
        QFETCH(QString, text);
        breakDatabase(setup);
        const bool hadFile = QFile::exists(m_path);

        m_dialogs.answers = {false};
        m_database->appendRow(
            table, status, [row = rowFor(table)] { return row; }, note());
        QTRY_COMPARE(m_written, (Outcomes{{false, 0}}));
        QCOMPARE(m_dialogs.boxes.size(), 1);
        QCOMPARE(m_dialogs.boxes.at(0).title, u"Problems opening table"_s);
        QCOMPARE(m_dialogs.boxes.at(0).text, text);
        QCOMPARE(m_dialogs.boxes.at(0).icon, Dialogs::Icon::None);
        QVERIFY(m_waits.empty());
        QCOMPARE(QFile::exists(m_path), hadFile); // never creates the file
        if (hadFile && setup != u"text file"_s)
            QVERIFY(readTable(m_path, table).isEmpty());
    }

    void yesRetriesTheFailedStep_data() { otherFailuresAskAtOnce_data(); }

    void yesRetriesTheFailedStep() {
        QFETCH(QString, setup);
        QFETCH(QString, table);
        QFETCH(QString, status);
        const std::function<bool()> mend = breakDatabase(setup);

        m_dialogs.answers = {true, true};
        // The first Yes retries with the cause still there; before the second it is mended.
        m_dialogs.onAsk = [&](int box) {
            if (box == 2)
                QVERIFY(mend());
        };
        m_database->appendRow(
            table, status, [row = rowFor(table)] { return row; }, note());
        QTRY_COMPARE(m_written, (Outcomes{{true, 1}}));
        QCOMPARE(m_dialogs.boxes.size(), 2);
        QCOMPARE(m_dialogs.boxes.at(1).title, u"Problems opening table"_s);
        QCOMPARE(readTable(m_path, table).size(), 1);
    }

    void lockIsWaitedOutSilently() {
        OtherConnection other(m_path);
        QVERIFY(other.holdExclusive());
        m_onWait = [&](int wait) {
            if (wait == 4)
                other.release();
        };
        // Each pause moves the clock on a second: the row holds the time after the last one.
        RecordSubject(
            *m_database,
            [this] {
                return subjectRow(u"Ann"_s, QString(), u"continuous"_s, u"Psychology"_s, true,
                                  u"25"_s, sampleNow.addSecs(qint64(m_waits.size())));
            },
            note());
        QTRY_COMPARE(m_written, (Outcomes{{true, 1}}));
        verifyWaits({1, 2, 3, 4});
        QVERIFY(m_dialogs.boxes.isEmpty());
        const QList<QStringList> rows = readTable(m_path, u"datSubject"_s);
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows.at(0).at(7), u"15:04:09"_s);
    }

    void randomNumberSizesThePause() {
        OtherConnection other(m_path);
        QVERIFY(other.holdExclusive());
        QList<double> draws = {0.0, 0.5, 0.99999};
        m_onWait = [&](int wait) {
            if (wait == 3)
                other.release();
        };
        m_database->setRandom([&] { return draws.takeFirst(); });
        RecordSubject(*m_database, sampleSubject, note());
        QTRY_COMPARE(m_written.size(), 1);
        QCOMPARE(m_waits.size(), size_t(3));
        QCOMPARE(qint64(m_waits[0].count()), qint64(1000));
        QCOMPARE(qint64(m_waits[1].count()), qint64(2500 * 4));
        QCOMPARE(qint64(m_waits[2].count()), qint64(3999 * 9));
    }

    void lockAtCommitWritesTheRowOnce() {
        // A reader lets the row be inserted but keeps the commit waiting.
        OtherConnection reader(m_path);
        QVERIFY(reader.holdShared());
        m_onWait = [&](int wait) {
            if (wait == 2)
                reader.release();
        };
        RecordSubject(*m_database, sampleSubject, note());
        QTRY_COMPARE(m_written, (Outcomes{{true, 1}}));
        verifyWaits({1, 2});
        QCOMPARE(readTable(m_path, u"datSubject"_s).size(), 1);
        QVERIFY(m_dialogs.boxes.isEmpty());
    }

    void eleventhLockErrorAsksTheOperator() {
        OtherConnection other(m_path);
        QVERIFY(other.holdExclusive());
        // Yes to the first question; No to the second, then Yes to retry at once, by which
        // time the other program has let go.
        m_dialogs.answers = {true, false, true};
        m_dialogs.onAsk = [&](int box) {
            if (box == 3)
                other.release();
        };
        RecordSubject(*m_database, sampleSubject, note());
        QTRY_COMPARE(m_written, (Outcomes{{true, 1}}));

        QCOMPARE(m_dialogs.boxes.size(), 3);
        for (int box : {0, 1}) {
            QCOMPARE(m_dialogs.boxes.at(box).title, u"Error 5: Recording demographics"_s);
            QCOMPARE(m_dialogs.boxes.at(box).text,
                     u"database is locked\ndatSubject\nRetry? (No to quit)"_s);
            QCOMPARE(m_dialogs.boxes.at(box).icon, Dialogs::Icon::Question);
        }
        QCOMPARE(m_dialogs.boxes.at(2).title, u"Problems opening table"_s);
        QCOMPARE(m_dialogs.boxes.at(2).text,
                 u"Error 5: database is locked\nStatus was Recording demographics\nRetry?"_s);
        // Ten silent pauses; after Yes the count starts again at 1 and the question comes back
        // after ten more lock errors; its No then Yes retries without a pause.
        verifyWaits({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
        QCOMPARE(readTable(m_path, u"datSubject"_s).size(), 1);
    }

    void declinedLockGivesTheRowUp() {
        OtherConnection other(m_path);
        QVERIFY(other.holdExclusive());
        m_dialogs.answers = {false, false};
        RecordSubject(*m_database, sampleSubject, note());
        QTRY_COMPARE(m_written, (Outcomes{{false, 0}}));
        QCOMPARE(m_dialogs.boxes.size(), 2);
        QCOMPARE(m_dialogs.boxes.at(1).title, u"Problems opening table"_s);
        verifyWaits({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
        QVERIFY(m_database->idle());
        other.release();
        QVERIFY(readTable(m_path, u"datSubject"_s).isEmpty());
    }

    void rowsAskedForWhileLockedAreWrittenInOrder() {
        OtherConnection other(m_path);
        QVERIFY(other.holdExclusive());
        m_onWait = [&](int wait) {
            if (wait == 3)
                other.release();
        };
        QSignalSpy drained(m_database.get(), &Database::drained);
        RecordQuestionnaireAnswer(*m_database, questionnaireRow(u"Ann"_s, QString(), 1, u"a"_s),
                                  note());
        RecordQuestionnaireAnswer(*m_database, questionnaireRow(u"Ann"_s, QString(), 2, u"b"_s),
                                  note());
        QTRY_COMPARE(drained.count(), 1);
        QCOMPARE(m_written, (Outcomes{{true, 1}, {true, 2}}));
        verifyWaits({1, 2, 3}); // the second row is not tried while the first waits
        const QList<QStringList> rows = readTable(m_path, u"datQuestionnaire"_s);
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows.at(0).at(3), u"a"_s);
        QCOMPARE(rows.at(1).at(3), u"b"_s);
    }

    void givenUpRowDoesNotStopTheNext() {
        m_dialogs.answers = {false};
        QSignalSpy drained(m_database.get(), &Database::drained);
        m_database->appendRow(u"datMissing"_s, u"Recording the run"_s, sampleSubject, note());
        RecordSubject(*m_database, sampleSubject, note());
        QTRY_COMPARE(drained.count(), 1);
        QCOMPARE(m_written, (Outcomes{{false, 0}, {true, 1}}));
        QCOMPARE(m_dialogs.boxes.size(), 1);
        QCOMPARE(readTable(m_path, u"datSubject"_s).size(), 1);
    }

    // A datRun made before StudyFilesId gets the column; a run without study files leaves it NULL.
    void anOldDatRunGetsTheStudyFilesColumn() {
        QVERIFY(executeScript(m_path, "DROP TABLE datRun; CREATE TABLE datRun (RunId TEXT, "
                                      "Subject TEXT, StudyCondition TEXT, SetupId TEXT, "
                                      "SubjectRowId INTEGER, Player TEXT);"));
        QString error;
        QVERIFY2(AddRunTables(m_path, &error) && AddRunTables(m_path, &error), qPrintable(error));
        RecordRun(*m_database, runRow(u"r1"_s, u"Ann"_s, {}, {}, 1, RunPlayer::Person, u"ab12"_s));
        RecordRun(*m_database, runRow(u"r2"_s, u"Bo"_s, {}, {}, 2, RunPlayer::Person));
        QTRY_COMPARE(readTable(m_path, u"datRun"_s).size(), 2);
        const QList<QStringList> rows = readTable(m_path, u"datRun"_s);
        QCOMPARE(rows.at(0).at(6), u"ab12"_s);
        QCOMPARE(rows.at(1).at(13), u"null"_s); // StudyFilesId's storage class
    }

    void destroyedWhileAskingDropsItsRows() {
        OtherConnection other(m_path);
        QVERIFY(other.holdExclusive());
        // The writer goes while the eleventh lock's question is open; its Yes then comes late.
        m_dialogs.answers = {true};
        m_dialogs.onAsk = [this](int) {
            m_database.reset();
        };
        RecordSubject(*m_database, sampleSubject, note());
        RecordSubject(*m_database, sampleSubject, note());
        QTRY_VERIFY(!m_database);
        other.release();
        QTest::qWait(10);
        QVERIFY(m_written.isEmpty());
        QCOMPARE(m_dialogs.boxes.size(), 1);
        QVERIFY(readTable(m_path, u"datSubject"_s).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestDatabase)
#include "test_database.moc"
