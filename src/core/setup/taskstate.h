#pragma once

#include "core/setup/highlightcolours.h"

#include <QString>
#include <QStringList>
#include <QTime>

#include <cstdint>
#include <vector>

// The largest magnitude of an amount, a flow or an order the program takes in: beyond any
// tank, and beyond the 15 significant digits the data file keeps.
inline constexpr double MaxMagnitude = 1e15;

// The one block of task state that every window shares. Names are the design's own, which
// experimenters and modellers know from the data file and the setup file.
//
// While scaledTank is true, Amount, InitialAmountInTank and GoalLinePoisition are held in
// screen units (units times unitHeight, twips) once the task window has laid out its scale;
// flows, orders and money are never scaled.
struct TaskState {
    // Scenario parameters from the setup file.
    int32_t MaxTrial = 0;
    double InitialAmountInTank = 0;
    double GoalLinePoisition = 0;
    double InitialBackOrder = 0;
    double InitialForwardDischarge = 0;
    int16_t MaxNumberOfAScenarioType = 0;
    // The environment's flows of periods 1, 2, 3, ... as the setup file schedules them: one
    // value for every period, or one per period; empty when the file schedules none.
    std::vector<double> EnvInflowSchedule;
    std::vector<double> EnvOutflowSchedule;
    // The optional keys EnvInflowNoise and EnvOutflowNoise: the standard deviation of the
    // normal noise added to each period's scheduled flow (0: none); EnvSeed: the seed every
    // run of the setup plays (0: a fresh one for every run).
    double EnvInflowNoise = 0;
    double EnvOutflowNoise = 0;
    uint64_t EnvSeed = 0;
    // The optional key ExitPassword: when it gives one, the exit authentication asks for it
    // and takes nothing else; empty, the window fills in its own access code.
    QString ExitPassword;
    // The optional key ExitUsername: 0 leaves the user-name box out of the exit window, which
    // then asks for the password alone; 1 (the default) shows it.
    bool ExitUsername = true;
    // The optional key PracticePeriods: a person first plays this many periods of the
    // scenario as a practice run of its own (0: none; a model never practises).
    int32_t PracticePeriods = 0;
    // The optional key HighlightColours: the colours of the user's flows while they act.
    HighlightColours UserHighlights;
    // The optional key Language: the language a person's windows show ("de"); empty or "en":
    // English. Records never change with it.
    QString Language;
    // The optional key GenderOptions: the subject form's gender choices; none: Male and
    // Female.
    QStringList GenderOptions;

    // Delay regimes: element k+1 of a value table is the delay that follows regime k.
    int16_t inFlowDelayCount = 1;
    int16_t outFlowDelayCount = 1;
    std::vector<double> inFlowDelayValue;
    std::vector<double> inFlowDelayLength;
    std::vector<double> outFlowDelayValue;
    std::vector<double> outFlowDelayLength;
    std::vector<int16_t> inFlowDelayEnd;
    std::vector<int16_t> outFlowDelayEnd;
    int16_t inFlowTPAfter = 0;
    int16_t outFlowTPAfter = 0;

    // The optional keys BasePayment, BonusPerPeriod, ToleranceBelow, ToleranceAbove,
    // Currency, CurrencyAfter and UnitName: the money, the band around the goal and the
    // amount's unit (these defaults when the file leaves them out). Records keep the figures
    // alone; the symbol and unit are only shown.
    double basePayment = 5.0;
    double bonusPerPeriod = 0.05;
    double goalToleranceBelow = 0.1;
    double goalToleranceAbove = 0.1;
    QString currency = QStringLiteral("$");
    bool currencyAfter = false;
    QString unitName = QStringLiteral("Gallons");

    // Fixed scenario constants.
    int16_t numYMarks = 10;
    double envFlowFactor = 1.0;
    int16_t AfterEveryNTrials = 1;
    bool scaledTank = true;
    bool showTimePeriod = true;
    bool showOrderBalances = false;
    double timer2Interval = 1.0;
    int32_t envMoveInterval = 1;
    int32_t userMoveInterval = 1;
    double tankCapacity = 10.0;
    QStringList yMarkLabels;

    // Per-period tables, indexed by period number; index 0 is never a played period.
    std::vector<double> UserInflow;
    std::vector<double> UserOutflow;
    std::vector<double> BackOrder;
    std::vector<double> ForwardDischarge;
    std::vector<double> EnvInflow;
    std::vector<double> EnvOutflow;

    // Running quantities.
    int32_t currentTrial = 0;
    double Amount = 0;
    double TotalBackOrder = 0;
    double TotalForwardDischarge = 0;
    double CurrentBonus = 0;
    double TotalBonus = 0;
    // The periods of the run so far that ended in the band, each earning bonusPerPeriod.
    int32_t periodsInBand = 0;
    double accumulatedCost = 0;
    double currentCost = 0;
    QTime StartTime;
    QTime EndTime;

    // Owned by the screens, the model connection and the tank view.
    QString subjectName;
    QString versionTag;
    QString condition;
    // The run's identity in Runs.txt and datRun, set at Start.
    QString runId;
    QString studyCondition;
    QString setupId;
    // The study files a person's run shows, kept as studyfiles/STUDYFILESID/; empty: none.
    QString studyFilesId;
    // The seed of the run's environment noise; 0 when the environment has none.
    uint64_t runSeed = 0;
    // The run is a person's practice: MaxTrial is then PracticePeriods.
    bool practice = false;
    // A run without a model plays at the paced mode's length; a model's login sets these.
    // The optional key PeriodPauseMs: each of the two pauses of a person's period.
    int32_t personPauseMs = 2000;
    int32_t userDelayInterval = 2000;
    int32_t envDelayInterval = 2000;
    // The pause of every timed step of a BATCH period (1 ms unless the command line says).
    int32_t batchPauseMs = 1;
    bool exitConfirmed = false;
    bool quitFromLogin = false;
    bool exitAuthorised = false;
    bool resetRequested = false;
    QString lastModelCommand;
    double unitHeight = 1.0;
    double unitsPerMark = 1.0;
    int16_t tankIndex = 0;
    int16_t pipeUserIn = 0;
    int16_t pipeUserOut = 1;
    int16_t pipeEnvIn = 2;
    int16_t pipeEnvOut = 3;

    // Exit authentication.
    QString exitPassword;
    QString exitUserNameEntered;
    bool exitPasswordMatches = false;
};

// Element i of a per-period table, or 0 for a period the table does not hold.
inline double periodValue(const std::vector<double> &table, int64_t period) {
    if (period < 0 || period >= static_cast<int64_t>(table.size()))
        return 0.0;
    return table[static_cast<size_t>(period)]; // inline: a period looks up some twenty
}

// Prepares the per-period tables and running totals before the task window opens.
void InitTaskState(TaskState &state);
