// The server's factory and adaptor hosted in the test process on a private bus, with the parent
// on a connection of its own, so that the test can raise the object's events itself.

#include "PrivateBus.h"

#include "VEDerEveClient.h"
#include "VEDerEveEventSink.h"
#include "automation/dbus/BusNames.h"
#include "automation/dbus/ClassFactory.h"
#include "automation/zozEZUdeZid.h"

#include <gtest/gtest.h>

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <functional>
#include <memory>

namespace {

constexpr int kEventTimeoutMs = 1000;
constexpr int kExitDelayMs = 100;
const QString kSinkPath = QStringLiteral("/parent/sink");

// Answers nothing, ever: a parent whose handler hangs.
class SilentSink final : public QDBusVirtualObject
{
public:
    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &) override
    {
        ++calls;
        return message.type() == QDBusMessage::MethodCallMessage;
    }
    int calls = 0;
};

class HostedServer : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_bus.start());
        m_host = std::make_unique<QDBusConnection>(m_bus.connect(QStringLiteral("host")));
        ASSERT_TRUE(m_host->isConnected());
        m_factory = std::make_unique<bus::ClassFactory>(
            *m_host, bus::ServerOptions {kEventTimeoutMs, kExitDelayMs, 60000});
        ASSERT_TRUE(m_factory->registerFactory());
        ASSERT_TRUE(m_host->registerService(QString::fromLatin1(bus::kServiceName)));

        m_parent = std::make_unique<QDBusConnection>(m_bus.connect(QStringLiteral("parent")));
        m_client = std::make_unique<VEDerEveClient>(*m_parent);
        ASSERT_TRUE(m_client->create()) << m_client->lastError().toStdString();
        ASSERT_TRUE(m_sink.exportOn(*m_parent, kSinkPath));
    }

    void TearDown() override
    {
        m_client.reset();
        m_factory.reset();
    }

    zozEZUdeZid *object() { return m_factory->object(m_client->path()); }

    // A raw call on the parent's connection, for what the typed client cannot express.
    QDBusMessage rawCall(const QString &path, const QString &interface, const QString &member,
                         const QVariantList &arguments, QDBusConnection *connection = nullptr)
    {
        QDBusMessage message = QDBusMessage::createMethodCall(
            QString::fromLatin1(bus::kServiceName), path, interface, member);
        message.setArguments(arguments);
        return (connection ? *connection : *m_parent).call(message, QDBus::BlockWithGui, 5000);
    }

    PrivateBus m_bus;
    std::unique_ptr<QDBusConnection> m_host;
    std::unique_ptr<bus::ClassFactory> m_factory;
    std::unique_ptr<QDBusConnection> m_parent;
    std::unique_ptr<VEDerEveClient> m_client;
    VEDerEveEventSink m_sink;
};

QByteArray header24()
{
    QByteArray bytes(24, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char(0xA0 + i);
    return bytes;
}

} // namespace

TEST_F(HostedServer, PropertiesReachTheObjectAndComeBack)
{
    ASSERT_NE(object(), nullptr);
    struct Case
    {
        const char *name;
        std::function<bool()> put;
        std::function<std::int32_t()> getOverBus;
        std::function<std::int32_t()> getInProcess;
        std::int32_t expected;
    };
    VEDerEveClient &c = *m_client;
    const Case cases[] = {
        {"CaptureInterval", [&] { return c.setCaptureInterval(480); },
         [&] { return c.CaptureInterval(); }, [&] { return object()->CaptureInterval(); }, 480},
        {"CurrentTab", [&] { return c.setCurrentTab(1); }, [&] { return c.CurrentTab(); },
         [&] { return object()->CurrentTab(); }, 1},
        {"TransmitStatus", [&] { return c.setTransmitStatus(true); },
         [&] { return std::int32_t(c.TransmitStatus()); },
         [&] { return std::int32_t(object()->TransmitStatus()); }, 1},
        {"Height", [&] { return c.setHeight(17); }, [&] { return c.Height(); },
         [&] { return object()->Height(); }, 17},
    };
    for (const Case &each : cases) {
        SCOPED_TRACE(each.name);
        EXPECT_TRUE(each.put()) << c.lastError().toStdString();
        EXPECT_EQ(each.getInProcess(), each.expected);
        EXPECT_EQ(each.getOverBus(), each.expected);
    }
    EXPECT_EQ(c.MaxHeight(), object()->MaxHeight());
    EXPECT_EQ(c.MinHeight(), object()->MinHeight());
}

