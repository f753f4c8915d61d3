#include "web/websitting.h"

#include "core/common/paths.h"
#include "core/recording/database.h"
#include "core/recording/datafile.h"
#include "core/recording/questionnaire.h"
#include "core/setup/envnoise.h"
#include "core/setup/keptsetup.h"
#include "core/setup/keptstudyfiles.h"
#include "web/webjson.h"
#include "web/webstudy.h"

#include <QDateTime>
#include <QJsonArray>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QUrl>

namespace {

QString newSittingId() {
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss-")) +
           QString::number(QRandomGenerator::system()->generate(), 16).rightJustified(8, u'0');
}

constexpr qsizetype longestFormText = 200;

// The program's own closing questions, asked when the study has no Questionnaire.txt; their
// answers go to datQuestionnaire as the desktop's do.
QList<StudyQuestion> programQuestions(const TaskState &run) {
    const double goal = run.GoalLinePoisition / run.unitHeight;
    QList<StudyQuestion> questions;
    for (int number = 1; number <= questionnaire::QuestionCount; ++number) {
        StudyQuestion question;
        question.id = QString::number(number);
        question.kind = StudyQuestion::Kind::Text;
        question.text = questionnaire::questionText(number, goal, run.goalToleranceBelow,
                                                    run.goalToleranceAbove, run.unitName);
        questions.append(question);
    }
    return questions;
}

} // namespace

WebSitting::WebSitting(WebStudy &web, PanelIdentity panel, const QString &language, QObject *parent)
    : QObject(parent)
    , m_web(web)
    , m_panel(std::move(panel))
    , m_requestedLanguage(language) {
    m_grace.setSingleShot(true);
    m_grace.setInterval(m_web.settings().graceSeconds * 1000);
    connect(&m_grace, &QTimer::timeout, this, [this] {
        endRun(RunEnding::Left);
        m_over = true;
        emit finished();
    });
    m_web.holdParticipant(m_panel.participantId);
}

WebSitting::~WebSitting() {
    if (m_conditionHeld)
        m_web.releaseCondition(m_assignment.conditions.value(0), m_runCompleted);
    m_web.releaseParticipant(m_panel.participantId);
}

QString WebSitting::text(const char *context, const char *source) const {
    return m_translation.text(context, source);
}

// ---- Talking to the page -----------------------------------------------------------------

void WebSitting::show(const QString &step, QJsonObject message) {
    m_stepName = step;
    message.insert(QStringLiteral("step"), step);
    message.insert(QStringLiteral("at"), ++m_stepNumber);
    message.insert(QStringLiteral("language"), m_translation.code());
    m_step = message;
    emit outgoing(message);
}

QJsonObject WebSitting::currentStep() const {
    QJsonObject step = m_step;
    if (m_stepName == QLatin1String("task") && m_run)
        step.insert(QStringLiteral("view"), ViewJson(m_run->view()));
    return step;
}

void WebSitting::sendNotice(const QString &text) {
    emit outgoing({{QStringLiteral("notice"), text}});
}

void WebSitting::take(const QJsonObject &message) {
    if (m_over || message.value(QStringLiteral("at")).toInt() != m_stepNumber)
        return;
    const QString action = message.value(QStringLiteral("do")).toString();
    if (m_stepName == QLatin1String("consent") && action == QLatin1String("consent"))
        consentGiven(message.value(QStringLiteral("agreed")).toBool());
    else if (m_stepName == QLatin1String("form") && action == QLatin1String("form"))
        takeSubjectForm(message);
    else if (m_stepName == QLatin1String("questions") && action == QLatin1String("answers"))
        takeAnswers(message);
    else if ((m_stepName == QLatin1String("pages") || m_stepName == QLatin1String("info")) &&
             action == QLatin1String("next") && m_next)
        std::exchange(m_next, nullptr)();
    else if (m_stepName == QLatin1String("task") && action == QLatin1String("submit"))
        takeDecision(message);
    else if (m_stepName == QLatin1String("task") && action == QLatin1String("withdraw"))
        withdraw();
}

// An end screen is kept for the grace period too: a reload there shows the completion code
// again.
void WebSitting::connectionLost() {
    m_grace.start();
}

void WebSitting::connectionBack() {
    m_grace.stop();
}

void WebSitting::endRun(RunEnding ending) {
    if (!m_run || !m_run->recordDue())
        return;
    QString error;
    if (!m_run->end(ending, &error))
        printError(QStringLiteral("The record of run %1 could not be written: %2")
                       .arg(m_run->state().runId, error));
}

