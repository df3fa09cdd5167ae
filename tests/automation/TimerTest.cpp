#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <vector>

#include "base/ExceptionFilter.h"
#include "support/CcrpTimer.h"
#include "support/Faults.h"

namespace {

// Runs the event loop for about ms milliseconds.
void spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

TEST(TimerObject, TicksWithGrowingElapsedTimeAndAFaultSkipsOnlyItsTick)
{
    CcrpTimer timer;
    timer.setEventType(CcrpTimer::TimePeriodic);
    timer.setInterval(20);
    std::vector<std::int32_t> ticks;
    timer.onTimer([&](std::int32_t ms) {
        ticks.push_back(ms);
        if (ticks.size() == 1)
            testenv::writeThroughNull();
    });
    ExceptionFilter::InstallExceptionFilter();
    timer.setEnabled(true);
    spin(250);
    timer.setEnabled(false);
    ExceptionFilter::RemoveExceptionFilter();
    ASSERT_GE(ticks.size(), 4u);
    EXPECT_GE(ticks.front(), 15);
    for (size_t i = 1; i < ticks.size(); ++i)
        EXPECT_GT(ticks[i], ticks[i - 1]);
}

TEST(TimerObject, NoTickAfterDisableReturns)
{
    CcrpTimer timer;
    timer.setInterval(1);
    int ticks = 0;
    timer.onTimer([&](std::int32_t) { ++ticks; });
    timer.setEnabled(true);
    // Let the timer become due, block long enough for several expiries to pile up, then disable
    // before the loop gets a chance to deliver them.
    spin(5);
    QElapsedTimer busy;
    for (busy.start(); busy.elapsed() < 20;) { }
    timer.setEnabled(false);
    const int atDisable = ticks;
    spin(50);
    EXPECT_EQ(ticks, atDisable);
}

TEST(TimerObject, TicksNeverNestInsideAnotherTick)
{
    CcrpTimer outer, inner;
    outer.setInterval(5);
    inner.setInterval(1);
    int innerTicks = 0, innerTicksDuringOuter = 0;
    bool inOuter = false;
    inner.onTimer([&](std::int32_t) {
        ++innerTicks;
        innerTicksDuringOuter += inOuter;
    });
    outer.onTimer([&](std::int32_t) {
        outer.setEnabled(false);
        inOuter = true;
        spin(30); // a modal loop inside a tick, as a pop-up menu or a call into the parent has
        inOuter = false;
    });
    inner.setEnabled(true);
    outer.setEnabled(true);
    spin(80);
    inner.setEnabled(false);
    EXPECT_GT(innerTicks, 0);
    EXPECT_EQ(innerTicksDuringOuter, 0);
}

TEST(TimerObjectAndControl, ZeroIntervalStopsTheTicksUntilAnIntervalReturns)
{
    CcrpTimer object;
    TimerControl control;
    int objectTicks = 0, controlTicks = 0;
    object.onTimer([&](std::int32_t) { ++objectTicks; });
    control.onTimer([&] { ++controlTicks; });
    object.setEnabled(true);
    control.setEnabled(true);
    // Changed while running: at 0 both stay enabled but silent.
    for (const std::int32_t interval : {5, 0, 5}) {
        object.setInterval(interval);
        control.setInterval(interval);
        const int objectBefore = objectTicks, controlBefore = controlTicks;
        spin(40);
        EXPECT_EQ(objectTicks > objectBefore, interval > 0) << interval;
        EXPECT_EQ(controlTicks > controlBefore, interval > 0) << interval;
        EXPECT_TRUE(object.Enabled());
    }
}

} // namespace
