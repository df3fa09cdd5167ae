#pragma once

#include <gtest/gtest.h>

#include "base/DebugTrace.h"
#include "platform/core/TraceSink.h"

namespace testenv {

// A test whose trace lines are on and captured; captured() holds them, one per line.
class TraceCaptureTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        platform::TraceSink::startCapture();
        DebugTrace::setDebugFlag(true);
    }
    void TearDown() override
    {
        DebugTrace::setDebugFlag(false);
        platform::TraceSink::stopCapture();
    }
    static std::string captured() { return platform::TraceSink::captured(); }
};

} // namespace testenv
