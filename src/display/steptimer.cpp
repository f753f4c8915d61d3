#include "display/steptimer.h"

#include <QSocketNotifier>
#include <QTimer>

#ifdef Q_OS_LINUX
#include <sys/timerfd.h>
#include <unistd.h>

#include <cstdint>
#endif

StepTimer::StepTimer(const char *name, QObject *parent)
    : QObject(parent)
    , m_zero(new QTimer(this)) {
    setObjectName(QLatin1String(name));
    m_zero->setSingleShot(true);
    m_zero->setInterval(0);
    connect(m_zero, &QTimer::timeout, this, &StepTimer::fire);
#ifdef Q_OS_LINUX
    m_fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_fd >= 0) {
        // Watched only while armed: an idle timer costs the event loop nothing.
        m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
        m_notifier->setEnabled(false);
        connect(m_notifier, &QSocketNotifier::activated, this, [this] {
            std::uint64_t expirations = 0;
            if (::read(m_fd, &expirations, sizeof expirations) > 0) {
                m_armed = false;
                m_notifier->setEnabled(false);
                fire();
            }
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
    disarm();
    m_active = true;
    if (m_interval <= 0) {
        // A pause of nothing is no wait: the event loop runs the step as soon as it comes
        // round, in order, without arming a kernel timer or waking itself through the kernel.
        m_zero->start();
        return;
    }
    if (m_fallback) {
        m_fallback->start(m_interval);
        return;
    }
#ifdef Q_OS_LINUX
    itimerspec wait{};
    wait.it_value.tv_sec = static_cast<time_t>(m_interval / 1000);
    wait.it_value.tv_nsec = static_cast<long>(m_interval % 1000) * 1000000L;
    timerfd_settime(m_fd, 0, &wait, nullptr);
    m_armed = true;
    m_notifier->setEnabled(true);
#endif
}

void StepTimer::stop() {
    if (!m_active)
        return; // a step stops its own timer, which has just fired
    m_active = false;
    disarm();
}

// Takes back a wait the kernel or Qt still holds, so that it can never fire a later step.
void StepTimer::disarm() {
    m_zero->stop();
    if (m_fallback) {
        m_fallback->stop();
        return;
    }
#ifdef Q_OS_LINUX
    if (!m_armed)
        return;
    m_armed = false;
    m_notifier->setEnabled(false);
    const itimerspec off{};
    timerfd_settime(m_fd, 0, &off, nullptr);
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
