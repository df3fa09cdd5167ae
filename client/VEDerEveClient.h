#pragma once

#include <QByteArray>
#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QVariant>

#include <cstdint>

#include "VEDerEveClientExport.h"
#include "zozEZUdeZidProxy.h"

class VEDerEveEventSink;

// A parent's handle on one component object on the session bus. create() asks the class factory
// for a new object (starting the server when needed); the destructor releases it.
//
// Every call waits for its reply while running a local event loop, so that the component's
// events (which call back into the parent's sink and wait for it) are served meanwhile, as a
// single-threaded COM client would serve them. The automation members (generated from the
// interface XML into zozEZUdeZidProxy, letter for letter) return whether the call was answered;
// a get that could not be made returns 0 or false. lastError() tells why.
class VEDEREVE_CLIENT_EXPORT VEDerEveClient final : public QObject,
                                                    public zozEZUdeZidProxy<VEDerEveClient>
{
    Q_OBJECT
public:
    explicit VEDerEveClient(QDBusConnection connection, QObject *parent = nullptr);
    // Releases the object when this client still holds it.
    ~VEDerEveClient() override;

    VEDerEveClient(const VEDerEveClient &) = delete;
    VEDerEveClient &operator=(const VEDerEveClient &) = delete;

    // Creates the object (once). Returns false when the factory could not be reached.
    bool create();
    // Releases the object now; afterwards the client holds nothing.
    bool release();
    bool isValid() const { return !m_path.isEmpty(); }
    const QString &path() const { return m_path; }
    const QString &lastError() const { return m_lastError; }
    QDBusConnection connection() const { return m_connection; }

    // Registers a sink exported on this client's connection.
    bool advise(const VEDerEveEventSink &sink);

    // Waiting bound of every call in milliseconds; -1 (the default) is the bus library's own.
    void setCallTimeout(int ms) { m_callTimeoutMs = ms; }

    // The transport of the generated members (zozEZUdeZidProxy): a method's reply value (invalid
    // when unanswered), whether a method without result was answered, a property's value
    // (invalid when unanswered) and whether a write was answered.
    QVariant callMember(const char *member, const QVariantList &arguments,
                        bool *answered = nullptr);
    bool invokeMember(const char *member, const QVariantList &arguments);
    QVariant readProperty(const char *name);
    bool writeProperty(const char *name, const QVariant &value);

private:
    QVariant callService(const QString &path, const QString &interface, const QString &member,
                         const QVariantList &arguments, bool *answered);

    QDBusConnection m_connection;
    QString m_path;
    QString m_lastError;
    int m_callTimeoutMs = -1;
};
