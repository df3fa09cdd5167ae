#include "base/ExceptionFilter.h"

#include "base/DebugTrace.h"

namespace ExceptionFilter {
namespace {
std::intptr_t g_prevExceptionFilter = 0;
} // namespace

std::intptr_t PrevExceptionFilter()
{
    return g_prevExceptionFilter;
}

void InstallExceptionFilter()
{
    if (g_prevExceptionFilter != 0)
        return;
    platform::FaultGuard::install();
    // Signal handlers have no previous "filter" to hand back; 1 marks "installed, none before".
    g_prevExceptionFilter = 1;
}

void RemoveExceptionFilter()
{
    platform::FaultGuard::remove();
    g_prevExceptionFilter = 0;
}

void WebCamExceptionFilter(std::uint32_t exceptionCode)
{
    constexpr std::int32_t kComponentError = static_cast<std::int32_t>(0x80040201u);
    DebugTrace::writeAlways(DebugTrace::line("WebCam Exception encountered: ", kComponentError,
                                             " Ecode:", static_cast<std::int32_t>(exceptionCode)));
}

} // namespace ExceptionFilter
