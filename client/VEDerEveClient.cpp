#include "VEDerEveClient.h"

#include "VEDerEveEventSink.h"
#include "automation/dbus/BusNames.h"
#include "automation/dbus/EventWait.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>

namespace {

QString latin1(const char *text)
{
    return QString::fromLatin1(text);
}

constexpr const char *kPropertiesInterface = "org.freedesktop.DBus.Properties";

} // namespace

VEDerEveClient::VEDerEveClient(QDBusConnection connection, QObject *parent)
    : QObject(parent), m_connection(std::move(connection))
{ }

VEDerEveClient::~VEDerEveClient()
{
    release();
}

bool VEDerEveClient::create()
{
    if (isValid())
        return true;
    bool answered = false;
    const QVariant path = callService(latin1(bus::kFactoryPath), latin1(bus::kFactoryInterface),
                                      QStringLiteral("CreateInstance"), {}, &answered);
    if (!answered)
        return false;
    m_path = qvariant_cast<QDBusObjectPath>(path).path();
    return isValid();
}

bool VEDerEveClient::release()
{
    if (!isValid())
        return true;
    const QString path = m_path;
    m_path.clear();
    bool answered = false;
    callService(latin1(bus::kFactoryPath), latin1(bus::kFactoryInterface),
                QStringLiteral("Release"), {QVariant::fromValue(QDBusObjectPath(path))}, &answered);
    return answered;
}

bool VEDerEveClient::advise(const VEDerEveEventSink &sink)
{
    return invokeMember("Advise", {QVariant::fromValue(QDBusObjectPath(sink.path()))});
}

QVariant VEDerEveClient::callService(const QString &path, const QString &interface,
                                     const QString &member, const QVariantList &arguments,
                                     bool *answered)
{
    QDBusMessage message
        = QDBusMessage::createMethodCall(latin1(bus::kServiceName), path, interface, member);
    message.setArguments(arguments);
    // The component may call our sink before it answers (an event raised by the member), and
    // that call must be served while we wait; the wait ends on its own deadline whatever the
    // library does.
    const QDBusMessage reply = bus::callServingEvents(m_connection, message, m_callTimeoutMs)
                                   .value_or(QDBusMessage::createError(
                                       QDBusError::Timeout, QStringLiteral("no answer in time")));
    const bool ok = reply.type() == QDBusMessage::ReplyMessage;
    if (answered)
        *answered = ok;
    if (!ok) {
        m_lastError = reply.errorName() + QStringLiteral(": ") + reply.errorMessage();
        return {};
    }
    m_lastError.clear();
    return reply.arguments().value(0);
}

QVariant VEDerEveClient::callMember(const char *member, const QVariantList &arguments,
                                    bool *answered)
{
    if (!isValid()) {
        m_lastError = QStringLiteral("no object: create() first");
        if (answered)
            *answered = false;
        return {};
    }
    return callService(m_path, latin1(bus::kObjectInterface), latin1(member), arguments, answered);
}

bool VEDerEveClient::invokeMember(const char *member, const QVariantList &arguments)
{
    bool answered = false;
    callMember(member, arguments, &answered);
    return answered;
}

QVariant VEDerEveClient::readProperty(const char *name)
{
    if (!isValid()) {
        m_lastError = QStringLiteral("no object: create() first");
        return {};
    }
    bool answered = false;
    const QVariant value = callService(m_path, latin1(kPropertiesInterface), QStringLiteral("Get"),
                                       {latin1(bus::kObjectInterface), latin1(name)}, &answered);
    return answered ? qvariant_cast<QDBusVariant>(value).variant() : QVariant();
}

bool VEDerEveClient::writeProperty(const char *name, const QVariant &value)
{
    if (!isValid()) {
        m_lastError = QStringLiteral("no object: create() first");
        return false;
    }
    bool answered = false;
    callService(
        m_path, latin1(kPropertiesInterface), QStringLiteral("Set"),
        {latin1(bus::kObjectInterface), latin1(name), QVariant::fromValue(QDBusVariant(value))},
        &answered);
    return answered;
}
