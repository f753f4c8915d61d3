#pragma once

#include <QObject>

class QSocketNotifier;
class QTimer;

// A one-shot timer for the steps of a period. Qt's own timers round every wait to whole
// milliseconds: when another event (a model's next decision) wakes the event loop half-way
// through a 1 ms step, the rest of the step is stretched to a full millisecond. Where the
// system offers one, this timer waits on a timer descriptor exact to the microsecond;
// elsewhere it is a precise QTimer. A step without a pause is run by the event loop as soon
// as it comes round, in order.
class StepTimer : public QObject {
    Q_OBJECT
public:
    StepTimer(const char *name, QObject *parent);
    ~StepTimer() override;

    void setInterval(int milliseconds) { m_interval = milliseconds; }
    int interval() const { return m_interval; }
    // Arms the timer to fire once, `interval` milliseconds from now (at once for 0).
    void start();
    void start(int milliseconds);
    void stop();
    bool isActive() const { return m_active; }

signals:
    void timeout();

private:
    void fire();
    void disarm();

    int m_interval = 0;
    bool m_active = false;
    bool m_armed = false; // the timer descriptor holds a wait
    int m_descriptor = -1;
    QSocketNotifier *m_notifier = nullptr;
    QTimer *m_fallback = nullptr;
    QTimer *m_zero = nullptr; // runs a step without a pause
};