TEST_F(HostedServer, ProtocolErrorsAreAnsweredAndNothingIsForwarded)
{
    ASSERT_TRUE(m_client->setCaptureInterval(300));
    const QString props = QStringLiteral("org.freedesktop.DBus.Properties");
    const QString iface = QString::fromLatin1(bus::kObjectInterface);
    const auto var = [](const QVariant &v) { return QVariant::fromValue(QDBusVariant(v)); };
    struct Case
    {
        QString interface;
        QString member;
        QVariantList arguments;
        QString error;
    };
    const Case cases[] = {
        {props, "Get", {iface, "DebugFlag"}, "org.freedesktop.DBus.Error.AccessDenied"},
        {props, "Get", {iface, "Pause"}, "org.freedesktop.DBus.Error.AccessDenied"},
        {props, "Set", {iface, "MinHeight", var(5)}, "org.freedesktop.DBus.Error.PropertyReadOnly"},
        {props,
         "Set",
         {iface, "CaptureInterval", var("fast")},
         "org.freedesktop.DBus.Error.InvalidArgs"},
        {props,
         "Set",
         {iface, "CaptureInterval", var(uint(9))},
         "org.freedesktop.DBus.Error.InvalidArgs"},
        {props, "Get", {iface, "captureinterval"}, "org.freedesktop.DBus.Error.UnknownProperty"},
        {props,
         "Get",
         {"com.example.Other", "CaptureInterval"},
         "org.freedesktop.DBus.Error.UnknownProperty"},
        {iface, "SetPosition", {1}, "org.freedesktop.DBus.Error.InvalidArgs"},
        {iface, "UpdateParticipant", {1, 2, 3}, "org.freedesktop.DBus.Error.InvalidArgs"},
        {iface, "Frobnicate", {}, "org.freedesktop.DBus.Error.UnknownMethod"},
        {"com.example.Other", "Show", {}, "org.freedesktop.DBus.Error.UnknownInterface"},
    };
    for (const Case &each : cases) {
        SCOPED_TRACE(
            (each.member + QLatin1Char(' ') + each.arguments.value(1).toString()).toStdString());
        const QDBusMessage reply
            = rawCall(m_client->path(), each.interface, each.member, each.arguments);
        EXPECT_EQ(reply.type(), QDBusMessage::ErrorMessage);
        EXPECT_EQ(reply.errorName(), each.error);
    }
    EXPECT_EQ(object()->CaptureInterval(), 300);

    // What a parent sees when it introspects: write-only properties are marked as such.
    const QDBusMessage intro
        = rawCall(m_client->path(), QStringLiteral("org.freedesktop.DBus.Introspectable"),
                  QStringLiteral("Introspect"), {});
    EXPECT_TRUE(intro.arguments().value(0).toString().contains(
        QStringLiteral("<property name=\"DebugFlag\" type=\"b\" access=\"write\">")));
}

