#include "automation/dbus/ObjectAdaptor.h"

#include "automation/dbus/Contract.h"
#include "automation/dbus/EventWait.h"
#include "automation/dbus/zozEZUdeZidMembers.h"
#include "automation/zozEZUdeZid.h"
#include "base/DebugTrace.h"
#include "base/ExceptionFilter.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QLoggingCategory>
#include <QVariantMap>

#include <algorithm>
#include <type_traits>

Q_LOGGING_CATEGORY(lcBusObject, "vedereve.dbus.object")

namespace bus {

namespace {

int g_activeSteps = 0;
int g_eventNesting = 0;

// Counts a running call or relay for ObjectAdaptor::activeSteps().
struct ActiveStep
{
    ActiveStep() { ++g_activeSteps; }
    ~ActiveStep() { --g_activeSteps; }
    ActiveStep(const ActiveStep &) = delete;
    ActiveStep &operator=(const ActiveStep &) = delete;
};

struct EventNesting
{
    EventNesting() { ++g_eventNesting; }
    ~EventNesting() { --g_eventNesting; }
    EventNesting(const EventNesting &) = delete;
    EventNesting &operator=(const EventNesting &) = delete;
};

constexpr auto kPropertiesInterface = QLatin1StringView("org.freedesktop.DBus.Properties");
constexpr auto kIntrospectableInterface = QLatin1StringView("org.freedesktop.DBus.Introspectable");

// The array the sink's reply replaces: the event's one parameter passed by non-const reference.
template<class Parameter, class Value> QByteArray *inOutArray(Value &value, QByteArray *found)
{
    if constexpr (std::is_same_v<Parameter, QByteArray &>)
        return &value;
    else
        return found;
}

// The properties interface's own members, with their signatures.
constexpr struct
{
    std::string_view name;
    std::string_view signature;
} kPropertyMethods[] = {{"Get", "ss"}, {"Set", "ssv"}, {"GetAll", "s"}};

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
    WebCamEvents::forEachEvent([this, events](const char *event, auto signal) {
        m_eventConnections.push_back(connect(
            events, signal, this,
            [this, event](auto &&...arguments) {
                QByteArray *inOut = nullptr;
                ((inOut = inOutArray<decltype(arguments)>(arguments, inOut)), ...);
                relay(event, {QVariant::fromValue(arguments)...}, inOut);
            },
            Qt::DirectConnection));
    });
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

namespace {
const Member *findMember(const QString &name, MemberKind kind)
{
    const QByteArray latin1 = name.toLatin1();
    const std::string_view wanted(latin1.constData(), std::size_t(latin1.size()));
    for (const Member &m : kMembers) {
        if (m.kind == kind && m.name == wanted)
            return &m;
    }
    return nullptr;
}
} // namespace

bool ObjectAdaptor::acceptSignature(const QDBusMessage &message, std::string_view expected)
{
    if (message.signature() == toQString(expected))
        return true;
    m_connection.send(message.createErrorReply(
        QDBusError::InvalidArgs,
        QStringLiteral("%1 takes (%2), not (%3)")
            .arg(message.member(), toQString(expected), message.signature())));
    return false;
}

void ObjectAdaptor::handleMethod(const QDBusMessage &message)
{
    const QString name = message.member();
    const Member *member = findMember(name, MemberKind::Method);
    if (!member) {
        m_connection.send(message.createErrorReply(QDBusError::UnknownMethod,
                                                   QStringLiteral("No method %1").arg(name)));
        return;
    }
    if (!acceptSignature(message, member->inSignature))
        return;
    if (!member->invoke) {
        // Advise, the bus layer's own member. The sink lives on the caller's own connection: its
        // unique name, not a well-known one, so that a parent that restarts never receives its
        // predecessor's events.
        m_sinkService = message.service();
        m_sinkPath = qvariant_cast<QDBusObjectPath>(message.arguments().value(0)).path();
        m_connection.send(message.createReply());
        return;
    }
    const QVariant result = member->invoke(m_object, message.arguments());
    m_connection.send(result.isValid() ? message.createReply(result) : message.createReply());
}

void ObjectAdaptor::handleProperties(const QDBusMessage &message)
{
    const QString method = message.member();
    const auto known = std::find_if(std::begin(kPropertyMethods), std::end(kPropertyMethods),
                                    [&](const auto &m) { return method == toQString(m.name); });
    if (known == std::end(kPropertyMethods)) {
        m_connection.send(message.createErrorReply(
            QDBusError::UnknownMethod,
            QStringLiteral("No method %1 on the properties interface").arg(method)));
        return;
    }
    if (!acceptSignature(message, known->signature))
        return;
    const QVariantList a = message.arguments();

    if (known->name == "GetAll") {
        QVariantMap all;
        if (interfaceMatches(a.at(0).toString())) {
            for (const Member &m : kMembers) {
                if (m.kind == MemberKind::Property && canRead(m.access))
                    all.insert(toQString(m.name), m.get(m_object));
            }
        }
        m_connection.send(message.createReply(QVariant::fromValue(all)));
        return;
    }

    const QString name = a.at(1).toString();
    const Member *member
        = interfaceMatches(a.at(0).toString()) ? findMember(name, MemberKind::Property) : nullptr;
    if (!member) {
        m_connection.send(message.createErrorReply(QDBusError::UnknownProperty,
                                                   QStringLiteral("No property %1").arg(name)));
        return;
    }

    if (known->name == "Get") {
        if (!canRead(member->access)) {
            m_connection.send(message.createErrorReply(
                QDBusError::AccessDenied, QStringLiteral("%1 is write-only").arg(name)));
            return;
        }
        m_connection.send(
            message.createReply(QVariant::fromValue(QDBusVariant(member->get(m_object)))));
        return;
    }

    if (!canWrite(member->access)) {
        m_connection.send(message.createErrorReply(QDBusError::PropertyReadOnly,
                                                   QStringLiteral("%1 is read-only").arg(name)));
        return;
    }
    // The value's own type must be the property's exactly: a u or an x where an i is expected is
    // the same mistake as a call with the wrong signature.
    const QVariant value = qvariant_cast<QDBusVariant>(a.at(2)).variant();
    const char *type = QDBusMetaType::typeToSignature(value.metaType());
    if (!type || type != member->inSignature) {
        m_connection.send(message.createErrorReply(
            QDBusError::InvalidArgs,
            QStringLiteral("%1 takes type %2").arg(name, toQString(member->inSignature))));
        return;
    }
    member->set(m_object, value);
    m_connection.send(message.createReply());
}

void ObjectAdaptor::relay(const char *event, const QVariantList &arguments, QByteArray *inOut)
{
    // No sink: the event is dropped, as a COM event without connections is.
    if (m_sinkService.isEmpty())
        return;
    if (g_eventNesting >= kMaxEventNesting) {
        qCWarning(lcBusObject) << m_path << event << "not sent: events nest" << g_eventNesting
                               << "deep";
        return;
    }
    ActiveStep step;
    const EventNesting nesting;
    QDBusMessage call = QDBusMessage::createMethodCall(
        m_sinkService, m_sinkPath, QLatin1StringView(kSinkInterface), QLatin1StringView(event));
    call.setArguments(arguments);
    // The wait serves events, so the parent's handler can call back into this object (as a COM
    // parent can) instead of deadlocking until the timeout. No fault guard reaches across that
    // loop: see ExceptionFilter::GuardBarrier.
    const ExceptionFilter::GuardBarrier barrier;
    const std::optional<QDBusMessage> answer
        = callServingEvents(m_connection, call, m_eventTimeoutMs);
    // Timed out, refused or the sink is gone: the event counts as delivered, array unchanged.
    if (!answer) {
        DebugTrace::Trace("WebCam ", event, " - no answer from the parent within ",
                          m_eventTimeoutMs, " ms, going on");
        qCWarning(lcBusObject) << m_path << event << "not answered within" << m_eventTimeoutMs
                               << "ms";
        return;
    }
    const QDBusMessage &reply = *answer;
    if (reply.type() != QDBusMessage::ReplyMessage) {
        qCWarning(lcBusObject) << m_path << event << "refused:" << reply.errorName()
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
