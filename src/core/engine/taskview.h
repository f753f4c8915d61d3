#pragma once

#include "core/setup/highlightcolours.h"

#include <QString>
#include <QStringList>

#include <array>
#include <vector>

// What the task window shows, as plain values: the engine's steps change it, the window only
// draws it. Member names are the names of the window's controls.

enum class Colour { Black, Red, Green, Blue };

// A flow value box: idle (black, empty) or lit (red for an inflow, green for an outflow).
struct FlowBox {
    Colour back = Colour::Black;
    QString text;
    bool lit() const { return back != Colour::Black; }
};

// One of the hidden flow text labels ("USER: 3", "ENV: 0").
struct FlowLabel {
    QString caption;
    Colour colour = Colour::Black;
};

// The tank's blue fill, in whole twips.
struct FillRect {
    int left = 2880;
    int top = 2760;
    int width = 9360;
    int height = 3615;
    bool visible = true;
};

struct TaskView {
    // Whether anything draws this view. A run nobody sees (a BATCH model's) keeps its
    // figures in the task state alone: its steps lay out no text.
    bool drawn = true;
    // A figure as the window shows it ("00.000"), where the view is drawn.
    QString figureText(double value) const;
    // A flow text label's caption ("USER: 3", "ENV: .5"), where the view is drawn.
    QString flowCaption(const QString &who, double value) const;

    // What the window's captions and layout depend on.
    QString unitName;
    // The currency symbol beside the money figures.
    QString currency = QStringLiteral("$");
    bool showTimePeriod = true;
    bool showOrderBalances = false;
    // A person's practice run: the window says so.
    bool practice = false;
    // The user's flows are lit in these; the environment's in red and green.
    HighlightColours userHighlights;

    std::array<bool, 4> pipeWater{}; // indexed by pipe: user in, user out, env in, env out
    FlowBox lblUsrInCon;
    FlowBox lblUsrOutCon;
    FlowBox lblEnvInCon;
    FlowBox lblEnvOutCon;
    std::array<FlowLabel, 2> lblUserInput;
    std::array<FlowLabel, 2> lblUserOutput;
    std::array<FlowLabel, 2> lblEnvInput;
    std::array<FlowLabel, 2> lblEnvOutput;

    QString lblStatusValue;
    QString lblCurrTimePeriod;
    QString lblTotTimePeriod;
    QString lblInFlowStatusEnvVal;
    QString lblOutFlowStatusEnvVal;
    QString lblInFlowStatusVal;
    QString lblOutFlowStatusVal;
    QString lblGoalStatusVal;
    QString lblAmountStatusVal;
    QString lblBackOrderVal;
    QString lblForwardOrderVal;
    QString lblCurrBonusVal;
    QString lblAccuBonusVal;
    QString lblCurrCostVal;
    QString lblAccuCostVal;

    bool submitEnabled = true; // cmdNextTrial
    bool entryEnabled = true;  // txtUsrInflowVal and txtUsrOutflowVal
    // The entry boxes' texts where the run sets them: "0" at load and at the close of every
    // period, a model's decision while its period plays. entryRevision counts these settings,
    // so that a window keeps what a person types in between.
    std::array<QString, 2> entryText{QStringLiteral("0"), QStringLiteral("0")};
    int entryRevision = 0;

    FillRect TankFill;
    std::vector<float> markY;       // y of each scale mark
    std::vector<float> lblMarkYTop; // top of each mark's caption
    QStringList lblMarkYCaption;
    float lineGoalY = 0; // lineGoal's y; lblGoal's top is the same
};
