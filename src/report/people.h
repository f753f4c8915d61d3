#pragma once

#include "core/recording/problem.h"

#include <QList>
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
};

// A row of datQuestionnaire.
struct QuestionnaireAnswer {
    QString subject;
    QString version;
    QString questionNumber;
    QString answer;
};

// What Krugel.db tells of the people who played.
struct People {
    bool isRead = false; // false when the database could not be read at all
    QList<SubjectRecord> subjects;
    QList<QuestionnaireAnswer> answers; // by subject, then question number

    QList<SubjectRecord> subjectRecordsOf(const QString &subject) const;
    QList<QuestionnaireAnswer> answersOf(const QString &subject) const;
};

// Reads both tables from the database at `path`, opened read-only: the report never creates
// the file or changes it. A missing file, one that is no database or a missing table gives
// what could be read and a problem.
People readPeople(const QString &path, Problems &problems);
