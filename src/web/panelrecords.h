#pragma once

#include "core/recording/database.h"

#include <QString>

// The identity an online panel gives a person in the study link, kept beside their subject
// record in the database's datPanel table (one row per subject record of a browser's
// sitting).
struct PanelIdentity {
    QString participantId;
    QString studyId;
    QString sessionId;
};

Row panelRow(qint64 subjectRowId, const PanelIdentity &panel);
// Whether the participant id has a datPanel row, or is a subject's name in datSubject. Read
// only: a database that cannot be read answers false.
bool ParticipantRecorded(const QString &databasePath, const QString &participantId);
