#pragma once

#include "report/report.h"

#include <QList>
#include <QString>

// A person with a subject record and no completed run (practice runs do not count): who
// left during the instructions, the practice or the task, or whose run was cut off.
struct Dropout {
    int folder = 0;
    QString condition; // the study condition of the person's runs in datRun; empty for none
    SubjectRecord record;
    // Where the person stopped as far as the records tell: "before the first period",
    // "in the practice: exited after period 2 of 3", "after the practice, before the task's
    // first period", "in the task: exited after period 40 of 100", ...
    QString stopped;
    QList<qsizetype> runs; // the person's runs, indices into the report's runs, in order
};

// The dropouts of every folder whose database could be read, folder by folder, each in the
// order of the subject records. A record's runs are those datRun ties to it; a record datRun
// does not know (one written before the table existed) has the runs of its name that no
// datRun row claims.
QList<Dropout> findDropouts(const Report &report);
