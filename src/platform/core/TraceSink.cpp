#include "platform/core/TraceSink.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <string>

#include "platform/core/FaultGuard.h"
#include "platform/core/UniqueFd.h"

namespace platform {
namespace {

struct SinkState
{
    // Jump-safe: a fault inside a write must not leave the sink locked for ever.
    JumpSafeMutex lock;
    std::atomic<bool> opened = false;
    // The record's destination, readable without the lock: -1 until the first record.
    std::atomic<int> fd = -1;
    UniqueFd file;
    bool capturing = false;
    void (*observer)(std::string_view) = nullptr;
    std::string capture;
};

SinkState &state()
{
    static SinkState s;
    return s;
}

void writeAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
}

void openDestination(SinkState &s)
{
    if (s.opened.exchange(true))
        return;
    if (const char *path = std::getenv("VEDEREVE_TRACE_FILE"); path && *path)
        s.file.reset(::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600));
    s.fd = s.file ? s.file.get() : STDERR_FILENO;
}

} // namespace

void TraceSink::write(std::string_view text)
{
    SinkState &s = state();
    std::lock_guard guard(s.lock);
    openDestination(s);
    if (s.observer)
        s.observer(text);
    if (s.capturing) {
        s.capture.append(text);
        s.capture.push_back('\n');
    }
    // One write per record so that concurrent writers never interleave inside a record.
    std::string record(text);
    record.push_back('\n');
    writeAll(s.fd, record.data(), record.size());
}

void TraceSink::writeFaultRecord(const char *record, std::size_t size)
{
    // The faulting step may have been inside write() itself: no lock, no allocation, one write of
    // the finished record (which ends in its line feed).
    SinkState &s = state();
    if (s.fd < 0) {
        const char *path = std::getenv("VEDEREVE_TRACE_FILE");
        const int fd = path && *path ? ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600)
                                     : STDERR_FILENO;
        writeAll(fd, record, size);
        if (fd != STDERR_FILENO && fd >= 0)
            ::close(fd);
    } else {
        writeAll(s.fd, record, size);
    }
    // Tests see it too, when the sink is free.
    if (s.lock.try_lock()) {
        const std::string_view text(record, size > 0 ? size - 1 : 0);
        if (s.observer)
            s.observer(text);
        if (s.capturing) {
            s.capture.append(text);
            s.capture.push_back('\n');
        }
        s.lock.unlock();
    }
}

void TraceSink::startCapture()
{
    std::lock_guard guard(state().lock);
    state().capturing = true;
    state().capture.clear();
}

std::string TraceSink::captured()
{
    std::lock_guard guard(state().lock);
    return state().capture;
}

void TraceSink::stopCapture()
{
    std::lock_guard guard(state().lock);
    state().capturing = false;
    state().capture.clear();
}

void TraceSink::setObserver(void (*observer)(std::string_view record))
{
    std::lock_guard guard(state().lock);
    state().observer = observer;
}

} // namespace platform
