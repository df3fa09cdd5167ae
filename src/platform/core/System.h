#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// Milliseconds of the monotonic clock as a 32-bit count that wraps like a system tick count.
std::uint32_t tickCount();
// For tests: the count tickCount() returns from now on; nullptr restores the clock.
void setTickCountSource(std::uint32_t (*source)());

// Puts the process and the calling thread back to normal scheduling priority (nice 0).
// Returns true when both succeeded.
bool setNormalPriority();

// Why readRegularFile() refused a file.
struct FileRefusal
{
    enum Kind { CannotOpen, NotRegular, TooLarge, ReadFailed };
    Kind kind = CannotOpen;
    int error = 0; // errno, for CannotOpen and ReadFailed
    std::uint32_t mode = 0; // st_mode, for NotRegular
    std::uint64_t size = 0; // bytes found, for TooLarge
};

// The contents of a regular file of at most maxBytes, or nothing (and *why, when given, says
// why). The file is opened without blocking (a FIFO with no writer, a device) and refused unless
// it is a regular file, so a path that someone else chose can never park the caller; a file that
// grows while it is read is cut at maxBytes + 1 and refused.
std::optional<std::vector<std::uint8_t>>
readRegularFile(const std::string &path, std::size_t maxBytes, FileRefusal *why = nullptr);

// The size of the regular file at path, opened for reading as readRegularFile opens it; nothing
// when it cannot be opened or is no regular file.
std::optional<std::uint64_t> regularFileSize(const std::string &path);

} // namespace platform
