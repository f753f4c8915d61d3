#include "core/recording/datafile.h"

#include "core/common/numbers.h"
#include "core/common/platform.h"
#include "core/recording/datacolumns.h"
#include "core/setup/taskstate.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>
#include <string>

namespace {

const QLatin1String lineEnd("\r\n");

// Amounts are held in screen units while the tank is scaled; the file records units.
double inUnits(const TaskState &state, double value) {
    return state.scaledTank ? value / state.unitHeight : value;
}

void setError(QString *error, const QString &path, const QString &reason) {
    if (error != nullptr)
        *error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), reason);
}

// One write of the whole text, unbuffered, so no reader ever sees half a line.
bool writeAll(QFile &file, const QString &text, QString *error) {
    const QByteArray bytes = text.toLatin1();
    const bool written = file.write(bytes) == bytes.size();
    // close() clears the error of a failed write, so its reason is taken first.
    const QString writeError = written ? QString() : file.errorString();
    file.close();
    if (!written || file.error() != QFileDevice::NoError) {
        setError(error, file.fileName(), written ? file.errorString() : writeError);
        return false;
    }
    return true;
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

bool WriteDataHeader(const QString &path, QString *error) {
    return WriteHeaderIfNew(path, dataHeaderLine(), error);
}

bool WritePeriodLine(const QString &path, const QByteArray &line, QString *error) {
    return AppendLine(path, line, error);
}

bool WritePeriodLine(const QString &path, const QString &line, QString *error) {
    return AppendLine(path, line.toLatin1(), error);
}

bool WriteHeaderIfNew(const QString &path, const QString &header, QString *error) {
    QFile file(path);
    // NewOnly makes the test for an existing file and its creation one step.
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
        if (QFile::exists(path))
            return true;
        setError(error, path, file.errorString());
        return false;
    }
    return writeAll(file, header + lineEnd, error);
}

bool AppendLine(const QString &path, const QByteArray &line, QString *error) {
    QString reason;
    if (platform::appendWhole(path, line + "\r\n", &reason))
        return true;
    setError(error, path, reason);
    return false;
}

bool AppendLine(const QString &path, const QString &line, QString *error) {
    return AppendLine(path, line.toLatin1(), error);
}

bool RepairTornEnd(const QString &path, QString *note, QString *error) {
    QFile file(path);
    if (!file.exists() || file.size() == 0)
        return true;
    if (!file.open(QIODevice::ReadWrite)) {
        setError(error, path, file.errorString());
        return false;
    }
    // Only the last byte is read of a sound file, before every run.
    file.seek(file.size() - 1);
    if (file.read(1) == "\n")
        return true;
    // The last line end is searched backwards in blocks: a data file may be large.
    constexpr qint64 block = 64 * 1024;
    qint64 keep = 0;
    for (qint64 end = file.size(); end > 0 && keep == 0; end -= block) {
        const qint64 start = std::max<qint64>(0, end - block);
        file.seek(start);
        const auto lineEndAt = file.read(end - start).lastIndexOf('\n');
        if (lineEndAt >= 0)
            keep = start + lineEndAt + 1;
    }
    const qint64 torn = file.size() - keep;
    if (!file.resize(keep)) {
        setError(error, path, file.errorString());
        return false;
    }
    *note = QStringLiteral("%1 ended in %2 bytes of a line left by a write that failed; they "
                           "were removed.")
                .arg(QDir::toNativeSeparators(path))
                .arg(torn);
    return true;
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

qint64 LineCount::of(const QString &path) {
    const QFileInfo info(path);
    const qint64 size = info.exists() ? info.size() : 0;
    if (size == m_size)
        return m_lines;
    m_size = size;
    m_lines = 0;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        char buffer[64 * 1024];
        for (qint64 n; (n = file.read(buffer, sizeof buffer)) > 0;)
            m_lines += std::count(buffer, buffer + n, '\n');
    }
    return m_lines;
}

void LineCount::appended(qint64 bytes) {
    if (m_size < 0)
        return; // never counted: the next count reads the file
    m_size += bytes;
    ++m_lines;
}
