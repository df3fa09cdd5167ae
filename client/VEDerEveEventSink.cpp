#include "VEDerEveEventSink.h"

#include "automation/dbus/BusNames.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVirtualObject>

#include <tuple>
#include <type_traits>
#include <utility>

namespace {

// The array the reply carries back: the event's one parameter passed by non-const reference.
template<class Parameter, class Value> QByteArray *inOutArray(Value &value, QByteArray *found)
{
    if constexpr (std::is_same_v<Parameter, QByteArray &>)
        return &value;
    else
        return found;
}

// Raises the signal with the call's arguments when they have the signal's bus types. The reply
// carries the in-out array as the handlers left it.
template<class... Parameters>
QDBusMessage raise(VEDerEveEvents &sink, void (VEDerEveEvents::*signal)(Parameters...),
                   const QDBusMessage &call)
{
    const QString expected = (QString() + ...
                              + QLatin1StringView(QDBusMetaType::typeToSignature(
                                  QMetaType::fromType<std::decay_t<Parameters>>())));
    if (call.signature() != expected)
        return call.createErrorReply(QDBusError::InvalidArgs,
                                     QStringLiteral("%1 takes (%2), not (%3)")
                                         .arg(call.member(), expected, call.signature()));
    const QVariantList a = call.arguments();
    return [&]<std::size_t... I>(std::index_sequence<I...>)
    {
        std::tuple<std::decay_t<Parameters>...> values {
            a.at(I).value<std::decay_t<Parameters>>()...};
        Q_EMIT(sink.*signal)(std::get<I>(values)...);
        QByteArray *inOut = nullptr;
        ((inOut = inOutArray<Parameters>(std::get<I>(values), inOut)), ...);
        return inOut ? call.createReply(*inOut) : call.createReply();
    }
    (std::index_sequence_for<Parameters...> {});
}

// Serves the sink interface on the bus: each call raises the sink's signal of the same name.
class SinkObject final : public QDBusVirtualObject
{
public:
    explicit SinkObject(VEDerEveEventSink *sink) : QDBusVirtualObject(sink), m_sink(sink) { }

    QString introspect(const QString &) const override { return {}; }

    bool handleMessage(const QDBusMessage &call, const QDBusConnection &connection) override
    {
        if (call.type() != QDBusMessage::MethodCallMessage
            || call.interface() == QLatin1StringView("org.freedesktop.DBus.Introspectable"))
            return false;
        QDBusMessage reply = call.createErrorReply(
            QDBusError::UnknownMethod, QStringLiteral("No event %1").arg(call.member()));
        if (call.interface().isEmpty()
            || call.interface() == QLatin1StringView(bus::kSinkInterface)) {
            VEDerEveEvents::forEachEvent([&](const char *name, auto signal) {
                if (call.member() == QLatin1StringView(name))
                    reply = raise(*m_sink, signal, call);
            });
        }
        connection.send(reply);
        return true;
    }

private:
    VEDerEveEventSink *m_sink;
};

} // namespace

VEDerEveEventSink::VEDerEveEventSink(QObject *parent)
    : VEDerEveEvents(parent), m_busObject(new SinkObject(this)), m_connection(QString())
{ }

VEDerEveEventSink::~VEDerEveEventSink()
{
    if (!m_path.isEmpty())
        m_connection.unregisterObject(m_path);
}

bool VEDerEveEventSink::exportOn(QDBusConnection connection, const QString &path)
{
    if (!m_path.isEmpty())
        m_connection.unregisterObject(m_path);
    m_path.clear();
    m_connection = std::move(connection);
    if (!m_connection.registerVirtualObject(path, m_busObject))
        return false;
    m_path = path;
    return true;
}
