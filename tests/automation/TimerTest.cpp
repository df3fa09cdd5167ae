#include <gtest/gtest.h>

#include <QCoreApplication>
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

TEST(TimerObject, TicksAtItsIntervalWithGrowingElapsedTime)
{
    CcrpTimer timer;
    timer.setEventType(CcrpTimer::TimePeriodic);
    timer.setInterval(20);
    std::vector<std::int32_t> ticks;
    timer.onTimer([&](std::int32_t ms) { ticks.push_back(ms); });
    timer.setEnabled(true);
    spin(250);
    timer.setEnabled(false);
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
    busy.start();
    while (busy.elapsed() < 20) { }
    timer.setEnabled(false);
    const int atDisable = ticks;
    spin(50);
    EXPECT_EQ(ticks, atDisable);
}

TEST(TimerObject, DisabledAtCreationAndHandlerMayDisableItself)
{
    CcrpTimer timer;
    EXPECT_FALSE(timer.Enabled());
    timer.setInterval(5);
    int ticks = 0;
    timer.onTimer([&](std::int32_t) {
        ++ticks;
        timer.setEnabled(false);
    });
    timer.setEnabled(true);
    spin(60);
    EXPECT_EQ(ticks, 1);
}

TEST(TimerObject, TicksNeverNestInsideAnotherTick)
{
    CcrpTimer outer;
    CcrpTimer inner;
    outer.setInterval(5);
    inner.setInterval(1);
    int innerTicks = 0;
    int innerTicksDuringOuter = 0;
    bool inOuter = false;
    inner.onTimer([&](std::int32_t) {
        ++innerTicks;
        if (inOuter)
            ++innerTicksDuringOuter;
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

TEST(TimerObject, FaultInATickIsSkippedAndTheTimerGoesOn)
{
    CcrpTimer timer;
    timer.setInterval(5);
    int ticks = 0;
    timer.onTimer([&](std::int32_t) {
        ++ticks;
        if (ticks == 1) {
            testenv::writeThroughNull();
        }
    });
    ExceptionFilter::InstallExceptionFilter();
    timer.setEnabled(true);
    spin(60);
    timer.setEnabled(false);
    ExceptionFilter::RemoveExceptionFilter();
    EXPECT_GE(ticks, 3);
}

TEST(TimerObjectAndControl, ZeroIntervalStopsTheTicksUntilAnIntervalReturns)
{
    CcrpTimer object;
    TimerControl control;
    int objectTicks = 0, controlTicks = 0;
    object.onTimer([&](std::int32_t) { ++objectTicks; });
    control.onTimer([&] { ++controlTicks; });
    object.setInterval(5);
    control.setInterval(5);
    object.setEnabled(true);
    control.setEnabled(true);
    spin(30);
    ASSERT_GT(objectTicks, 0);
    ASSERT_GT(controlTicks, 0);
    // Set to 0 while running: enabled still, but silent.
    object.setInterval(0);
    control.setInterval(0);
    const int objectAtZero = objectTicks, controlAtZero = controlTicks;
    spin(40);
    EXPECT_EQ(objectTicks, objectAtZero);
    EXPECT_EQ(controlTicks, controlAtZero);
    EXPECT_TRUE(object.Enabled());
    object.setInterval(5);
    control.setInterval(5);
    spin(40);
    EXPECT_GT(objectTicks, objectAtZero);
    EXPECT_GT(controlTicks, controlAtZero);
}

} // namespace
