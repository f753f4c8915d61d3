#include "web/webstudy.h"

#include "core/common/paths.h"
#include "core/recording/datafolder.h"
#include "core/recording/runfile.h"
#include "core/recording/runrecords.h"
#include "web/panelrecords.h"

WebStudy::WebStudy(WebSettings settings)
    : m_settings(std::move(settings))
    , m_study(m_settings.dataDirectory)
    , m_records(m_settings.dataDirectory)
    , m_database(paths::database(m_settings.dataDirectory), m_dialogs)
    , m_files(m_settings.dataDirectory) {}

bool WebStudy::prepare(QString *error) {
    QString title;
    QStringList languages;
    *error = m_study.unusableSetup(&title, &languages);
    if (!error->isEmpty())
        return false;
    *error = UnwritableDataFiles(m_settings.dataDirectory);
    if (!error->isEmpty() || !m_records.inspectFiles(error))
        return false;
    QStringList notes;
    if (!m_records.prepareFiles(&notes, error))
        return false;
    for (const QString &note : std::as_const(notes))
        printError(note);
    const QString database = paths::database(m_settings.dataDirectory);
    if (!AddRunTables(database, error))
        return false;
    countCompletedRuns();
    return true;
}

void WebStudy::countCompletedRuns() {
    Problems unread; // a damaged line counts for nothing, as in the desktop's rotation
    for (const RunRecord &run : readRunRecords(paths::runFile(dataDirectory()), unread)) {
        if (run.ending == RunEnding::Completed && run.practice == 0 && run.playedByPerson())
            ++m_completed[run.studyCondition];
    }
}

PersonAssignment WebStudy::assignPerson() {
    const StudyDesign &design = m_study.design();
    const QStringList &conditions = m_study.conditions();
    const bool rotation = !conditions.isEmpty() && !design.withinPerson() &&
                          design.assignment == StudyDesign::Assignment::Rotation;
    QString chosen;
    if (rotation) {
        chosen = conditions.constFirst(); // the conditions are sorted: the first of equals wins
        for (const QString &name : conditions) {
            if (m_completed.value(name) + m_inProgress.value(name) <
                m_completed.value(chosen) + m_inProgress.value(chosen))
                chosen = name;
        }
    }
    PersonAssignment assignment = m_study.assignPerson(chosen);
    if (rotation)
        assignment.method = QStringLiteral("rotation");
    ++m_inProgress[assignment.conditions.value(0)];
    return assignment;
}

void WebStudy::releaseCondition(const QString &condition, bool completed) {
    if (--m_inProgress[condition] <= 0)
        m_inProgress.remove(condition);
    if (completed)
        ++m_completed[condition];
}

bool WebStudy::participantRecorded(const QString &id) const {
    return ParticipantRecorded(paths::database(dataDirectory()), id);
}
