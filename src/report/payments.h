#pragma once

#include "report/report.h"

#include <QByteArray>

// What to pay each person, as CSV like the other exports: one row per person (a subject's
// name within its data folder) who played a run, in the order of their first runs. Subject,
// Runs (the person's runs that are not practice), Completed (those that went to their last
// period), PeriodsInBand, Payment (the sum of those runs' payments: each one's base payment
// and bonuses), Bonus (the bonuses alone), RunIds (those runs' RunIds, separated by blanks)
// and Folder. Practice runs pay nothing and count nowhere: a person who played only practice
// periods has Runs 0 and Payment 0. Models are not paid.
QByteArray paymentsCsv(const Report &report);
