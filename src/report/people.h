#pragma once

#include "core/recording/problem.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

// A person's row in datSubject, every value as text.
struct SubjectRecord {
    QString subject;
    QString version;
    QString condition;
    QString major;
    QString gender;
    QString age;
    QString date; // yyyy-MM-dd
    QString time; // HH:MM:SS
    qint64 rowId = 0;
    QString genderNumber{}; // the setup's gender option by its number; empty without one
};

// A row of datQuestionnaire.
struct QuestionnaireAnswer {
    QString subject;
    QString version;
    QString questionNumber;
    QString answer;
    qint64 rowId = 0;
};

// A row of datAnswer: an answer to a study's own questionnaire, tied to its run.
struct StudyAnswerRecord {
    QString runId;
    QString questionId;
    QString questionText;
    QString answer;
    QString answerNumber;    // a rating's, slider's or number's value, a choice's option number
    QString answerOptions{}; // a choice's or multiple's options chosen by number, as "1;3"
    QString attempt{};       // a comprehension check's Submit, from 1; empty elsewhere
    QString correct{};       // a checked question: 1 right, 0 wrong; empty elsewhere
};

// What the database holds of one run's person.
struct RunPeople {
    enum class Match {
        Run,  // through the run's own rows in datRun and datRunQuestionnaire
        Name, // by the subject's name: the database or the run has no such rows
    };
    Match match = Match::Name;
    QList<SubjectRecord> records;
    QList<QuestionnaireAnswer> answers;    // by question number
    QList<StudyAnswerRecord> studyAnswers; // the run's own, in the order asked

    // Whether the answers name one answer per question at most: a person matched by name
    // who played twice has two answers to each, which no reader can tell apart.
    bool answersAreTheRunsOwn() const;
};

// A row of datRun: a person's run tied to its subject record.
struct RunLink {
    QString runId;
    qint64 subjectRowId = 0;
    QString studyCondition;
};

// What Krugel.db tells of the people who played.
struct People {
    bool isRead = false;                // false when the database could not be read at all
    bool hasRunLinks = false;           // it has datRun and datRunQuestionnaire (newer databases)
    QList<SubjectRecord> subjects;      // by rowid
    QList<QuestionnaireAnswer> answers; // by question number, then rowid
    QList<RunLink> runLinks;            // datRun, by rowid
    QHash<QString, qint64> subjectRowOfRun;        // datRun: RunId -> SubjectRowId
    QHash<QString, QString> studyFilesOfRun;       // datRun: RunId -> StudyFilesId, where set
    QHash<QString, QList<qint64>> answerRowsOfRun; // datRunQuestionnaire
    QList<StudyAnswerRecord> studyAnswers;         // datAnswer, by rowid; none in older ones

    QList<SubjectRecord> subjectRecordsOf(const QString &subject) const;
    // The subject record datRun ties to the run, or none.
    const SubjectRecord *tiedSubjectOf(const QString &runId) const;
    QList<QuestionnaireAnswer> answersOf(const QString &subject) const;
    // The run's answers in datAnswer, in the order asked; none for an empty `runId`.
    QList<StudyAnswerRecord> studyAnswersOf(const QString &runId) const;
    // The run's own subject record and answers where the database ties them to `runId`;
    // otherwise those of `subject` that no run claims.
    RunPeople ofRun(const QString &runId, const QString &subject) const;
};

// Reads the tables from the database at `path`, opened read-only: the report never creates
// the file or changes it. A missing file, one that is no database or a missing table gives
// what could be read and a problem; a database without the two run tables is read as one
// made before they existed.
People readPeople(const QString &path, Problems &problems);
