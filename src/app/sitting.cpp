#include "app/sitting.h"

#include "app/runhost.h"
#include "core/common/dialogs.h"
#include "core/common/language.h"
#include "core/common/paths.h"
#include "core/recording/database.h"
#include "core/recording/datafile.h"
#include "core/setup/study.h"
#include "gui/frmInstructions.h"
#include "gui/frmLogin.h"
#include "gui/frmNewSubject.h"
#include "gui/fullscreen.h"

#include <QDateTime>
#include <QRandomGenerator>
#include <QTimer>

namespace {

// A sitting's identity before any record names the person: its date, time and a random part.
QString newSittingId() {
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss-")) +
           QString::number(QRandomGenerator::system()->generate(), 16).rightJustified(8, u'0');
}

} // namespace

Sitting::Sitting(Study &study, RunHost &runs, Database &database, Dialogs &dialogs, Seat &seat,
                 Options options, QObject *parent)
    : QObject(parent)
    , m_study(study)
    , m_runs(runs)
    , m_database(database)
    , m_dialogs(dialogs)
    , m_seat(seat)
    , m_options(std::move(options)) {}

Sitting::~Sitting() {
    delete m_window;
    delete m_login;
}

// The login shows the command line's language, else the one all setups name.
void Sitting::showLaunchLanguage() {
    InstallLanguage(m_options.language.isEmpty() ? m_options.launchLanguage : m_options.language);
}

// The person's windows and study files show the command line's language, else the one the
// person chose at the login, else the one the setup names. The sitting holds it to the end.
void Sitting::choosePersonsLanguage() {
    QString code = m_options.language;
    if (code.isEmpty())
        code = m_chosenLanguage;
    if (code.isEmpty())
        code = m_plan.Language;
    m_translation = Translation(code);
}

// Nothing of one person's road reaches the next: every record is written anew from Start.
void Sitting::openLogin() {
    closeStep();
    m_plan = TaskState();
    m_runAfterPractice.reset();
    m_subjectRowId.reset();
    m_questions.after.clear();
    m_questions.before.clear();
    m_questions.comprehension.clear();
    m_exitConfirmed = m_leaving = m_completedWhileLeaving = false;
    m_assignment = PersonAssignment();
    m_block = 0;
    m_bonusOfBlocksBefore = m_baseOfBlocksBefore = 0;
    m_bandOfBlocksBefore = 0;
    showLaunchLanguage();
    delete m_login;
    m_login = new frmLogin;
    connect(m_login, &frmLogin::startPressed, this, &Sitting::onStart, Qt::QueuedConnection);
    connect(m_login, &frmLogin::quitPressed, this, &Sitting::quitPressed, Qt::QueuedConnection);
    if (!m_study.conditions().isEmpty())
        m_login->setVersionChoices(QStringList{nextInRotationText()} + m_study.conditions());
    if (m_options.language.isEmpty())
        m_login->setLanguageChoices(m_study.design().languages);
    m_login->setWindowModality(Qt::ApplicationModal);
    if (m_options.fullScreen)
        PrepareFullScreen(m_login);
    m_login->show();
}

void Sitting::closeLogin() {
    if (m_login) {
        m_login->complete();
        m_login->hide();
        m_login->deleteLater();
        m_login = nullptr;
    }
}

void Sitting::stop() {
    m_stopped = true;
    closeStep();
}

