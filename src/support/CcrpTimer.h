#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <cstdint>
#include <functional>

// A high-resolution timer object: event type, interval and enabled flag, and a tick carrying the
// milliseconds elapsed since the timer was enabled. Ticks arrive on the owning thread, never
// nested inside another tick of any timer object, and never after Enabled(false) has returned.
class CcrpTimer final : public QObject
{
    Q_OBJECT
public:
    // 1: periodic; the only type the component uses. 0 (one-shot) is honoured too.
    enum EventType : std::int32_t { TimeOneShot = 0, TimePeriodic = 1 };

    explicit CcrpTimer(QObject *parent = nullptr);

    std::int32_t EventType() const { return m_eventType; }
    void setEventType(std::int32_t type);
    std::int32_t Interval() const { return m_interval; }
    void setInterval(std::int32_t milliseconds);
    bool Enabled() const { return m_enabled; }
    void setEnabled(bool on);

    // The handler of the tick; runs inside the fault guard.
    void onTimer(std::function<void(std::int32_t)> handler) { m_handler = std::move(handler); }

    // True while any timer object's tick is running on this thread.
    static bool tickRunning();

Q_SIGNALS:
    void Timer(std::int32_t Milliseconds);

private:
    void fire();

    QTimer m_timer;
    QElapsedTimer m_elapsed;
    std::function<void(std::int32_t)> m_handler;
    std::int32_t m_eventType = TimePeriodic;
    std::int32_t m_interval = 0;
    bool m_enabled = false;
};

// The ordinary timer control: interval, enabled, a tick without arguments. Shares the no-nesting
// rule with the timer objects.
class TimerControl final : public QObject
{
    Q_OBJECT
public:
    explicit TimerControl(QObject *parent = nullptr);
    std::int32_t Interval() const { return m_interval; }
    void setInterval(std::int32_t milliseconds);
    bool Enabled() const { return m_enabled; }
    void setEnabled(bool on);
    void onTimer(std::function<void()> handler) { m_handler = std::move(handler); }

private:
    void fire();

    QTimer m_timer;
    std::function<void()> m_handler;
    std::int32_t m_interval = 0;
    bool m_enabled = false;
};
