#include "base/DebugTrace.h"

#include "platform/core/TraceSink.h"

namespace DebugTrace {
namespace {
// One flag for all objects of the process.
bool g_debugFlag = false;
} // namespace

bool DebugFlag()
{
    return g_debugFlag;
}

void setDebugFlag(bool on)
{
    g_debugFlag = on;
}

void writeAlways(std::string_view text)
{
    platform::TraceSink::write(text);
}

} // namespace DebugTrace