// ---- The start ---------------------------------------------------------------------------

void WebSitting::begin() {
    m_sittingId = newSittingId();
    m_assignment = m_web.assignPerson();
    m_conditionHeld = true;
    m_plan = TaskState();
    m_plan.batchPauseMs = 1;
    m_plan.subjectName = m_panel.participantId;
    m_plan.studyCondition = m_assignment.conditions.value(0);
    if (!judgeStart() || !keepIdentity())
        return;
    openConsent();
}

// The language asked for in the link when the study offers it, else the setup's.
bool WebSitting::judgeStart() {
    Study &study = m_web.study();
    const StartJudgement start = study.judgeStart(m_plan, Starter::Person);
    if (m_block == 0) {
        const bool offered = study.design().languages.contains(m_requestedLanguage);
        m_translation = Translation(offered ? m_requestedLanguage : m_plan.Language);
    }
    m_questions = study.sittingQuestions(m_plan.studyCondition, m_translation.code());
    if (!m_questions.problems.isEmpty()) {
        refuse(m_questions.problems);
        return false;
    }
    if (!start.plays()) {
        refuse(start.reason);
        return false;
    }
    if (!start.checkFailures.isEmpty()) {
        openInfo(start.checkFailures.constFirst(), [this] { openQuestionnaire(); });
        return false;
    }
    return true;
}

// The setup and study files the run shows are kept, and the run numbered, before anybody
// plays, as at the lab.
bool WebSitting::keepIdentity() {
    const QString &folder = m_web.dataDirectory();
    Study &study = m_web.study();
    QString error;
    if (!keepSetup(folder, study.setupText(m_plan.studyCondition), &m_plan.setupId, &error)) {
        refuse(error);
        return false;
    }
    numberRun();
    study.warnAboutSilentDelays(m_plan);
    m_instructions.clear();
    if ((m_block == 0 || study.hasOwnInstructions(m_plan.studyCondition)) &&
        !study.instructionPages(m_plan.studyCondition, m_translation.code(), &m_instructions,
                                &error)) {
        refuse(error);
        return false;
    }
    const QStringList shown = study.studyFilesShown(m_plan.studyCondition, m_translation.code());
    m_web.files().allow(shown);
    if (!keepStudyFiles(folder, shown, &m_plan.studyFilesId, &error)) {
        refuse(error);
        return false;
    }
    return true;
}

void WebSitting::numberRun() {
    m_plan.runId = makeRunId(QDateTime::currentDateTime(), m_web.records().nextRunNumber());
    m_plan.runSeed = ChooseRunSeed(m_plan);
}

// A sitting that cannot start tells the person politely; the reason goes to the operator.
void WebSitting::refuse(const QString &reason) {
    printError(
        QStringLiteral("A sitting of %1 cannot go on: %2").arg(m_panel.participantId, reason));
    closeSitting(QStringLiteral("refused"),
                 text("WebSitting", "Sorry, the study cannot be started just now. Please "
                                    "tell the experimenter."),
                 QString());
}

// ---- Consent and the subject form -------------------------------------------------------

void WebSitting::openConsent() {
    QString error;
    const std::optional<StudyPage> page =
        m_web.study().consentPage(m_plan.studyCondition, m_translation.code(), &error);
    if (!page) {
        if (error.isEmpty())
            openSubjectForm();
        else
            refuse(error);
        return;
    }
    m_web.files().allow(ShownFiles(*page));
    show(QStringLiteral("consent"),
         {{QStringLiteral("page"), PageJson(m_web.dataDirectory(), *page)},
          {QStringLiteral("title"), text("frmConsent", "Consent")},
          {QStringLiteral("agree"), text("frmConsent", "I agree")},
          {QStringLiteral("decline"), text("frmConsent", "I do not agree")}});
}

void WebSitting::consentGiven(bool agreed) {
    m_web.database().appendRow(
        QStringLiteral("datConsent"), QStringLiteral("Recording the consent"),
        [row = consentRow(m_sittingId, agreed, QDateTime::currentDateTime())] { return row; },
        recorded());
    if (agreed) {
        openSubjectForm();
        return;
    }
    closeSitting(QStringLiteral("declined"),
                 text("frmConsent", "Thank you. You have chosen not to take part."),
                 m_web.settings().declinedCode);
}

