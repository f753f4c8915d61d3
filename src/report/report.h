#pragma once

#include "core/recording/problem.h"
#include "report/people.h"
#include "report/runs.h"

#include <QList>
#include <QString>

// All the report says about one data folder.
struct Report {
    QString dataDirectory;
    QList<Run> runs;
    People people;
    Problems problems;
};

// Reads Data.txt, Runs.txt and Krugel.db from the folder. What is missing or cannot be read
// becomes a problem; the rest is reported all the same.
Report readReport(const QString &dataDirectory);
