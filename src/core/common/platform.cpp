#include "core/common/platform.h"

#include <QFile>

#if defined(Q_OS_UNIX) && !defined(FLUXMERE_QT_ONLY_PLATFORM)
#define FLUXMERE_POSIX 1
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#include <sys/timerfd.h>
#endif
#endif

namespace platform {

#ifdef FLUXMERE_POSIX

namespace {

int signalWriteEnd = -1;

// A signal handler may only write to a descriptor; the event loop does the rest.
void onStopSignal(int number) {
    const auto byte = static_cast<unsigned char>(number);
    const int saved = errno;
    [[maybe_unused]] const auto written = ::write(signalWriteEnd, &byte, 1);
    errno = saved;
}

QString systemReason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

bool catchesStopSignals() {
    return true;
}

void prepareProcess() {
#ifdef Q_OS_LINUX
    prctl(PR_SET_TIMERSLACK, 1UL);
#endif
    std::signal(SIGXFSZ, SIG_IGN);
    // Without TZ the C library looks at /etc/localtime anew at every reading of the local
    // time, a system call three times a period; naming that same file reads it once.
    if (std::getenv("TZ") == nullptr && ::access("/etc/localtime", R_OK) == 0)
        ::setenv("TZ", ":/etc/localtime", 0);
}

int watchStopSignals() {
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        return -1;
    ::fcntl(ends[1], F_SETFL, O_NONBLOCK); // a flood of signals never blocks the handler
    signalWriteEnd = ends[1];
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(number, &action, nullptr);
    return ends[0];
}

int takeStopSignal(int descriptor) {
    unsigned char byte = 0;
    return ::read(descriptor, &byte, 1) == 1 ? byte : 0;
}

void releaseStopSignals(int descriptor) {
    for (int number : {SIGTERM, SIGINT, SIGHUP})
        std::signal(number, SIG_DFL);
    if (descriptor < 0)
        return;
    ::fcntl(descriptor, F_SETFL, O_NONBLOCK);
    if (const int caught = takeStopSignal(descriptor))
        std::raise(caught);
}

namespace {

// The file name as the system takes it, made once for the file a run appends to again and
// again.
const QByteArray &localName(const QString &path) {
    static QString lastPath;
    static QByteArray lastName;
    if (path != lastPath) {
        lastName = QFile::encodeName(path);
        lastPath = path;
    }
    return lastName;
}

} // namespace

bool appendWhole(const QString &path, const QByteArray &bytes, QString *reason,
                 const QByteArray &ifEmpty, qint64 *sizeBefore) {
    const int fd =
        ::open(localName(path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        *reason = systemReason(errno);
        return false;
    }
    struct stat before {};
    if (::fstat(fd, &before) != 0) {
        *reason = systemReason(errno);
        ::close(fd);
        return false;
    }
    if (sizeBefore)
        *sizeBefore = before.st_size;
    const QByteArray &whole = before.st_size == 0 && !ifEmpty.isEmpty() ? ifEmpty + bytes : bytes;
    const ssize_t written = ::write(fd, whole.constData(), static_cast<size_t>(whole.size()));
    const int writeError = errno;
    if (written != whole.size()) {
        // A full disk or a file size limit takes part of the line: the part is taken back.
        // The program is the folder's only writer, so the part is the file's last bytes.
        const bool cutBack = written <= 0 || ::ftruncate(fd, before.st_size) == 0;
        ::close(fd);
        *reason = written < 0 ? systemReason(writeError)
                              : QStringLiteral("only %1 of %2 bytes could be written")
                                    .arg(written)
                                    .arg(whole.size());
        if (!cutBack)
            *reason += QStringLiteral(", and the part written could not be taken back");
        return false;
    }
    if (::close(fd) != 0) {
        *reason = systemReason(errno);
        return false;
    }
    return true;
}

bool syncFile(const QString &path, QString *reason) {
    const int fd = ::open(localName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *reason = systemReason(errno);
        return false;
    }
    const bool synced = ::fdatasync(fd) == 0;
    const int syncError = errno;
    ::close(fd);
    if (!synced)
        *reason = systemReason(syncError);
    return synced;
}

bool processRuns(qint64 pid) {
    return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

bool peerHasHungUp(qintptr socket) {
#ifdef Q_OS_LINUX
    pollfd probe{static_cast<int>(socket), POLLRDHUP, 0};
    return ::poll(&probe, 1, 0) > 0 && (probe.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
#else
    Q_UNUSED(socket);
    return false;
#endif
}

bool shutDownSending(qintptr socket) {
    return ::shutdown(static_cast<int>(socket), SHUT_WR) == 0;
}

#else // Qt-only stand-ins

bool catchesStopSignals() {
    return false;
}

void prepareProcess() {}

int watchStopSignals() {
    return -1;
}

int takeStopSignal(int) {
    return 0;
}

void releaseStopSignals(int) {}

bool appendWhole(const QString &path, const QByteArray &bytes, QString *reason,
                 const QByteArray &ifEmpty, qint64 *sizeBefore) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        *reason = file.errorString();
        return false;
    }
    const qint64 before = file.size();
    if (sizeBefore)
        *sizeBefore = before;
    const QByteArray &whole = before == 0 && !ifEmpty.isEmpty() ? ifEmpty + bytes : bytes;
    const qint64 written = file.write(whole);
    if (written != whole.size()) {
        *reason = file.errorString();
        if (written > 0)
            file.resize(before);
        return false;
    }
    file.close();
    if (file.error() != QFileDevice::NoError) {
        *reason = file.errorString();
        return false;
    }
    return true;
}

bool syncFile(const QString &, QString *) {
    return true;
}

bool processRuns(qint64 pid) {
    return pid > 0; // cannot tell: taken as running
}

bool peerHasHungUp(qintptr) {
    return false;
}

bool shutDownSending(qintptr) {
    return false;
}

#endif

#if defined(FLUXMERE_POSIX) && defined(Q_OS_LINUX)
int openTimer() {
    return timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
}

void armTimer(int descriptor, int milliseconds) {
    itimerspec wait{};
    wait.it_value.tv_sec = static_cast<time_t>(milliseconds / 1000);
    wait.it_value.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    timerfd_settime(descriptor, 0, &wait, nullptr);
}

void disarmTimer(int descriptor) {
    const itimerspec off{};
    timerfd_settime(descriptor, 0, &off, nullptr);
    takeTimerExpiry(descriptor);
}

bool takeTimerExpiry(int descriptor) {
    std::uint64_t expirations = 0;
    return ::read(descriptor, &expirations, sizeof expirations) > 0;
}

void closeTimer(int descriptor) {
    if (descriptor >= 0)
        ::close(descriptor);
}
#else // a precise Qt timer stands in
int openTimer() {
    return -1;
}
void armTimer(int, int) {}
void disarmTimer(int) {}
bool takeTimerExpiry(int) {
    return false;
}
void closeTimer(int) {}
#endif

} // namespace platform
