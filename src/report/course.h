#pragma once

#include "report/runs.h"
#include "report/setups.h"

#include <QString>

#include <vector>

// A run's course as its plots draw it: the amount from period 0, and the player's flows in
// the periods they acted in, which the delays set apart from the periods they were ordered.
struct RunCourse {
    // The amount before period 1, or NaN when it cannot be known (period 1 is not readable
    // and no kept setup names it).
    double initialAmount;
    // Per period of the run (the same index as run.periods): the player's inflow and outflow
    // that acted in it, as the state message to a model reports them (0 for a share of an
    // initial order); NaN where the ordering period cannot be read.
    std::vector<double> actedInflow;
    std::vector<double> actedOutflow;
    // How the flows were placed, for the page: "replayed through the kept setup ..." or
    // "placed by the delays Data.txt records".
    QString method;
};

// Replays the run through the period steps with its scenario, its decisions and its
// environment's flows when the kept scenario is at hand and the run's periods are all there;
// it must give the amounts Data.txt records. Otherwise (or when it does not), the flows are
// placed by the delays each period's line records, and the initial amount is period 1's
// amount less the flows that acted in it.
RunCourse courseOf(const Run &run, const KeptScenario *scenario);
