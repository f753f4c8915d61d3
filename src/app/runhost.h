#pragma once

#include "core/recording/runrecorder.h"
#include "core/run/runsession.h"

#include <QObject>
#include <QPointer>
#include <QStringList>

#include <functional>
#include <optional>

class Dialogs;
#include "gui/frmKrugel.h"

// The runs of the program's data folder: each run's identity (its kept setup, number and
// seed), the records they share, the one run being played with the task window that shows
// it, and what happens when one of its writes fails.
class RunHost : public QObject {
    Q_OBJECT
public:
    RunHost(QString dataDirectory, Dialogs &dialogs, QObject *parent = nullptr);
    ~RunHost() override;

    // At launch: the record files as the runs can record into them.
    bool inspectFiles(QString *error) { return m_records.inspectFiles(error); }
    void setFullScreen(bool fullScreen) { m_fullScreen = fullScreen; }
    // The program is stopping: a failed write is given up without asking anyone.
    void setStopping() { m_stopping = true; }

    // The setup text a run plays, kept under its SetupId (none when it could not be kept).
    void keepSetup(const QByteArray &setupText, std::function<void(std::optional<QString>)> done);
    // The study files a person's run shows (paths in the data folder), kept under their
    // StudyFilesId (empty when there are none; none when they could not be kept).
    void keepStudyFiles(const QStringList &paths, std::function<void(std::optional<QString>)> done);
    // A number and seed of the run's own.
    void numberRun(TaskState &state, std::optional<uint64_t> seed = std::nullopt);
    // The record files made ready for a run (header, mended ends, earlier kinds set aside).
    void prepareRecording(std::function<void(bool)> done);

    // Plays `state` as the run, shown in a task window or hidden.
    RunSession *start(TaskState state, RunPlayer player, bool shown);
    RunSession *run() const { return m_run; }
    frmKrugel *taskWindow() const { return m_window; }
    // Writes the open run's record with `ending` (the operator decides when it fails) and
    // closes the run and its window; `done` says whether the record was written.
    void endRun(RunEnding ending, std::function<void(bool)> done);
    // Closes the run and its window, whatever its record.
    void closeRun();

signals:
    void runStarted(RunSession *run);
    // The person wants to leave the task window.
    void leaveAsked(bool confirmFirst);
    // A completed run, practice aside, counts in the rotation.
    void runCompleted(const QString &condition, bool byPerson);
    // A write of the run failed and the operator declined to retry: the program ends.
    void recordingGivenUp();

private:
    void showTaskWindow();
    void retryRunWrite(const QString &what, const QString &error);

    QString m_dataDirectory;
    Dialogs &m_dialogs;
    RunRecorder m_records;
    QPointer<RunSession> m_run;
    QPointer<frmKrugel> m_window;
    bool m_fullScreen = false;
    bool m_stopping = false;
};
