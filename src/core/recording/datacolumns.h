#pragma once

#include <array>

// The columns of Data.txt, in the order the program writes them and every reader finds them.
// Columns 21 and 22 carry the goal band's tolerances, below the goal first, under these
// names: the lab's analysis scripts know them so.
enum DataColumn {
    Subject,
    Version,
    Trial,
    Date,
    StartTime,
    EndTime,
    CurrentBonus,
    TotalBonus,
    UserInflow,
    UserOutflow,
    EnvInflow,
    EnvOutflow,
    Amount,
    BackOrder,
    TotalBackOrder,
    ForwardDischarge,
    TotalForwardDischarge,
    GoalAmount,
    DelayUI,
    DelayUO,
    GoalUpperBound,
    GoalLowerBound,
    DataColumnCount
};

inline constexpr std::array<const char *, DataColumnCount> dataColumnNames = {
    "Subject",
    "Version",
    "Trial",
    "Date",
    "StartTime",
    "EndTime",
    "CurrentBonus",
    "TotalBonus",
    "UserInflow",
    "UserOutflow",
    "EnvInflow",
    "EnvOutflow",
    "Amount",
    "BackOrder",
    "TotalBackOrder",
    "ForwardDischarge",
    "TotalForwardDischarge",
    "GoalAmount",
    "DelayUI",
    "DelayUO",
    "GoalUpperBound",
    "GoalLowerBound"};

// The columns that hold a figure of the period: every one but the subject, the version, the
// date and the two times.
inline constexpr bool isFigureColumn(int column) {
    return column == Trial || (column >= CurrentBonus && column < DataColumnCount);
}

// The figure columns written as whole numbers.
inline constexpr bool isWholeColumn(int column) {
    return column == Trial || column == DelayUI || column == DelayUO;
}