void Sitting::onStart(const QString &name) {
    if (m_seat.player() != Player::Nobody || m_stopped || !m_login)
        return;
    if (!FitsDataFiles(name)) {
        m_dialogs.inform(programTitle(),
                         tr("The name %1 holds characters that Data.txt and Runs.txt "
                            "cannot keep: they keep Latin-1 text, as the lab's files "
                            "and scripts expect. Please type the name with other "
                            "characters.")
                             .arg(name),
                         Dialogs::Icon::Warning);
        return;
    }
    // From here until the task opens the person has the program: a model's message changes
    // nothing of this road.
    m_seat.take(Player::PersonStarting);
    ++m_step;
    m_versionText = m_login->versionText();
    m_chosenLanguage = m_login->languageChoice();
    m_sittingId = newSittingId();
    m_plan = TaskState();
    m_plan.batchPauseMs = m_options.batchPauseMs;
    m_plan.subjectName = name;
    m_assignment = m_study.assignPerson(m_versionText);
    m_block = 0;
    m_plan.studyCondition = m_assignment.conditions.value(0);
    if (!judgeStart())
        return;
    m_runs.keepSetup(m_study.setupText(m_plan.studyCondition),
                     [this, step = m_step](std::optional<QString> setupId) {
                         if (step == m_step)
                             afterIdentity(setupId);
                     });
}

// The run's questionnaire and setup, read at Start so that a broken file is heard of before
// anybody plays.
bool Sitting::judgeStart() {
    const StartJudgement start = m_study.judgeStart(m_plan, Starter::Person);
    if (m_block == 0)
        choosePersonsLanguage();
    m_questions = m_study.sittingQuestions(m_plan.studyCondition, m_translation.code());
    if (!m_questions.problems.isEmpty()) {
        refuse(m_questions.problems);
        return false;
    }
    if (start.outcome == StartOutcome::EndsProgram) {
        m_dialogs.inform(start.title(), start.reason, start.icon(), [this] { emit failed(); });
        return false;
    }
    if (start.outcome == StartOutcome::Refused) {
        refuse(start.reason);
        return false;
    }
    if (!start.checkFailures.isEmpty()) {
        // A check that fails ends the person's road with its message: the questionnaire
        // follows, as after a run.
        m_seat.take(Player::PersonFinishing);
        closeLogin();
        m_dialogs.inform(programTitle(), start.checkFailures.constFirst(), Dialogs::Icon::None,
                         [this] { openQuestionnaire(); });
        return false;
    }
    return true;
}

// A run that cannot start is refused: the person reads why, at the login.
void Sitting::refuse(const QString &reason) {
    m_seat.take(Player::Nobody);
    m_dialogs.inform(programTitle(), reason, Dialogs::Icon::Critical);
}

// The run's identity: the setup text it plays, kept, then its number and seed.
void Sitting::afterIdentity(const std::optional<QString> &setupId) {
    if (!setupId) {
        emit failed();
        return;
    }
    m_plan.setupId = *setupId;
    m_runs.numberRun(m_plan);
    m_study.warnAboutSilentDelays(m_plan);
    QString error;
    m_instructions.clear();
    if (!m_study.instructionPages(m_plan.studyCondition, m_translation.code(), &m_instructions,
                                  &error)) {
        refuse(error);
        return;
    }
    keepStudyFiles([this] {
        if (m_login)
            m_login->hide();
        askAboutName();
    });
}

// The study files the run shows, kept under the identity its datRun row names; then `next`.
void Sitting::keepStudyFiles(std::function<void()> next) {
    m_runs.keepStudyFiles(m_study.studyFilesShown(m_plan.studyCondition, m_translation.code()),
                          [this, step = m_step, next](std::optional<QString> studyFilesId) {
                              if (step != m_step)
                                  return;
                              if (!studyFilesId) {
                                  emit failed();
                                  return;
                              }
                              m_plan.studyFilesId = *studyFilesId;
                              next();
                          });
}

void Sitting::backToLogin() {
    closeStep();
    m_seat.take(Player::Nobody);
    showLaunchLanguage();
    if (m_login)
        m_login->showAgain();
}

