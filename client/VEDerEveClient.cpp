#include "VEDerEveClient.h"

#include "VEDerEveEventSink.h"
#include "automation/dbus/BusNames.h"

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
    return invoke("Advise", {QVariant::fromValue(QDBusObjectPath(sink.path()))});
}

QVariant VEDerEveClient::callService(const QString &path, const QString &interface,
                                     const QString &member, const QVariantList &arguments,
                                     bool *answered)
{
    QDBusMessage message
        = QDBusMessage::createMethodCall(latin1(bus::kServiceName), path, interface, member);
    message.setArguments(arguments);
    // BlockWithGui: the component may call our sink before it answers (an event raised by the
    // member), and that call must be served while we wait.
    const QDBusMessage reply = m_connection.call(message, QDBus::BlockWithGui, m_callTimeoutMs);
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

QVariant VEDerEveClient::call(const char *member, const QVariantList &arguments, bool *answered)
{
    if (!isValid()) {
        m_lastError = QStringLiteral("no object: create() first");
        if (answered)
            *answered = false;
        return {};
    }
    return callService(m_path, latin1(bus::kObjectInterface), latin1(member), arguments, answered);
}

bool VEDerEveClient::invoke(const char *member, const QVariantList &arguments)
{
    bool answered = false;
    call(member, arguments, &answered);
    return answered;
}

QVariant VEDerEveClient::property(const char *name)
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

bool VEDerEveClient::setProperty(const char *name, const QVariant &value)
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

bool VEDerEveClient::Maximize()
{
    return invoke("Maximize", {});
}

bool VEDerEveClient::EraseWebCam()
{
    return invoke("EraseWebCam", {});
}

bool VEDerEveClient::Visible()
{
    return property("Visible").toBool();
}

bool VEDerEveClient::setVisible(bool YorN)
{
    return setProperty("Visible", YorN);
}

std::int32_t VEDerEveClient::hWndCam()
{
    return call("hWndCam", {}).toInt();
}

bool VEDerEveClient::Show()
{
    return invoke("Show", {});
}

bool VEDerEveClient::SetPosition(std::int32_t TopPos, std::int32_t LeftPos)
{
    return invoke("SetPosition", {int(TopPos), int(LeftPos)});
}

bool VEDerEveClient::UpdateParticipant(std::int32_t imgNumber, const QString &PName,
                                       const QString &Location)
{
    return invoke("UpdateParticipant", {int(imgNumber), PName, Location});
}

bool VEDerEveClient::Minimize()
{
    return invoke("Minimize", {});
}

std::int32_t VEDerEveClient::Height()
{
    return property("Height").toInt();
}

bool VEDerEveClient::setHeight(std::int32_t Camheight)
{
    return setProperty("Height", int(Camheight));
}

std::int32_t VEDerEveClient::CaptureInterval()
{
    return property("CaptureInterval").toInt();
}

bool VEDerEveClient::setCaptureInterval(std::int32_t Interval)
{
    return setProperty("CaptureInterval", int(Interval));
}

bool VEDerEveClient::Maximized()
{
    return property("Maximized").toBool();
}

bool VEDerEveClient::TransmitStatus()
{
    return property("TransmitStatus").toBool();
}

bool VEDerEveClient::setTransmitStatus(bool Status)
{
    return setProperty("TransmitStatus", Status);
}

bool VEDerEveClient::BeforeUnload()
{
    return invoke("BeforeUnload", {});
}

bool VEDerEveClient::setDebugFlag(bool Value)
{
    return setProperty("DebugFlag", Value);
}

bool VEDerEveClient::setTransmitPost(bool YorN)
{
    return setProperty("TransmitPost", YorN);
}

bool VEDerEveClient::setParentHandle(std::int32_t handle)
{
    return setProperty("ParentHandle", int(handle));
}

bool VEDerEveClient::setPause(bool Value)
{
    return setProperty("Pause", Value);
}

std::int32_t VEDerEveClient::MinHeight()
{
    return property("MinHeight").toInt();
}

std::int32_t VEDerEveClient::MaxHeight()
{
    return property("MaxHeight").toInt();
}

bool VEDerEveClient::WebCamDefaultPic(const QString &NewValue)
{
    return invoke("WebCamDefaultPic", {NewValue});
}

bool VEDerEveClient::setCurrentTab(std::int32_t Value)
{
    return setProperty("CurrentTab", int(Value));
}

std::int32_t VEDerEveClient::CurrentTab()
{
    return property("CurrentTab").toInt();
}

bool VEDerEveClient::RecieveWebCamImages(bool YorN)
{
    return invoke("RecieveWebCamImages", {YorN});
}
