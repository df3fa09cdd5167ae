#include "support/CcrpTimer.h"

#include "base/ExceptionFilter.h"

namespace {
// Ticks of all timers of the thread share one flag: a modal loop inside a tick (a menu, a call
// into the parent) must not start another tick.
thread_local int t_tickDepth = 0;

struct TickScope
{
    TickScope() { ++t_tickDepth; }
    ~TickScope() { --t_tickDepth; }
    TickScope(const TickScope &) = delete;
    TickScope &operator=(const TickScope &) = delete;
};

} // namespace

CcrpTimer::CcrpTimer(QObject *parent) : QObject(parent)
{
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &CcrpTimer::fire);
}

bool CcrpTimer::tickRunning()
{
    return t_tickDepth > 0;
}

void CcrpTimer::setEventType(std::int32_t type)
{
    m_eventType = type;
    m_timer.setSingleShot(type == TimeOneShot);
}

void CcrpTimer::setInterval(std::int32_t milliseconds)
{
    m_interval = milliseconds;
    // An interval of 0 or less never fires (it would spin the event loop), as with the timer
    // control; the timer stays enabled and ticks again once it gets an interval. A running
    // timer keeps its start time so that Milliseconds still counts from the enable.
    if (m_interval <= 0)
        m_timer.stop();
    else if (m_enabled)
        m_timer.start(m_interval);
    else
        m_timer.setInterval(m_interval);
}

void CcrpTimer::setEnabled(bool on)
{
    if (on == m_enabled)
        return;
    m_enabled = on;
    if (on) {
        m_elapsed.start();
        if (m_interval > 0)
            m_timer.start(m_interval);
    } else {
        m_timer.stop();
    }
}

void CcrpTimer::fire()
{
    // A tick that was already queued when the timer was disabled is dropped here.
    if (!m_enabled || t_tickDepth > 0)
        return;
    if (m_eventType == TimeOneShot)
        m_enabled = false;
    const auto ms = static_cast<std::int32_t>(m_elapsed.elapsed());
    TickScope scope;
    ExceptionFilter::Guarded([&] {
        Q_EMIT Timer(ms);
        if (m_handler)
            m_handler(ms);
    });
}

TimerControl::TimerControl(QObject *parent) : QObject(parent)
{
    connect(&m_timer, &QTimer::timeout, this, &TimerControl::fire);
}

void TimerControl::setInterval(std::int32_t milliseconds)
{
    m_interval = milliseconds;
    if (m_interval <= 0)
        m_timer.stop();
    else
        m_timer.setInterval(milliseconds);
    if (m_enabled && m_interval > 0)
        m_timer.start(m_interval);
}

void TimerControl::setEnabled(bool on)
{
    m_enabled = on;
    if (on && m_interval > 0)
        m_timer.start(m_interval);
    else
        m_timer.stop();
}

void TimerControl::fire()
{
    if (!m_enabled || t_tickDepth > 0)
        return;
    TickScope scope;
    ExceptionFilter::Guarded([&] {
        if (m_handler)
            m_handler();
    });
}