void WebSitting::openSubjectForm() {
    QJsonArray genders;
    const QStringList options =
        m_plan.GenderOptions.isEmpty()
            ? QStringList{text("frmNewSubject", "Male"), text("frmNewSubject", "Female")}
            : m_plan.GenderOptions;
    for (const QString &option : options)
        genders.append(option);
    show(QStringLiteral("form"),
         {{QStringLiteral("title"),
           text("frmNewSubject", "Subject Info: %1").arg(m_plan.subjectName)},
          {QStringLiteral("genderLabel"), text("frmNewSubject", "Gender")},
          {QStringLiteral("genders"), genders},
          {QStringLiteral("ageLabel"), text("frmNewSubject", "Age:")},
          {QStringLiteral("majorLabel"), text("frmNewSubject", "Major")},
          {QStringLiteral("begin"), text("frmNewSubject", "Begin")}});
}

// Age as the form's box takes it (one or two digits, no leading zero), a gender chosen, and
// a field of study given.
void WebSitting::takeSubjectForm(const QJsonObject &message) {
    const QString age = message.value(QStringLiteral("age")).toString().trimmed();
    const QString major = message.value(QStringLiteral("major")).toString().trimmed();
    const int gender = message.value(QStringLiteral("gender")).toInt();
    const qsizetype genderCount = m_plan.GenderOptions.isEmpty() ? 2 : m_plan.GenderOptions.size();
    static const QRegularExpression ageForm(QStringLiteral("^[1-9][0-9]?$"));
    if (!ageForm.match(age).hasMatch() || major.isEmpty() || major.size() > longestFormText ||
        !FitsDataFiles(major) || gender < 1 || gender > genderCount) {
        sendNotice(text("WebSitting", "Please give your age, your gender and your field of "
                                      "study."));
        return;
    }
    if (m_plan.GenderOptions.isEmpty())
        recordSubject(major, gender == 1 ? QStringLiteral("Male") : QStringLiteral("Female"),
                      std::nullopt, age);
    else
        recordSubject(major, m_plan.GenderOptions.at(gender - 1), gender, age);
}

// The subject record, the panel's identity beside it, the sitting and the run tied to it.
void WebSitting::recordSubject(const QString &major, const QString &gender,
                               std::optional<int> number, const QString &age) {
    const int step = ++m_stepNumber; // nothing more is taken until the record is in
    m_stepName.clear();
    Study &study = m_web.study();
    const QString versionText = study.conditions().isEmpty() ? QString() : m_plan.studyCondition;
    m_plan.condition = conditionOf(m_plan.scaledTank);
    RecordSubject(
        m_web.database(),
        [name = m_plan.subjectName, condition = m_plan.condition, versionText, major, gender,
         number, age] {
            return subjectRow(name, versionText, condition, major, gender, number, age,
                              QDateTime::currentDateTime());
        },
        [this, self = QPointer<WebSitting>(this), step](bool written, qint64 rowId) {
            if (!self || step != m_stepNumber || m_over)
                return;
            if (written)
                subjectRecorded(rowId);
            else
                refuse(QStringLiteral("the subject record could not be written"));
        });
}

// The panel's identity and, in a study with a design, the sitting go beside the subject
// record; then the run is tied to it.
void WebSitting::subjectRecorded(qint64 rowId) {
    m_subjectRowId = rowId;
    Database &database = m_web.database();
    database.appendRow(
        QStringLiteral("datPanel"), QStringLiteral("Recording the panel's identity"),
        [row = panelRow(rowId, m_panel)] { return row; }, recorded());
    if (m_web.study().design().present)
        database.appendRow(
            QStringLiteral("datSitting"), QStringLiteral("Recording the sitting"),
            [row = sittingRow(m_sittingId, rowId, m_translation.code(), m_assignment)] {
                return row;
            },
            recorded());
    recordPersonsRun();
    openQuestionnaireBefore();
}

void WebSitting::recordPersonsRun() {
    if (m_subjectRowId)
        RecordRun(m_web.database(),
                  runRow(m_plan.runId, m_plan.subjectName, m_plan.studyCondition, m_plan.setupId,
                         *m_subjectRowId, RunPlayer::Person, m_plan.studyFilesId),
                  recorded());
}

// What follows a row's write: a row given up is named to the operator. It holds nothing of
// the sitting, which may be over before the database is.
Database::Written WebSitting::recorded() const {
    return [participant = m_panel.participantId](bool written, qint64) {
        if (!written)
            printError(QStringLiteral("A record of %1's sitting was given up.").arg(participant));
    };
}

