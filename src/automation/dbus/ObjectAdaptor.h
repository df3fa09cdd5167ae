#pragma once

#include "automation/dbus/BusNames.h"
#include "automation/dbus/Member.h"

#include <QByteArray>
#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <QMetaObject>
#include <QString>
#include <QVariant>

#include <string_view>
#include <vector>

class zozEZUdeZid;

namespace bus {

// Serves one zozEZUdeZid on the bus and relays its events to the sink the parent registered with
// Advise. It only translates: every call goes to the object's member of the same name, every
// event of the object becomes one call to the sink.
//
// The interface is served by hand (a virtual object) rather than through moc-generated
// properties, because automation has write-only properties, which a Qt property cannot express.
class ObjectAdaptor final : public QDBusVirtualObject
{
    Q_OBJECT
public:
    ObjectAdaptor(zozEZUdeZid &object, QDBusConnection connection, QString path,
                  int eventTimeoutMs = kDefaultEventTimeoutMs);
    ~ObjectAdaptor() override;

    const QString &path() const { return m_path; }
    const QString &sinkService() const { return m_sinkService; }
    const QString &sinkPath() const { return m_sinkPath; }

    // Stops relaying: later events of the object are dropped, as with no sink.
    void detach();

    // How many incoming calls and event relays are running right now, in all adaptors. An object
    // may be destroyed only while this is 0: a nested event loop inside a relay can deliver the
    // news that the object is to end.
    static int activeSteps();

    QString introspect(const QString &path) const override;
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override;

private:
    // One rule for every member served here, Advise and the properties interface included: a
    // known member called with arguments of other types is answered InvalidArgs.
    bool acceptSignature(const QDBusMessage &message, std::string_view expected);
    void handleMethod(const QDBusMessage &message);
    void handleProperties(const QDBusMessage &message);

    // Calls the sink's method and waits for its reply; the reply's leading byte array, if any,
    // replaces *inOut. Waits nest at most kMaxEventNesting deep (see BusNames.h).
    void relay(const char *event, const QVariantList &arguments, QByteArray *inOut);

    zozEZUdeZid &m_object;
    QDBusConnection m_connection;
    QString m_path;
    int m_eventTimeoutMs;
    QString m_sinkService;
    QString m_sinkPath;
    std::vector<QMetaObject::Connection> m_eventConnections;
};

} // namespace bus
