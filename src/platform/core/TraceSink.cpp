#include "platform/core/TraceSink.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <string>

#include "platform/core/UniqueFd.h"

namespace platform {
namespace {

struct SinkState
{
    std::mutex lock;
    bool opened = false;
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

} // namespace

void TraceSink::write(std::string_view text)
{
    SinkState &s = state();
    std::lock_guard guard(s.lock);
    if (!s.opened) {
        s.opened = true;
        if (const char *path = std::getenv("VEDEREVE_TRACE_FILE"); path && *path)
            s.file.reset(::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600));
    }
    if (s.observer)
        s.observer(text);
    if (s.capturing) {
        s.capture.append(text);
        s.capture.push_back('\n');
    }
    // One write per record so that concurrent writers never interleave inside a record.
    std::string record(text);
    record.push_back('\n');
    writeAll(s.file ? s.file.get() : STDERR_FILENO, record.data(), record.size());
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
