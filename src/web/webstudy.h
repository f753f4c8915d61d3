#pragma once

#include "core/recording/database.h"
#include "core/recording/runrecorder.h"
#include "core/setup/study.h"
#include "web/studyfileaccess.h"
#include "web/webdialogs.h"
#include "web/websettings.h"

#include <QHash>
#include <QSet>
#include <QString>

// What every browser's sitting of one data folder shares: the study's files, the records
// every run writes into (one recorder, so that runs interleave as runs of one folder do), the
// database, the files a browser may fetch, and the conditions handed out to sittings still in
// progress, so that people who start at the same moment are spread over the conditions.
class WebStudy {
public:
    explicit WebStudy(WebSettings settings);

    // At launch: the setups can be read, the records can be written, the tables exist.
    // False, with the reason.
    bool prepare(QString *error);

    const WebSettings &settings() const { return m_settings; }
    const QString &dataDirectory() const { return m_settings.dataDirectory; }
    Study &study() { return m_study; }
    RunRecorder &records() { return m_records; }
    Database &database() { return m_database; }
    StudyFileAccess &files() { return m_files; }

    // A new person's conditions: in a between-person rotation the condition with the fewest
    // completed runs and sittings under way together (ties by name), else the design's.
    PersonAssignment assignPerson();
    // A sitting that held `condition` is over; `completed` when its run was completed.
    void releaseCondition(const QString &condition, bool completed);
    // Completed runs of persons per condition, practice aside.
    const QHash<QString, int> &completedRuns() const { return m_completed; }

    // The participant ids of sittings now open, and whether one took part before.
    bool participantBusy(const QString &id) const { return m_openParticipants.contains(id); }
    bool participantRecorded(const QString &id) const;
    void holdParticipant(const QString &id) { m_openParticipants.insert(id); }
    void releaseParticipant(const QString &id) { m_openParticipants.remove(id); }

private:
    void countCompletedRuns();

    WebSettings m_settings;
    ServerDialogs m_dialogs;
    Study m_study;
    RunRecorder m_records;
    Database m_database;
    StudyFileAccess m_files;
    QHash<QString, int> m_completed;  // completed runs of persons, practice aside
    QHash<QString, int> m_inProgress; // sittings under way, by their condition
    QSet<QString> m_openParticipants;
};
