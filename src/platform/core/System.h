#pragma once

#include <cstdint>

namespace platform {

// Milliseconds of the monotonic clock as a 32-bit count that wraps like a system tick count.
std::uint32_t tickCount();

// Puts the process and the calling thread back to normal scheduling priority (nice 0).
// Returns true when both succeeded.
bool setNormalPriority();

} // namespace platform