// ---- Questions and pages ----------------------------------------------------------------

void WebSitting::openQuestions(const QList<StudyQuestion> &questions, const QJsonObject &page,
                               std::function<void(const QList<StudyAnswer> &)> answered) {
    m_asked = questions;
    m_answered = std::move(answered);
    QJsonArray asked;
    for (const StudyQuestion &question : questions)
        asked.append(QuestionJson(question));
    QJsonObject message = page;
    message.insert(QStringLiteral("questions"), asked);
    message.insert(QStringLiteral("submit"), text("StudyQuestionnaire", "Submit"));
    if (!message.contains(QStringLiteral("title")))
        message.insert(QStringLiteral("title"), text("StudyQuestionnaire", "Questionnaire"));
    show(QStringLiteral("questions"), message);
}

void WebSitting::takeAnswers(const QJsonObject &message) {
    const QJsonObject given = message.value(QStringLiteral("answers")).toObject();
    QList<StudyAnswer> answers;
    for (int index = 0; index < m_asked.size(); ++index) {
        const StudyQuestion &question = m_asked.at(index);
        QString problem;
        const std::optional<StudyAnswer> answer =
            ReadAnswer(question, given.value(question.id), index + 1, m_translation, &problem);
        if (!answer) {
            sendNotice(problem);
            return;
        }
        answers.append(*answer);
    }
    std::exchange(m_answered, nullptr)(answers);
}

void WebSitting::recordAnswer(const StudyAnswer &answer) {
    RecordStudyAnswer(m_web.database(), studyAnswerRow(m_plan.runId, answer), recorded());
}

void WebSitting::openQuestionnaireBefore() {
    if (m_questions.before.isEmpty()) {
        openInstructions();
        return;
    }
    openQuestions(m_questions.before, {}, [this](const QList<StudyAnswer> &answers) {
        for (const StudyAnswer &answer : answers)
            recordAnswer(answer);
        openInstructions();
    });
}

void WebSitting::openInstructions() {
    if (m_instructions.isEmpty()) {
        openComprehension();
        return;
    }
    QJsonArray pages;
    for (const StudyPage &page : std::as_const(m_instructions)) {
        m_web.files().allow(ShownFiles(page));
        pages.append(PageJson(m_web.dataDirectory(), page));
    }
    m_next = [this] {
        openComprehension();
    };
    show(QStringLiteral("pages"),
         {{QStringLiteral("pages"), pages},
          {QStringLiteral("title"), text("frmInstructions", "Instructions")},
          {QStringLiteral("back"), text("frmInstructions", "Back")},
          {QStringLiteral("next"), text("frmInstructions", "Next")},
          {QStringLiteral("pageOf"), text("frmInstructions", "Page %1 of %2")}});
}

// Every attempt is recorded; after the study's last wrong one the sitting ends, or the person
// plays on when the study says so.
void WebSitting::openComprehension() {
    if (m_block > 0 || m_questions.comprehension.isEmpty()) {
        openTask();
        return;
    }
    m_attempt = 0;
    askComprehension({});
}

void WebSitting::askComprehension(const QStringList &wrong) {
    QJsonObject page{
        {QStringLiteral("title"), text("Sitting", "Before you start")},
        {QStringLiteral("intro"), text("Sitting", "Please answer these questions about the "
                                                  "instructions.")}};
    if (!wrong.isEmpty()) {
        page.insert(QStringLiteral("wrong"), QJsonArray::fromStringList(wrong));
        page.insert(QStringLiteral("verdict"),
                    text("StudyQuestionnaire",
                         "Not all answers are right. Please look again at %1, then Submit.")
                        .arg(wrong.join(QStringLiteral(", "))));
    }
    openQuestions(m_questions.comprehension, page,
                  [this](const QList<StudyAnswer> &answers) { judgeComprehension(answers); });
}

void WebSitting::judgeComprehension(QList<StudyAnswer> answers) {
    ++m_attempt;
    for (int index = 0; index < answers.size(); ++index) {
        answers[index].attempt = m_attempt;
        if (m_questions.comprehension.at(index).hasRightAnswer())
            answers[index].correct =
                IsRightAnswer(m_questions.comprehension.at(index), answers[index]);
    }
    for (const StudyAnswer &answer : std::as_const(answers))
        recordAnswer(answer);
    const QStringList wrong = JudgeComprehension(m_questions.comprehension, answers);
    const StudyDesign &design = m_web.study().design();
    const bool lastAttempt = m_attempt >= design.comprehensionAttempts;
    if (wrong.isEmpty() || (lastAttempt && design.playAfterFailedComprehension)) {
        openTask();
    } else if (lastAttempt) {
        closeSitting(QStringLiteral("screened"),
                     text("Sitting", "Thank you. The study ends here, since the questions "
                                     "about the instructions were not answered rightly."),
                     m_web.settings().screenedOutCode);
    } else {
        askComprehension(wrong);
    }
}

