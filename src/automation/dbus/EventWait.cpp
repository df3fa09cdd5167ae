#include "automation/dbus/EventWait.h"

#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QEventLoop>
#include <QTimer>

namespace bus {

namespace {
// The wait ends on its own deadline; the library's comes this much later and only lets go of a
// call that nobody waits for any more.
constexpr int kLibraryGraceMs = 2000;
// What the library waits when it is given no timeout.
constexpr int kDefaultTimeoutMs = 25000;
} // namespace

std::optional<QDBusMessage> callServingEvents(QDBusConnection &connection, const QDBusMessage &call,
                                              int timeoutMs)
{
    if (timeoutMs < 0)
        timeoutMs = kDefaultTimeoutMs;
    QDBusPendingCall pending = connection.asyncCall(call, timeoutMs + kLibraryGraceMs);
    // The watcher registers under the call's own lock, and signals (queued) even for a reply
    // that came before it: from here on the reply cannot slip past.
    QDBusPendingCallWatcher watcher(pending);
    if (!pending.isFinished()) {
        QEventLoop loop;
        QTimer deadline;
        deadline.setSingleShot(true);
        QObject::connect(&watcher, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
        QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
        deadline.start(timeoutMs);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    if (!pending.isFinished())
        return std::nullopt;
    return pending.reply();
}

} // namespace bus
