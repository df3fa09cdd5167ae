#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include "VEDerEveClientExport.h"
#include "VEDerEveEvents.h"

class QDBusVirtualObject;

// The parent's event sink: an object exported on the parent's connection that the component
// calls for each event and waits for. The signals, one per event, come from VEDerEveEvents
// (generated from the interface XML). Connect to them directly (the default within one thread):
// the byte arrays are in-out, and what a handler leaves in them goes back to the component in
// the reply.
class VEDEREVE_CLIENT_EXPORT VEDerEveEventSink final : public VEDerEveEvents
{
    Q_OBJECT
public:
    explicit VEDerEveEventSink(QObject *parent = nullptr);
    ~VEDerEveEventSink() override;

    // Exports the sink at path on connection. Returns false when the path is taken.
    bool exportOn(QDBusConnection connection, const QString &path);
    const QString &path() const { return m_path; }

private:
    QDBusVirtualObject *m_busObject; // a child of this sink
    QDBusConnection m_connection;
    QString m_path;
};
