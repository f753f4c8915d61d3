#include "display/steptimer.h"

#include <QSocketNotifier>
#include <QTimer>

#ifdef Q_OS_LINUX
#include <sys/timerfd.h>
#include <unistd.h>

#include <cstdint>
#endif

StepTimer::StepTimer(const char *name, QObject *parent)
    : QObject(parent) {
    setObjectName(QLatin1String(name));
#ifdef Q_OS_LINUX
    m_fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_fd >= 0) {
        m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, [this] {
            std::uint64_t expirations = 0;
            if (::read(m_fd, &expirations, sizeof expirations) > 0)
                fire();
        });
        return;
    }
#endif
    m_fallback = new QTimer(this);
    m_fallback->setSingleShot(true);
    m_fallback->setTimerType(Qt::PreciseTimer);
    connect(m_fallback, &QTimer::timeout, this, &StepTimer::fire);
}

StepTimer::~StepTimer() {
#ifdef Q_OS_LINUX
    if (m_fd >= 0)
        ::close(m_fd);
#endif
}

void StepTimer::start(int milliseconds) {
    m_interval = milliseconds;
    start();
}

void StepTimer::start() {
    m_active = true;
    if (m_fallback) {
        m_fallback->start(m_interval);
        return;
    }
#ifdef Q_OS_LINUX
    const long long nanoseconds = m_interval > 0 ? m_interval * 1000000LL : 1; // 0 disarms
    itimerspec wait{};
    wait.it_value.tv_sec = static_cast<time_t>(nanoseconds / 1000000000LL);
    wait.it_value.tv_nsec = static_cast<long>(nanoseconds % 1000000000LL);
    timerfd_settime(m_fd, 0, &wait, nullptr);
#endif
}

void StepTimer::stop() {
    if (!m_active)
        return; // a step stops its own timer, which has just fired
    m_active = false;
    if (m_fallback) {
        m_fallback->stop();
        return;
    }
#ifdef Q_OS_LINUX
    const itimerspec disarm{};
    timerfd_settime(m_fd, 0, &disarm, nullptr);
    std::uint64_t expirations = 0;
    [[maybe_unused]] const auto drained = ::read(m_fd, &expirations, sizeof expirations);
#endif
}

void StepTimer::fire() {
    if (!m_active)
        return; // stopped after it expired, before its event was delivered
    m_active = false;
    emit timeout();
}
