#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// Stand-in for the debugger output: each call is one record, written exactly as given (no prefix,
// no time stamp). Records go to standard error unless VEDEREVE_TRACE_FILE names a file, which is
// then appended to, one record per line. Tests can capture records in memory.
class TraceSink
{
public:
    static void write(std::string_view text);
    // For the fault path: record is one complete record ending in '\n', written with one
    // write(2), without taking the sink's lock (the faulting code may hold it) or allocating.
    static void writeFaultRecord(const char *record, std::size_t size);

    // For tests: while capturing, records are kept in memory as well as written.
    static void startCapture();
    static std::string captured();
    static void stopCapture();
    // For tests: called with each record as it is written.
    static void setObserver(void (*observer)(std::string_view record));
};

} // namespace platform
