#include "web/panelrecords.h"

#include <sqlite3.h>

Row panelRow(qint64 subjectRowId, const PanelIdentity &panel) {
    const auto text = [](const QString &value) {
        return value.isEmpty() ? QVariant() : QVariant(value);
    };
    return Row{{QStringLiteral("SubjectRowId"), subjectRowId},
               {QStringLiteral("ParticipantId"), panel.participantId},
               {QStringLiteral("StudyId"), text(panel.studyId)},
               {QStringLiteral("SessionId"), text(panel.sessionId)}};
}

namespace {

bool hasRow(sqlite3 *db, const char *query, const QByteArray &value) {
    sqlite3_stmt *statement = nullptr;
    bool found = false;
    if (sqlite3_prepare_v2(db, query, -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_bind_text(statement, 1, value.constData(), static_cast<int>(value.size()),
                          nullptr) == SQLITE_OK)
        found = sqlite3_step(statement) == SQLITE_ROW;
    sqlite3_finalize(statement);
    return found;
}

} // namespace

bool ParticipantRecorded(const QString &databasePath, const QString &participantId) {
    sqlite3 *db = nullptr;
    const QByteArray id = participantId.toUtf8();
    bool found = false;
    if (sqlite3_open_v2(databasePath.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) ==
        SQLITE_OK) {
        sqlite3_busy_timeout(db, 2000);
        found = hasRow(db, "SELECT 1 FROM datPanel WHERE ParticipantId = ? LIMIT 1", id) ||
                hasRow(db, "SELECT 1 FROM datSubject WHERE Subject = ? LIMIT 1", id);
    }
    sqlite3_close_v2(db);
    return found;
}