// A name used before is most often a typing slip that would mix two people's data; the
// experimenter decides. The program otherwise never reads its records back.
void Sitting::askAboutName() {
    const QString name = m_plan.subjectName;
    QStringList where;
    if (SubjectRecorded(paths::database(m_study.dataDirectory()), name))
        where << QStringLiteral("a subject record");
    if (SubjectInDataFile(paths::dataFile(m_study.dataDirectory()), name))
        where << QStringLiteral("lines in Data.txt");
    if (where.isEmpty()) {
        openConsent();
        return;
    }
    m_dialogs.ask(programTitle(),
                  QStringLiteral("The name %1 has been used before: it has %2.\nGo on with this "
                                 "name?")
                      .arg(name, where.join(QStringLiteral(" and "))),
                  Dialogs::Icon::Question, [this, step = m_step](bool yes) {
                      if (step != m_step)
                          return;
                      yes ? openConsent() : backToLogin();
                  });
}

void Sitting::openSubjectForm() {
    m_translation.install();
    auto *form = new frmNewSubject(m_plan.subjectName, m_plan.GenderOptions);
    connect(form, &frmNewSubject::begun, this, &Sitting::recordSubject, Qt::QueuedConnection);
    connect(form, &QDialog::rejected, this, &Sitting::backToLogin, Qt::QueuedConnection);
    openStep(form);
}

// In a study with conditions the version is the condition the person got.
void Sitting::recordSubject(const SubjectEntries &entries) {
    const int step = ++m_step;
    closeStep();
    const QString versionText =
        m_study.conditions().isEmpty() ? m_versionText : m_plan.studyCondition;
    m_plan.condition = conditionOf(m_plan.scaledTank);
    RecordSubject(
        m_database,
        [name = m_plan.subjectName, condition = m_plan.condition, versionText, entries] {
            return subjectRow(name, versionText, condition, entries.majorText, entries.genderText,
                              entries.genderNumber, entries.ageText, QDateTime::currentDateTime());
        },
        [this, step](bool written, qint64 rowId) {
            if (step != m_step)
                return;
            if (!written) {
                emit failed();
                return;
            }
            m_subjectRowId = rowId;
            recordSitting();
            recordPersonsRun();
            openQuestionnaireBefore();
        });
}

// In a study with a design, how the person was given their conditions and language.
void Sitting::recordSitting() {
    if (!m_study.design().present || !m_subjectRowId)
        return;
    m_database.appendRow(
        QStringLiteral("datSitting"), QStringLiteral("Recording the sitting"),
        [row = sittingRow(m_sittingId, *m_subjectRowId, m_translation.code(), m_assignment)] {
            return row;
        },
        [this](bool written, qint64) { recorded(written); });
}

// Ties the person's run, practice or not, to their subject record.
void Sitting::recordPersonsRun() {
    if (m_subjectRowId)
        RecordRun(m_database,
                  runRow(m_plan.runId, m_plan.subjectName, m_plan.studyCondition, m_plan.setupId,
                         *m_subjectRowId, RunPlayer::Person, m_plan.studyFilesId),
                  [this](bool written, qint64) { recorded(written); });
}

void Sitting::recorded(bool written) {
    if (!written && !m_stopped)
        emit failed();
}

// Closing the pages instead of reading them through returns to the login screen.
void Sitting::openInstructions() {
    if (m_instructions.isEmpty()) {
        openComprehension();
        return;
    }
    auto *window = new frmInstructions(m_instructions);
    connect(window, &QDialog::accepted, this, &Sitting::openComprehension, Qt::QueuedConnection);
    connect(window, &QDialog::rejected, this, &Sitting::backToLogin, Qt::QueuedConnection);
    openStep(window);
}

void Sitting::openStep(QDialog *window) {
    closeStep();
    m_window = window;
    window->setWindowModality(Qt::ApplicationModal);
    if (m_options.fullScreen)
        PrepareFullScreen(window);
    window->show(); // open() would make it modal to its parent only, and it has none
}

void Sitting::closeStep() {
    if (!m_window)
        return;
    QDialog *window = m_window;
    m_window = nullptr;
    window->disconnect(this);
    window->hide();
    window->deleteLater();
}
