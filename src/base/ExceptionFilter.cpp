#include "base/ExceptionFilter.h"

#include "base/DebugTrace.h"
#include "platform/core/TraceSink.h"

#include <cstring>
#include <string_view>

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

namespace {

// Appends value as signed decimal; no allocation, no locale.
char *appendDecimal(char *out, std::int32_t value)
{
    char digits[12];
    int n = 0;
    auto magnitude = static_cast<std::uint32_t>(value);
    if (value < 0)
        magnitude = 0u - magnitude;
    do {
        digits[n++] = char('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0)
        *out++ = '-';
    while (n > 0)
        *out++ = digits[--n];
    return out;
}

char *appendText(char *out, std::string_view text)
{
    std::memcpy(out, text.data(), text.size());
    return out + text.size();
}

} // namespace

void WebCamExceptionFilter(std::uint32_t exceptionCode)
{
    // Written on the way out of a fault: built on the stack and handed to the sink whole, so that
    // nothing the faulting code may have held (a lock, a half-built allocation) is needed.
    constexpr std::int32_t kComponentError = static_cast<std::int32_t>(0x80040201u);
    char record[96];
    char *end = appendText(record, "WebCam Exception encountered: ");
    end = appendDecimal(end, kComponentError);
    end = appendText(end, " Ecode:");
    end = appendDecimal(end, static_cast<std::int32_t>(exceptionCode));
    *end++ = '\n';
    platform::TraceSink::writeFaultRecord(record, std::size_t(end - record));
}

} // namespace ExceptionFilter
