#include "automation/dbus/ObjectAdaptor.h"

#include "automation/dbus/Contract.h"
#include "automation/zozEZUdeZid.h"
#include "base/ExceptionFilter.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QLoggingCategory>
#include <QVariantMap>

Q_LOGGING_CATEGORY(lcBusObject, "vedereve.dbus.object")

namespace bus {

namespace {

int g_activeSteps = 0;

// Counts a running call or relay for ObjectAdaptor::activeSteps().
struct ActiveStep
{
    ActiveStep() { ++g_activeSteps; }
    ~ActiveStep() { --g_activeSteps; }
    ActiveStep(const ActiveStep &) = delete;
    ActiveStep &operator=(const ActiveStep &) = delete;
};

constexpr auto kPropertiesInterface = QLatin1StringView("org.freedesktop.DBus.Properties");
constexpr auto kIntrospectableInterface = QLatin1StringView("org.freedesktop.DBus.Introspectable");

// True when the value's type is the property's bus type exactly; parents must send b or i.
bool hasBusType(const QVariant &value, std::string_view signature)
{
    if (signature == "b")
        return value.metaType() == QMetaType::fromType<bool>();
    if (signature == "i")
        return value.metaType() == QMetaType::fromType<int>();
    return false;
}

bool interfaceMatches(const QString &requested)
{
    return requested.isEmpty() || requested == QLatin1StringView(kObjectInterface);
}

QString toQString(std::string_view text)
{
    return QString::fromLatin1(text.data(), qsizetype(text.size()));
}

} // namespace

ObjectAdaptor::ObjectAdaptor(zozEZUdeZid &object, QDBusConnection connection, QString path,
                             int eventTimeoutMs)
    : m_object(object), m_connection(std::move(connection)), m_path(std::move(path)),
      m_eventTimeoutMs(eventTimeoutMs)
{
    zozEZUdeZidEvents *events = m_object.events();
    // Direct connections: the arrays are the panel's own, changed in place by the reply before the
    // panel goes on.
    m_eventConnections.push_back(connect(
        events, &zozEZUdeZidEvents::MinMaxResize, this,
        [this](bool Minimized, std::int32_t myHeight) {
            relay("MinMaxResize", {Minimized, myHeight}, nullptr);
        },
        Qt::DirectConnection));
    m_eventConnections.push_back(connect(
        events, &zozEZUdeZidEvents::WebCamSnapShot, this,
        [this](QByteArray &picHdr, std::int32_t imgNumber) {
            relay("WebCamSnapShot", {picHdr, imgNumber}, &picHdr);
        },
        Qt::DirectConnection));
    m_eventConnections.push_back(connect(
        events, &zozEZUdeZidEvents::WebCamClientPicture, this,
        [this](QByteArray &PicBytes, std::int32_t OrigSize, std::int32_t wd, std::int32_t ht,
               std::int32_t bitsPerPixel, std::int32_t WindowPosition) {
            relay("WebCamClientPicture", {PicBytes, OrigSize, wd, ht, bitsPerPixel, WindowPosition},
                  &PicBytes);
        },
        Qt::DirectConnection));
    m_eventConnections.push_back(connect(
        events, &zozEZUdeZidEvents::EraseWebCam, this,
        [this] { relay("EraseWebCam", {}, nullptr); }, Qt::DirectConnection));
    m_eventConnections.push_back(connect(
        events, &zozEZUdeZidEvents::ReceiveCamImages, this,
        [this](bool YorN) { relay("ReceiveCamImages", {YorN}, nullptr); }, Qt::DirectConnection));
}

ObjectAdaptor::~ObjectAdaptor()
{
    detach();
}

void ObjectAdaptor::detach()
{
    for (const QMetaObject::Connection &c : m_eventConnections)
        disconnect(c);
    m_eventConnections.clear();
    m_sinkService.clear();
    m_sinkPath.clear();
}

int ObjectAdaptor::activeSteps()
{
    return g_activeSteps;
}

QString ObjectAdaptor::introspect(const QString &) const
{
    return contractInterface(QString::fromLatin1(kObjectInterface));
}

bool ObjectAdaptor::handleMessage(const QDBusMessage &message, const QDBusConnection &)
{
    if (message.type() != QDBusMessage::MethodCallMessage)
        return false;
    const QString interface = message.interface();
    // Qt answers introspection from introspect().
    if (interface == kIntrospectableInterface)
        return false;
    ActiveStep step;
    if (interface == kPropertiesInterface)
        handleProperties(message);
    else if (interfaceMatches(interface))
        handleMethod(message);
    else
        m_connection.send(message.createErrorReply(
            QDBusError::UnknownInterface, QStringLiteral("No interface %1 here").arg(interface)));
    return true;
}

void ObjectAdaptor::handleMethod(const QDBusMessage &message)
{
    const QByteArray name = message.member().toLatin1();
    const std::optional<Member> member = findMember(name.toStdString(), MemberKind::Method);
    if (!member) {
        m_connection.send(message.createErrorReply(
            QDBusError::UnknownMethod, QStringLiteral("No method %1").arg(message.member())));
        return;
    }
    if (message.signature() != toQString(member->inSignature)) {
        m_connection.send(message.createErrorReply(
            QDBusError::InvalidArgs,
            QStringLiteral("%1 takes (%2), not (%3)")
                .arg(message.member(), toQString(member->inSignature), message.signature())));
        return;
    }
    if (member->id == MemberId::Advise) {
        // The sink lives on the caller's own connection: its unique name, not a well-known one,
        // so that a parent that restarts never receives its predecessor's events.
        m_sinkService = message.service();
        m_sinkPath = qvariant_cast<QDBusObjectPath>(message.arguments().value(0)).path();
        m_connection.send(message.createReply());
        return;
    }
    QVariant result;
    ExceptionFilter::Guarded([&] { result = callMethod(member->id, message); });
    // A member never fails towards the parent; a get whose step was abandoned returns 0.
    if (member->outSignature == "i" && !result.isValid())
        result = 0;
    m_connection.send(result.isValid() ? message.createReply(result) : message.createReply());
}

QVariant ObjectAdaptor::callMethod(MemberId id, const QDBusMessage &message)
{
    const QVariantList a = message.arguments();
    switch (id) {
    case MemberId::Maximize:
        m_object.Maximize();
        break;
    case MemberId::EraseWebCam:
        m_object.EraseWebCam();
        break;
    case MemberId::hWndCam:
        return m_object.hWndCam();
    case MemberId::Show:
        m_object.Show();
        break;
    case MemberId::SetPosition:
        m_object.SetPosition(a.at(0).toInt(), a.at(1).toInt());
        break;
    case MemberId::UpdateParticipant:
        m_object.UpdateParticipant(a.at(0).toInt(), a.at(1).toString(), a.at(2).toString());
        break;
    case MemberId::Minimize:
        m_object.Minimize();
        break;
    case MemberId::BeforeUnload:
        m_object.BeforeUnload();
        break;
    case MemberId::WebCamDefaultPic:
        m_object.WebCamDefaultPic(a.at(0).toString());
        break;
    case MemberId::RecieveWebCamImages:
        m_object.RecieveWebCamImages(a.at(0).toBool());
        break;
    default:
        break;
    }
    return {};
}

void ObjectAdaptor::handleProperties(const QDBusMessage &message)
{
    const QString method = message.member();
    const QVariantList a = message.arguments();
    const QString signature = message.signature();

    if (method == QLatin1StringView("GetAll") && signature == QLatin1StringView("s")) {
        QVariantMap all;
        if (interfaceMatches(a.at(0).toString())) {
            for (const Member &m : kMembers) {
                if (m.kind == MemberKind::Property && canRead(m.access))
                    all.insert(toQString(m.name), readProperty(m.id));
            }
        }
        m_connection.send(message.createReply(QVariant::fromValue(all)));
        return;
    }

    const bool isGet = method == QLatin1StringView("Get") && signature == QLatin1StringView("ss");
    const bool isSet = method == QLatin1StringView("Set") && signature == QLatin1StringView("ssv");
    if (!isGet && !isSet) {
        m_connection.send(
            message.createErrorReply(QDBusError::UnknownMethod,
                                     QStringLiteral("No method %1 (%2) on the properties interface")
                                         .arg(method, signature)));
        return;
    }
    const QString name = a.at(1).toString();
    const std::optional<Member> member = interfaceMatches(a.at(0).toString())
        ? findMember(name.toLatin1().toStdString(), MemberKind::Property)
        : std::nullopt;
    if (!member) {
        m_connection.send(message.createErrorReply(QDBusError::UnknownProperty,
                                                   QStringLiteral("No property %1").arg(name)));
        return;
    }

    if (isGet) {
        if (!canRead(member->access)) {
            m_connection.send(message.createErrorReply(
                QDBusError::AccessDenied, QStringLiteral("%1 is write-only").arg(name)));
            return;
        }
        m_connection.send(
            message.createReply(QVariant::fromValue(QDBusVariant(readProperty(member->id)))));
        return;
    }

    if (!canWrite(member->access)) {
        m_connection.send(message.createErrorReply(QDBusError::PropertyReadOnly,
                                                   QStringLiteral("%1 is read-only").arg(name)));
        return;
    }
    const QVariant value = qvariant_cast<QDBusVariant>(a.at(2)).variant();
    if (!hasBusType(value, member->inSignature)) {
        m_connection.send(message.createErrorReply(
            QDBusError::InvalidArgs,
            QStringLiteral("%1 takes type %2").arg(name, toQString(member->inSignature))));
        return;
    }
    writeProperty(member->id, value);
    m_connection.send(message.createReply());
}

QVariant ObjectAdaptor::readProperty(MemberId id)
{
    // Filled before the step runs: a get whose step was abandoned answers 0 or False.
    QVariant result = memberOf(id).inSignature == "b" ? QVariant(false) : QVariant(0);
    ExceptionFilter::Guarded([&] {
        switch (id) {
        case MemberId::Visible:
            result = m_object.Visible();
            break;
        case MemberId::Height:
            result = int(m_object.Height());
            break;
        case MemberId::CaptureInterval:
            result = int(m_object.CaptureInterval());
            break;
        case MemberId::Maximized:
            result = m_object.Maximized();
            break;
        case MemberId::TransmitStatus:
            result = m_object.TransmitStatus();
            break;
        case MemberId::MinHeight:
            result = int(m_object.MinHeight());
            break;
        case MemberId::MaxHeight:
            result = int(m_object.MaxHeight());
            break;
        case MemberId::CurrentTab:
            result = int(m_object.CurrentTab());
            break;
        default:
            break;
        }
    });
    return result;
}

void ObjectAdaptor::writeProperty(MemberId id, const QVariant &value)
{
    ExceptionFilter::Guarded([&] {
        switch (id) {
        case MemberId::Visible:
            m_object.setVisible(value.toBool());
            break;
        case MemberId::Height:
            m_object.setHeight(value.toInt());
            break;
        case MemberId::CaptureInterval:
            m_object.setCaptureInterval(value.toInt());
            break;
        case MemberId::TransmitStatus:
            m_object.setTransmitStatus(value.toBool());
            break;
        case MemberId::DebugFlag:
            m_object.setDebugFlag(value.toBool());
            break;
        case MemberId::TransmitPost:
            m_object.setTransmitPost(value.toBool());
            break;
        case MemberId::ParentHandle:
            m_object.setParentHandle(value.toInt());
            break;
        case MemberId::Pause:
            m_object.setPause(value.toBool());
            break;
        case MemberId::CurrentTab:
            m_object.setCurrentTab(value.toInt());
            break;
        default:
            break;
        }
    });
}

void ObjectAdaptor::relay(const char *event, const QVariantList &arguments, QByteArray *inOut)
{
    // No sink: the event is dropped, as a COM event without connections is.
    if (m_sinkService.isEmpty())
        return;
    ActiveStep step;
    QDBusMessage call = QDBusMessage::createMethodCall(
        m_sinkService, m_sinkPath, QLatin1StringView(kSinkInterface), QLatin1StringView(event));
    call.setArguments(arguments);
    QDBusMessage reply;
    ExceptionFilter::Guarded([&] {
        // BlockWithGui runs a local event loop while waiting, so the parent's handler can call
        // back into this object (as a COM parent can) instead of deadlocking until the timeout.
        reply = m_connection.call(call, QDBus::BlockWithGui, m_eventTimeoutMs);
    });
    if (reply.type() != QDBusMessage::ReplyMessage) {
        // Timed out, refused or the sink is gone: the event counts as delivered, array unchanged.
        qCWarning(lcBusObject) << m_path << event << "not answered:" << reply.errorName()
                               << reply.errorMessage();
        return;
    }
    if (!inOut)
        return;
    const QVariantList out = reply.arguments();
    if (!out.isEmpty() && out.first().metaType() == QMetaType::fromType<QByteArray>())
        *inOut = out.first().toByteArray();
}

} // namespace bus
