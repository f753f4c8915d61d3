#include "recording/datafile.h"

#include "setup/numbers.h"
#include "setup/taskstate.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>
#include <string>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace {

const char *const columnNames[] = {"Subject",
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
    for (const char *name : columnNames)
        names.append(QLatin1String(name));
    return names.join(QLatin1Char('\t'));
}

QString periodLine(const TaskState &state, const QDate &date, bool inflowBoxHasText,
                   bool outflowBoxHasText) {
    // Built as plain characters, field by field: a pause-free run writes thousands a second.
    std::string line;
    line.reserve(160);
    const auto text = [&line](const QString &field) {
        const QByteArray bytes = fieldText(field).toLatin1();
        line.append(bytes.constData(), static_cast<size_t>(bytes.size()));
        line.push_back('\t');
    };
    const auto number = [&line](double value) {
        numbers::appendGeneral(line, value);
        line.push_back('\t');
    };
    const auto whole = [&line](int64_t value) {
        line.append(std::to_string(value));
        line.push_back('\t');
    };
    const int64_t t = state.currentTrial;
    text(state.subjectName);
    text(state.versionTag);
    whole(t);
    text(numbers::usShortDate(date));
    text(numbers::usLongTime(state.StartTime));
    text(numbers::usLongTime(state.EndTime));
    number(state.CurrentBonus);
    number(state.TotalBonus);
    number(inflowBoxHasText ? periodValue(state.UserInflow, t) : 0.0);
    number(outflowBoxHasText ? periodValue(state.UserOutflow, t) : 0.0);
    number(periodValue(state.EnvInflow, t));
    number(periodValue(state.EnvOutflow, t));
    number(inUnits(state, state.Amount));
    number(periodValue(state.BackOrder, t));
    number(state.TotalBackOrder);
    number(periodValue(state.ForwardDischarge, t));
    number(state.TotalForwardDischarge);
    number(inUnits(state, state.GoalLinePoisition));
    whole(state.inFlowTPAfter);
    whole(state.outFlowTPAfter);
    // The columns carry the tolerances, below the goal first, under these names.
    number(state.goalToleranceBelow);
    number(state.goalToleranceAbove);
    line.pop_back(); // no TAB after the last field
    return QString::fromLatin1(line.data(), static_cast<qsizetype>(line.size()));
}

bool WriteDataHeader(const QString &path, QString *error) {
    return WriteHeaderIfNew(path, dataHeaderLine(), error);
}

bool WritePeriodLine(const QString &path, const QString &line, QString *error) {
    return AppendLine(path, line, error);
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

bool AppendLine(const QString &path, const QString &line, QString *error) {
#ifdef Q_OS_UNIX
    // Open, one write, close: a model's pause-free run writes thousands of lines a second,
    // and a plain append needs no more of the kernel than these three calls.
    const QByteArray bytes = (line + lineEnd).toLatin1();
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        setError(error, path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    const ssize_t written = ::write(fd, bytes.constData(), static_cast<size_t>(bytes.size()));
    const int writeErrno = errno;
    const bool closed = ::close(fd) == 0;
    if (written != bytes.size() || !closed) {
        setError(error, path,
                 written < 0               ? QString::fromLocal8Bit(std::strerror(writeErrno))
                 : written != bytes.size() ? QStringLiteral("the line was written only in part")
                                           : QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    return true;
#else
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        setError(error, path, file.errorString());
        return false;
    }
    return writeAll(file, line + lineEnd, error);
#endif
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