// ---- The end of the sitting -------------------------------------------------------------

const TaskState &WebSitting::closingState() const {
    return m_run ? m_run->state() : m_plan;
}

void WebSitting::openQuestionnaire() {
    const TaskState &run = closingState();
    if (!m_questions.after.isEmpty()) {
        openQuestions(
            m_questions.after, {}, [this, runId = run.runId](const QList<StudyAnswer> &answers) {
                for (const StudyAnswer &answer : answers)
                    RecordStudyAnswer(m_web.database(), studyAnswerRow(runId, answer), recorded());
                openEndScreen();
            });
        return;
    }
    openQuestions(programQuestions(run), {},
                  [this, runId = run.runId, subject = run.subjectName,
                   version = run.versionTag](const QList<StudyAnswer> &answers) {
                      for (int number = 1; number <= answers.size(); ++number)
                          recordProgramAnswer(runId, subject, version, number,
                                              answers.at(number - 1).answer);
                      openEndScreen();
                  });
}

// An answer to the program's own questions, then its tie to the run.
void WebSitting::recordProgramAnswer(const QString &runId, const QString &subject,
                                     const QString &version, int number, const QString &answer) {
    Database *database = &m_web.database(); // the database outlives every sitting
    RecordQuestionnaireAnswer(*database, questionnaireRow(subject, version, number, answer),
                              [database, runId, noted = recorded()](bool written, qint64 rowId) {
                                  if (written)
                                      RecordRunQuestionnaire(
                                          *database, runQuestionnaireRow(runId, rowId), noted);
                                  else
                                      noted(false, 0);
                              });
}

void WebSitting::openEndScreen() {
    const TaskState &run = closingState();
    const QString folder = m_web.dataDirectory();
    const QString path = m_web.study().endScreenPath(run.studyCondition, m_translation.code());
    const double bonus = run.TotalBonus - run.basePayment + m_bonusOfBlocksBefore;
    const double payment = run.basePayment + m_baseOfBlocksBefore + bonus;
    QJsonObject message{{QStringLiteral("kind"), QStringLiteral("completed")},
                        {QStringLiteral("text"), text("WebSitting", "Thank you for taking part.")}};
    StudyPage page;
    QString error;
    if (!path.isEmpty() && ReadStudyPage(folder, path, &page, &error)) {
        page.html = FillEndScreen(
            page.html, {payment, bonus, run.periodsInBand + m_bandOfBlocksBefore, run.subjectName},
            {run.currency, run.currencyAfter, m_translation.code()});
        m_web.files().allow(ShownFiles(page));
        message.insert(QStringLiteral("page"), PageJson(folder, page));
    } else if (!path.isEmpty()) {
        printError(QStringLiteral("The end screen is not shown: ") + error);
    }
    const WebSettings &settings = m_web.settings();
    message.insert(QStringLiteral("code"), settings.completionCode);
    if (!settings.completionUrl.isEmpty()) {
        QString url = settings.completionUrl;
        message.insert(
            QStringLiteral("url"),
            url.replace(QLatin1String("{code}"),
                        QString::fromLatin1(QUrl::toPercentEncoding(settings.completionCode))));
        message.insert(QStringLiteral("go"), text("WebSitting", "Back to the panel"));
    }
    m_over = true;
    show(QStringLiteral("end"), message);
}

void WebSitting::openInfo(const QString &info, std::function<void()> next) {
    m_next = std::move(next);
    show(QStringLiteral("info"), {{QStringLiteral("text"), info},
                                  {QStringLiteral("next"), text("WebSitting", "Continue")}});
}

// The sitting ends before its end screen: declined, screened out, withdrawn or refused.
void WebSitting::closeSitting(const QString &kind, const QString &info, const QString &code) {
    m_over = true;
    show(QStringLiteral("end"), {{QStringLiteral("kind"), kind},
                                 {QStringLiteral("text"), info},
                                 {QStringLiteral("code"), code}});
}
