#include "core/recording/datafile.h"

#include "core/common/numbers.h"
#include "core/recording/datacolumns.h"
#include "core/setup/taskstate.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <string>

namespace {

// Amounts are held in screen units while the tank is scaled; the file records units.
double inUnits(const TaskState &state, double value) {
    return state.scaledTank ? value / state.unitHeight : value;
}

} // namespace

bool FitsDataFiles(const QString &text) {
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 256; });
}

// The file has no quoting: a TAB or line break inside a text field would split it.
QString fieldText(QString text) {
    for (QChar &c : text) {
        if (c == QLatin1Char('\t') || c == QLatin1Char('\r') || c == QLatin1Char('\n'))
            c = QLatin1Char(' ');
    }
    return text;
}

QString dataHeaderLine() {
    QStringList names;
    for (const char *name : dataColumnNames)
        names.append(QLatin1String(name));
    return names.join(QLatin1Char('\t'));
}

PeriodFigures periodFigures(const TaskState &state) {
    const int64_t t = state.currentTrial;
    PeriodFigures figures{};
    figures[Trial] = static_cast<double>(t);
    figures[CurrentBonus] = state.CurrentBonus;
    figures[TotalBonus] = state.TotalBonus;
    // The decision's flows: an empty entry box would record 0, but the close of the period
    // has just set both boxes to "0", so the decision itself is recorded.
    figures[UserInflow] = periodValue(state.UserInflow, t);
    figures[UserOutflow] = periodValue(state.UserOutflow, t);
    figures[EnvInflow] = periodValue(state.EnvInflow, t);
    figures[EnvOutflow] = periodValue(state.EnvOutflow, t);
    figures[Amount] = inUnits(state, state.Amount);
    figures[BackOrder] = periodValue(state.BackOrder, t);
    figures[TotalBackOrder] = state.TotalBackOrder;
    figures[ForwardDischarge] = periodValue(state.ForwardDischarge, t);
    figures[TotalForwardDischarge] = state.TotalForwardDischarge;
    figures[GoalAmount] = inUnits(state, state.GoalLinePoisition);
    figures[DelayUI] = state.inFlowTPAfter;
    figures[DelayUO] = state.outFlowTPAfter;
    // The columns carry the tolerances, below the goal first, under these names.
    figures[GoalUpperBound] = state.goalToleranceBelow;
    figures[GoalLowerBound] = state.goalToleranceAbove;
    return figures;
}

QByteArray periodLine(const TaskState &state, const QDate &date) {
    // Built as plain characters, field by field: a pause-free run writes thousands a second.
    std::string line;
    line.reserve(160);
    const auto text = [&line](const QString &field) {
        for (const QChar c : field) {
            const bool breaksLine =
                c == QLatin1Char('\t') || c == QLatin1Char('\r') || c == QLatin1Char('\n');
            line.push_back(breaksLine ? ' ' : c.toLatin1());
        }
        line.push_back('\t');
    };
    const auto number = [&line](double value) {
        numbers::appendGeneral(line, value);
        line.push_back('\t');
    };
    const auto whole = [&line](int64_t value) {
        numbers::appendWhole(line, value);
        line.push_back('\t');
    };
    const PeriodFigures figures = periodFigures(state);
    text(state.subjectName);
    text(state.versionTag);
    whole(static_cast<int64_t>(figures[Trial]));
    numbers::appendUsShortDate(line, date);
    line.push_back('\t');
    numbers::appendUsLongTime(line, state.StartTime);
    line.push_back('\t');
    numbers::appendUsLongTime(line, state.EndTime);
    line.push_back('\t');
    for (int column = CurrentBonus; column < DataColumnCount; ++column) {
        const double figure = figures[static_cast<size_t>(column)];
        if (isWholeColumn(column))
            whole(static_cast<int64_t>(figure));
        else
            number(figure);
    }
    line.pop_back(); // no TAB after the last field
    return QByteArray(line.data(), static_cast<qsizetype>(line.size()));
}

namespace {

// Whether `field` is what periodLine writes in `column`.
bool writtenForm(int column, const QString &field) {
    if (column == Subject || column == Version)
        return true;
    std::string text;
    if (column == Date) {
        const QDate date = QDate::fromString(field, QStringLiteral("M/d/yyyy"));
        if (!date.isValid())
            return false;
        numbers::appendUsShortDate(text, date);
    } else if (column == StartTime || column == EndTime) {
        const QTime time = QTime::fromString(field, QStringLiteral("h:mm:ss AP"));
        if (!time.isValid())
            return false;
        numbers::appendUsLongTime(text, time);
    } else {
        const std::optional<double> value = numbers::parseNumber(field);
        if (!value || !(std::abs(*value) <= MaxMagnitude))
            return false;
        if (isWholeColumn(column))
            numbers::appendWhole(text, static_cast<int64_t>(*value));
        else
            numbers::appendGeneral(text, *value);
    }
    return field == QLatin1String(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

TailKind classifyDataTail(QByteArrayView tail) {
    const QStringList fields = QString::fromLatin1(tail).split(QLatin1Char('\t'));
    if (fields.size() > DataColumnCount)
        return TailKind::Foreign;
    // Every field but the last is whole; the last may have been cut short.
    for (int column = 0; column + 1 < fields.size(); ++column) {
        if (!writtenForm(column, fields.at(column)))
            return TailKind::Foreign;
    }
    const bool whole =
        fields.size() == DataColumnCount && writtenForm(DataColumnCount - 1, fields.constLast());
    return whole ? TailKind::Whole : TailKind::Partial;
}

bool SubjectInDataFile(const QString &path, const QString &subject) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray field = fieldText(subject).toLatin1() + '\t';
    file.readLine(); // the header
    while (!file.atEnd()) {
        if (file.readLine().startsWith(field))
            return true;
    }
    return false;
}
