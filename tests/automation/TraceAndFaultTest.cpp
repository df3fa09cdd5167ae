#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <csignal>
#include <string>
#include <tuple>
#include <vector>

#include "base/DebugTrace.h"
#include "base/ExceptionFilter.h"
#include "platform/core/FaultGuard.h"
#include "platform/core/TraceSink.h"
#include "support/CcrpTimer.h"
#include "support/Faults.h"
#include "support/TraceCapture.h"

namespace {

using TraceTest = testenv::TraceCaptureTest;

TEST_F(TraceTest, ValuesAppendInTheirDefaultTextForm)
{
    DebugTrace::Trace("LastAttempt:", std::int32_t {-1}, " UseScaling:", false);
    DebugTrace::Trace("Aquired image number ", std::int32_t {2147483647});
    EXPECT_EQ(platform::TraceSink::captured(),
              "LastAttempt:-1 UseScaling:False\nAquired image number 2147483647\n");
}

TEST(ExceptionCodes, SignalsMapToWindowsCodes)
{
    const std::tuple<int, int, std::int32_t> cases[] = {
        {SIGSEGV, SEGV_MAPERR, -1073741819}, // access violation
        {SIGSEGV, SEGV_ACCERR, -1073741819},
        {SIGFPE, FPE_INTDIV, -1073741676}, // integer divide by zero
        {SIGFPE, FPE_INTOVF, -1073741675},
        {SIGILL, ILL_ILLOPC, -1073741795}, // illegal instruction
        {SIGBUS, BUS_ADRERR, -1073741818}, // in-page error
    };
    for (const auto &[signal, code, expected] : cases)
        EXPECT_EQ(std::int32_t(platform::windowsExceptionCode(signal, code)), expected)
            << "signal " << signal << " code " << code;
}

// A fault skips its step only, also inside the trace sink holding its lock; later lines follow.
TEST_F(TraceTest, FaultInsideAGuardedStepSkipsThatStepOnlyAndLeavesNoLockBehind)
{
    ExceptionFilter::InstallExceptionFilter();
    platform::TraceSink::setObserver([](std::string_view record) {
        if (record == "boom")
            testenv::writeThroughNull();
    });
    int stepsAfterFault = 0;
    const bool first = ExceptionFilter::Guarded([&] {
        testenv::writeThroughNull();
        ++stepsAfterFault; // never reached
    });
    const bool second = ExceptionFilter::Guarded([&] { testenv::divideByZero(); });
    const bool third = ExceptionFilter::Guarded([] { DebugTrace::Trace("boom"); });
    const bool fourth = ExceptionFilter::Guarded([&] { ++stepsAfterFault; });
    platform::TraceSink::setObserver(nullptr);
    DebugTrace::Trace("after");
    ExceptionFilter::RemoveExceptionFilter();
    EXPECT_EQ(std::tuple(first, second, third, fourth, stepsAfterFault),
              std::tuple(false, false, false, true, 1));
    EXPECT_EQ(platform::TraceSink::captured(),
              "WebCam Exception encountered: -2147220991 Ecode:-1073741819\n"
              "WebCam Exception encountered: -2147220991 Ecode:-1073741676\n"
              "WebCam Exception encountered: -2147220991 Ecode:-1073741819\nafter\n");
}

// Undo requests run, innermost first, only for the steps a fault abandoned.
TEST_F(TraceTest, AbandonedStepsUndoWhatTheyAskedInnermostFirst)
{
    using Undo = std::pair<std::string *, char>; // where to note, and what
    const auto note = [](void *undo) {
        *static_cast<Undo *>(undo)->first += static_cast<Undo *>(undo)->second;
    };
    ExceptionFilter::InstallExceptionFilter();
    // inner step faults, outer step faults after it: what was undone, in order (the outer step
    // asked for two undos, the later one runs first)
    const std::tuple<bool, bool, std::string> cases[]
        = {{false, false, ""}, {true, false, "i"}, {false, true, "21"}, {true, true, "i21"}};
    for (const auto &[innerFaults, outerFaults, expected] : cases) {
        std::string log;
        Undo first {&log, '1'}, second {&log, '2'}, inner {&log, 'i'};
        ExceptionFilter::Guarded([&] {
            const platform::FaultGuard::OnAbandon a(note, &first), b(note, &second);
            ExceptionFilter::Guarded([&] {
                const platform::FaultGuard::OnAbandon innerUndo(note, &inner);
                if (innerFaults)
                    testenv::writeThroughNull();
            });
            if (outerFaults)
                testenv::divideByZero();
        });
        EXPECT_EQ(log, expected) << innerFaults << outerFaults;
    }
    ExceptionFilter::RemoveExceptionFilter();
}

// Where the guard cannot jump out safely, the process ends as it would without the filter.
TEST(FaultGuardDeathTest, FaultsOutsideAGuardBehindABarrierOrAfterRemovalEndTheProcess)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ExceptionFilter::InstallExceptionFilter();
    // A guard inside an event loop's barrier still works; one outside it does not take the fault.
    bool innerSkipped = false;
    ExceptionFilter::Guarded([&] {
        const ExceptionFilter::GuardBarrier barrier;
        innerSkipped = !ExceptionFilter::Guarded([] { testenv::writeThroughNull(); });
    });
    EXPECT_TRUE(innerSkipped);
    EXPECT_DEATH(ExceptionFilter::Guarded([] {
                     const ExceptionFilter::GuardBarrier barrier;
                     testenv::writeThroughNull();
                 }),
                 "");
    EXPECT_DEATH(testenv::writeThroughNull(), "");
    ExceptionFilter::RemoveExceptionFilter();
    EXPECT_DEATH(ExceptionFilter::Guarded([] { testenv::writeThroughNull(); }), "");
}

void spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

TEST(TimerObject, TicksWithGrowingElapsedTimeAFaultSkipsOnlyItsTickAndNoneComeAfterDisable)
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
    // Blocked while expiries pile up, then disabled before the loop delivers them.
    QElapsedTimer busy;
    for (busy.start(); busy.elapsed() < 50;) { }
    timer.setEnabled(false);
    const std::size_t atDisable = ticks.size();
    spin(50);
    ExceptionFilter::RemoveExceptionFilter();
    EXPECT_EQ(ticks.size(), atDisable);
    ASSERT_GE(ticks.size(), 4u);
    EXPECT_GE(ticks.front(), 15);
    EXPECT_EQ(std::ranges::adjacent_find(ticks, std::greater_equal<>()), ticks.end());
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
    EXPECT_EQ(std::pair(innerTicks > 0, innerTicksDuringOuter), std::pair(true, 0));
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
