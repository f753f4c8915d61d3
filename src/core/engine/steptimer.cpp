#include "core/engine/steptimer.h"

#include "core/common/platform.h"

#include <QSocketNotifier>
#include <QTimer>

StepTimer::StepTimer(const char *name, QObject *parent)
    : QObject(parent)
    , m_descriptor(platform::openTimer())
    , m_zero(new QTimer(this)) {
    setObjectName(QLatin1String(name));
    m_zero->setSingleShot(true);
    m_zero->setInterval(0);
    connect(m_zero, &QTimer::timeout, this, &StepTimer::fire);
    if (m_descriptor >= 0) {
        // Watched only while armed: an idle timer costs the event loop nothing.
        m_notifier = new QSocketNotifier(m_descriptor, QSocketNotifier::Read, this);
        m_notifier->setEnabled(false);
        connect(m_notifier, &QSocketNotifier::activated, this, [this] {
            if (platform::takeTimerExpiry(m_descriptor)) {
                m_armed = false;
                m_notifier->setEnabled(false);
                fire();
            }
        });
        return;
    }
    m_fallback = new QTimer(this);
    m_fallback->setSingleShot(true);
    m_fallback->setTimerType(Qt::PreciseTimer);
    connect(m_fallback, &QTimer::timeout, this, &StepTimer::fire);
}

StepTimer::~StepTimer() {
    delete m_notifier;
    platform::closeTimer(m_descriptor);
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
    platform::armTimer(m_descriptor, m_interval);
    m_armed = true;
    m_notifier->setEnabled(true);
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
    if (!m_armed)
        return;
    m_armed = false;
    m_notifier->setEnabled(false);
    platform::disarmTimer(m_descriptor);
}

void StepTimer::fire() {
    if (!m_active)
        return; // stopped after it expired, before its event was delivered
    m_active = false;
    emit timeout();
}