TEST_F(HostedServer, EventsReachTheSinkAndInOutArraysComeBackChanged)
{
    QStringList seen;
    QObject::connect(&m_sink, &VEDerEveEventSink::MinMaxResize, [&](bool m, std::int32_t h) {
        seen << QStringLiteral("MinMaxResize %1 %2").arg(m).arg(h);
    });
    QObject::connect(&m_sink, &VEDerEveEventSink::EraseWebCam, [&] { seen << "EraseWebCam"; });
    QObject::connect(&m_sink, &VEDerEveEventSink::ReceiveCamImages,
                     [&](bool on) { seen << QStringLiteral("ReceiveCamImages %1").arg(on); });
    QObject::connect(&m_sink, &VEDerEveEventSink::WebCamSnapShot,
                     [&](QByteArray &hdr, std::int32_t n) {
                         seen << QStringLiteral("WebCamSnapShot %1 %2")
                                     .arg(n)
                                     .arg(QString::fromLatin1(hdr.toHex()));
                         hdr[0] = 'Z';
                     });
    QObject::connect(&m_sink, &VEDerEveEventSink::WebCamClientPicture,
                     [&](QByteArray &bytes, std::int32_t orig, std::int32_t wd, std::int32_t ht,
                         std::int32_t bpp, std::int32_t pos) {
                         seen << QStringLiteral("WebCamClientPicture %1 %2 %3 %4 %5 %6")
                                     .arg(bytes.size())
                                     .arg(orig)
                                     .arg(wd)
                                     .arg(ht)
                                     .arg(bpp)
                                     .arg(pos);
                         bytes.truncate(3);
                     });
    ASSERT_TRUE(m_client->advise(m_sink));

    zozEZUdeZidEvents *events = object()->events();
    QByteArray header = header24();
    QByteArray frame(176 * 144 * 3, '\x5A');
    Q_EMIT events->MinMaxResize(true, 198);
    Q_EMIT events->WebCamSnapShot(header, 41);
    Q_EMIT events->WebCamClientPicture(frame, 76032, 176, 144, 24, 40);
    Q_EMIT events->EraseWebCam();
    Q_EMIT events->ReceiveCamImages(false);

    const QStringList expected = {
        "MinMaxResize 1 198",
        QStringLiteral("WebCamSnapShot 41 ") + QString::fromLatin1(header24().toHex()),
        "WebCamClientPicture 76032 76032 176 144 24 40",
        "EraseWebCam",
        "ReceiveCamImages 0",
    };
    EXPECT_EQ(seen, expected);
    QByteArray changed = header24();
    changed[0] = 'Z';
    EXPECT_EQ(header, changed);
    EXPECT_EQ(frame, QByteArray(3, '\x5A'));
}

TEST_F(HostedServer, EventWithoutSinkIsDroppedQuietly)
{
    int calls = 0;
    QObject::connect(&m_sink, &VEDerEveEventSink::WebCamSnapShot,
                     [&](QByteArray &hdr, std::int32_t) {
                         ++calls;
                         hdr.fill('x');
                     });
    QByteArray header = header24();
    QElapsedTimer clock;
    clock.start();
    Q_EMIT object()->events()->WebCamSnapShot(header, 1);
    EXPECT_LT(clock.elapsed(), kEventTimeoutMs / 2);
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(header, header24());

    ASSERT_TRUE(m_client->advise(m_sink));
    Q_EMIT object()->events()->WebCamSnapShot(header, 2);
    EXPECT_EQ(calls, 1);
}

TEST_F(HostedServer, SinkCanCallBackIntoTheObjectWhileTheEventWaits)
{
    ASSERT_TRUE(m_client->setCaptureInterval(333));
    std::int32_t interval = 0;
    QObject::connect(&m_sink, &VEDerEveEventSink::WebCamSnapShot, [&](QByteArray &, std::int32_t) {
        interval = m_client->CaptureInterval();
        m_client->setCurrentTab(1);
    });
    ASSERT_TRUE(m_client->advise(m_sink));
    QByteArray header = header24();
    QElapsedTimer clock;
    clock.start();
    Q_EMIT object()->events()->WebCamSnapShot(header, 3);
    EXPECT_LT(clock.elapsed(), kEventTimeoutMs);
    EXPECT_EQ(interval, 333);
    EXPECT_EQ(object()->CurrentTab(), 1);
}

TEST_F(HostedServer, SilentSinkCostsOneTimeoutAndThePanelGoesOn)
{
    QDBusConnection silentBus = m_bus.connect(QStringLiteral("silent"));
    SilentSink silent;
    ASSERT_TRUE(silentBus.registerVirtualObject(QStringLiteral("/silent"), &silent));
    const QDBusMessage advised = rawCall(
        m_client->path(), QString::fromLatin1(bus::kObjectInterface), QStringLiteral("Advise"),
        {QVariant::fromValue(QDBusObjectPath(QStringLiteral("/silent")))}, &silentBus);
    ASSERT_EQ(advised.type(), QDBusMessage::ReplyMessage) << advised.errorMessage().toStdString();

    QByteArray header = header24();
    QElapsedTimer clock;
    clock.start();
    Q_EMIT object()->events()->WebCamSnapShot(header, 4);
    const qint64 waited = clock.elapsed();
    EXPECT_EQ(silent.calls, 1);
    EXPECT_GE(waited, kEventTimeoutMs - 50);
    EXPECT_LT(waited, kEventTimeoutMs + 1500);
    EXPECT_EQ(header, header24());

    // The object still serves calls and delivers the next event to a sink that answers.
    int delivered = 0;
    QObject::connect(&m_sink, &VEDerEveEventSink::EraseWebCam, [&] { ++delivered; });
    ASSERT_TRUE(m_client->advise(m_sink));
    clock.restart();
    Q_EMIT object()->events()->EraseWebCam();
    EXPECT_EQ(delivered, 1);
    EXPECT_LT(clock.elapsed(), kEventTimeoutMs);
}

