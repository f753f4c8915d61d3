#pragma once

#include <QFile>
#include <QList>
#include <QString>
#include <QStringList>

#include <sqlite3.h>

// Makes a database from the schema kept with the sources, as the build does.
inline bool createTestDatabase(const QString &path) {
    QFile schema(QStringLiteral(FLUXMERE_SOURCE_DIR "/data/Krugel.sql"));
    if (!schema.open(QIODevice::ReadOnly))
        return false;
    sqlite3 *db = nullptr;
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    const bool ok =
        sqlite3_open_v2(path.toUtf8().constData(), &db, flags, nullptr) == SQLITE_OK &&
        sqlite3_exec(db, schema.readAll().constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close_v2(db);
    return ok;
}

// The rows a query returns, each column as text (NULL as an empty text).
inline QList<QStringList> queryRows(const QString &path, const char *sql) {
    QList<QStringList> rows;
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) ==
        SQLITE_OK) {
        sqlite3_stmt *query = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &query, nullptr) == SQLITE_OK) {
            while (sqlite3_step(query) == SQLITE_ROW) {
                QStringList row;
                for (int column = 0; column < sqlite3_column_count(query); ++column)
                    row.append(QString::fromUtf8(
                        reinterpret_cast<const char *>(sqlite3_column_text(query, column))));
                rows.append(row);
            }
        }
        sqlite3_finalize(query);
    }
    sqlite3_close_v2(db);
    return rows;
}

// Runs `sql` on the database, as another program changing it.
inline bool executeSql(const QString &path, const char *sql) {
    sqlite3 *db = nullptr;
    const bool ok = sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE,
                                    nullptr) == SQLITE_OK &&
                    sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close_v2(db);
    return ok;
}
