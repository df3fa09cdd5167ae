#pragma once

#include <QDBusConnection>
#include <QDBusMessage>

#include <optional>

namespace bus {

// Calls a method on the bus and waits at most timeoutMs (a negative value: the library's default
// of 25 s) for its reply, serving this thread's
// other events meanwhile (timers, calls into our objects; not user input), so that the callee
// may call back into us while we wait. The reply may be an error (the callee refused, or left
// the bus); nullopt when the deadline passed first.
//
// The wait times itself rather than trusting the library's timeout: the library's blocking call
// that serves events checks whether the reply has come before it starts listening for it, and a
// reply (or the library's timeout, which arrives the same way) that lands in between is never
// heard, leaving the wait with no end at all. Here the listener is in place before the check,
// and the deadline is a timer of this thread's own.
// Call it with no fault guard around it (see ExceptionFilter::GuardBarrier).
std::optional<QDBusMessage> callServingEvents(QDBusConnection &connection, const QDBusMessage &call,
                                              int timeoutMs);

} // namespace bus