TEST_F(HostedServer, OnlyTheCreatorMayRelease)
{
    QDBusConnection other = m_bus.connect(QStringLiteral("other"));
    const QDBusMessage refused
        = rawCall(QString::fromLatin1(bus::kFactoryPath),
                  QString::fromLatin1(bus::kFactoryInterface), QStringLiteral("Release"),
                  {QVariant::fromValue(QDBusObjectPath(m_client->path()))}, &other);
    EXPECT_EQ(refused.errorName(), QStringLiteral("org.freedesktop.DBus.Error.AccessDenied"));
    QTest::qWait(50);
    EXPECT_NE(object(), nullptr);

    QSignalSpy idle(m_factory.get(), &bus::ClassFactory::idle);
    const QString path = m_client->path();
    EXPECT_TRUE(m_client->release());
    EXPECT_TRUE(QTest::qWaitFor([&] { return m_factory->objectCount() == 0; }, 2000));
    // Its path is no longer served.
    const QDBusMessage gone
        = rawCall(path, QString::fromLatin1(bus::kObjectInterface), QStringLiteral("Show"), {});
    EXPECT_EQ(gone.errorName(), QStringLiteral("org.freedesktop.DBus.Error.UnknownObject"));
    EXPECT_TRUE(idle.wait(kExitDelayMs * 10));
}

TEST_F(HostedServer, CreatorLeavingTheBusEndsOnlyItsObjects)
{
    {
        // Raw calls, so that nothing keeps this connection open once it is dropped below.
        QDBusConnection leaving = m_bus.connect(QStringLiteral("leaving"));
        for (int i = 0; i < 2; ++i) {
            const QDBusMessage created = rawCall(QString::fromLatin1(bus::kFactoryPath),
                                                 QString::fromLatin1(bus::kFactoryInterface),
                                                 QStringLiteral("CreateInstance"), {}, &leaving);
            ASSERT_EQ(created.type(), QDBusMessage::ReplyMessage);
        }
    }
    ASSERT_EQ(m_factory->objectCount(), 3);
    QSignalSpy idle(m_factory.get(), &bus::ClassFactory::idle);

    QDBusConnection::disconnectFromBus(QStringLiteral("leaving"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return m_factory->objectCount() == 1; }, 3000));
    EXPECT_NE(object(), nullptr);
    QTest::qWait(kExitDelayMs * 3);
    EXPECT_EQ(idle.count(), 0);

    EXPECT_TRUE(m_client->release());
    EXPECT_TRUE(idle.wait(3000));
}

TEST_F(HostedServer, ReleaseDuringAnEventEndsTheObjectOnlyAfterTheEventReturns)
{
    QObject::connect(&m_sink, &VEDerEveEventSink::WebCamSnapShot,
                     [&](QByteArray &hdr, std::int32_t) {
                         m_client->release();
                         // Give the server every chance to end the object too early.
                         QTest::qWait(100);
                         hdr[1] = 'R';
                     });
    ASSERT_TRUE(m_client->advise(m_sink));
    const QString path = m_client->path();
    zozEZUdeZid *obj = object();
    QByteArray header = header24();
    Q_EMIT obj->events()->WebCamSnapShot(header, 5);
    // Still alive here: the emit above ran inside the object.
    EXPECT_EQ(m_factory->objectCount(), 1);
    EXPECT_EQ(header[1], 'R');
    EXPECT_TRUE(QTest::qWaitFor([&] { return m_factory->objectCount() == 0; }, 2000));
}

TEST(ServerLifetime, ServerWithoutObjectsGoesIdleAfterTheGracePeriod)
{
    PrivateBus privateBus;
    ASSERT_TRUE(privateBus.start());
    bus::ClassFactory factory(privateBus.connect(QStringLiteral("grace")),
                              bus::ServerOptions {1000, 100, 300});
    QSignalSpy idle(&factory, &bus::ClassFactory::idle);
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(idle.wait(3000));
    EXPECT_GE(clock.elapsed(), 250);
}
