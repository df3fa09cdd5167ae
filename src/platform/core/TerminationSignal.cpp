#include "platform/core/TerminationSignal.h"

#include <sys/socket.h>
#include <unistd.h>

#include <csignal>

namespace platform {
namespace {

int g_writeEnd = -1;

void onTerminate(int)
{
    // Only async-signal-safe work here: one byte for the event loop. send() with MSG_NOSIGNAL,
    // because a signal that arrives after the reading end has gone (the server is shutting
    // down) must not end the process by SIGPIPE.
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::send(g_writeEnd, &byte, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
}

} // namespace

UniqueFd watchTerminationSignals()
{
    int pair[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, pair) != 0)
        return {};
    // The write end lives as long as the process: the handler may run at any time.
    g_writeEnd = pair[1];
    struct sigaction action
    { };
    action.sa_handler = onTerminate;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    return UniqueFd(pair[0]);
}

} // namespace platform
