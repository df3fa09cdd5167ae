// A parent on a connection of its own drives the hosted object; the test raises its events itself.

#include "PrivateBus.h"

#include "VEDerEveClient.h"
#include "VEDerEveEventSink.h"
#include "automation/dbus/BusNames.h"
#include "automation/dbus/ClassFactory.h"
#include "automation/dbus/EventWait.h"
#include "automation/frmWebCam.h"
#include "automation/zozEZUdeZid.h"
#include "base/DebugTrace.h"
#include "panel/cveDerEve.h"
#include "platform/core/TraceSink.h"

#include <gtest/gtest.h>

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <memory>
#include <vector>

namespace {

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

constexpr int kEventTimeoutMs = 1000;
constexpr int kExitDelayMs = 100;
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kObject = QString::fromLatin1(bus::kObjectInterface);

class BusParent : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_bus.start());
        m_host = std::make_unique<QDBusConnection>(m_bus.connect("host"));
        m_factory = std::make_unique<bus::ClassFactory>(
            *m_host, bus::ServerOptions {kEventTimeoutMs, kExitDelayMs, 60000});
        ASSERT_TRUE(m_factory->registerFactory());
        ASSERT_TRUE(m_host->registerService(bus::kServiceName));
        m_parent = std::make_unique<QDBusConnection>(m_bus.connect("parent"));
        m_client = std::make_unique<VEDerEveClient>(*m_parent);
        ASSERT_TRUE(m_client->create()) << m_client->lastError().toStdString();
        ASSERT_TRUE(m_sink.exportOn(*m_parent, "/parent/sink"));
    }

    zozEZUdeZid *object() { return m_factory->object(m_client->path()); }

    // A raw call, for what the typed client cannot express.
    QDBusMessage rawCall(const QString &path, const QString &interface, const QString &member,
                         const QVariantList &arguments, QDBusConnection *connection = nullptr)
    {
        QDBusMessage message
            = QDBusMessage::createMethodCall(bus::kServiceName, path, interface, member);
        message.setArguments(arguments);
        return bus::callServingEvents(connection ? *connection : *m_parent, message, 5000)
            .value_or(QDBusMessage());
    }

    PrivateBus m_bus;
    std::unique_ptr<QDBusConnection> m_host;
    std::unique_ptr<bus::ClassFactory> m_factory;
    std::unique_ptr<QDBusConnection> m_parent;
    std::unique_ptr<VEDerEveClient> m_client;
    VEDerEveEventSink m_sink;
};

// 24 distinct bytes, as an image header travels.
const QByteArray kHeader = QByteArray::fromHex("a0a1a2a3a4a5a6a7a8a9aaabacadaeafb0b1b2b3b4b5b6b7");

} // namespace

TEST_F(BusParent, PropertiesReachTheObjectAndComeBackAndEachMistakeHasOneError)
{
    zozEZUdeZid *o = object();
    ASSERT_NE(o, nullptr);
    VEDerEveClient &c = *m_client;
    // SetPosition takes the top first, then the left.
    EXPECT_TRUE(c.setCaptureInterval(480) && c.setCurrentTab(1) && c.setTransmitStatus(true)
                && c.setHeight(17) && c.SetPosition(100, 50))
        << c.lastError().toStdString();
    using Values = std::vector<std::int32_t>;
    EXPECT_EQ(Values({o->CaptureInterval(), o->CurrentTab(), o->TransmitStatus(), o->Height(),
                      o->form()->x(), o->form()->y()}),
              Values({480, 1, 1, 17, 50, 100}));
    EXPECT_EQ(Values({c.CaptureInterval(), c.CurrentTab(), c.TransmitStatus(), c.Height(),
                      c.MaxHeight(), c.MinHeight()}),
              Values({480, 1, 1, 17, o->MaxHeight(), o->MinHeight()}));

    // Whatever the member, one error per mistake, and nothing is forwarded.
    const QVariant nine = QVariant::fromValue(QDBusVariant(uint(9))); // u where i is expected
    const QVariant five = QVariant::fromValue(QDBusVariant(5));
    const struct
    {
        QString interface, member;
        QVariantList arguments;
        std::string error;
    } cases[] = {
        // A known member with arguments of other types: a method, a property, Advise.
        {kObject, "SetPosition", {1}, "InvalidArgs"},
        {kProperties, "Set", {kObject, "CaptureInterval", nine}, "InvalidArgs"},
        {kProperties, "Get", {kObject}, "InvalidArgs"},
        {kObject, "Advise", {"/parent/sink"}, "InvalidArgs"},
        {kProperties, "Get", {kObject, "DebugFlag"}, "AccessDenied"},
        {kProperties, "Set", {kObject, "MinHeight", five}, "PropertyReadOnly"},
        {kProperties, "Get", {kObject, "captureinterval"}, "UnknownProperty"},
        {kObject, "Frobnicate", {}, "UnknownMethod"},
        {"com.example.Other", "Show", {}, "UnknownInterface"},
    };
    for (const auto &row : cases) {
        const QDBusMessage reply
            = rawCall(m_client->path(), row.interface, row.member, row.arguments);
        EXPECT_EQ(reply.errorName().toStdString(), "org.freedesktop.DBus.Error." + row.error)
            << (row.member + ' ' + row.arguments.value(1).toString()).toStdString();
    }
    EXPECT_EQ(o->CaptureInterval(), 480);
}

// Panel events reach the parent's handlers over the bus; the arrays they change come back.
TEST_F(BusParent, PanelEventsReachTheSinkAndInOutArraysComeBackChanged)
{
    QStringList seen;
    const auto note = [&seen](const char *event, auto... values) {
        seen << (QStringList {event} << ... << QString::number(int(values))).join(u' ');
    };
    QObject::connect(&m_sink, &VEDerEveEventSink::MinMaxResize,
                     [&](bool m, std::int32_t h) { note("MinMaxResize", m, h); });
    QObject::connect(&m_sink, &VEDerEveEventSink::EraseWebCam, [&] { note("EraseWebCam"); });
    QObject::connect(&m_sink, &VEDerEveEventSink::ReceiveCamImages,
                     [&](bool on) { note("ReceiveCamImages", on); });
    QObject::connect(&m_sink, &VEDerEveEventSink::WebCamSnapShot, [&](QByteArray &hdr, int n) {
        note("WebCamSnapShot", n, hdr == kHeader);
        hdr[0] = 'Z';
    });
    QObject::connect(&m_sink, &VEDerEveEventSink::WebCamClientPicture,
                     [&](QByteArray &bytes, int orig, int wd, int ht, int bpp, int pos) {
                         note("WebCamClientPicture", bytes.size(), orig, wd, ht, bpp, pos);
                         bytes.truncate(3);
                     });
    ASSERT_TRUE(m_client->advise(m_sink));

    WebCamEvents *events = object()->form()->WebCam()->events();
    QByteArray header = kHeader;
    QByteArray frame(176 * 144 * 3, '\x5A');
    Q_EMIT events->MinMaxResize(true, 17); // the object turns the panel's height into a shift
    Q_EMIT events->WebCamSnapShot(header, 41);
    Q_EMIT events->WebCamClientPicture(frame, 76032, 176, 144, 24, 40);
    Q_EMIT events->EraseWebCam();
    Q_EMIT events->ReceiveCamImages(false);
    EXPECT_EQ(seen.join(u'\n').toStdString(),
              "MinMaxResize 1 198\nWebCamSnapShot 41 1\n"
              "WebCamClientPicture 76032 76032 176 144 24 40\nEraseWebCam\nReceiveCamImages 0");
    EXPECT_EQ(header, 'Z' + kHeader.mid(1));
    EXPECT_EQ(frame, QByteArray(3, '\x5A'));
}

// No sink: no wait; a silent sink: one timeout; a sink may call back and even release meanwhile.
TEST_F(BusParent, EventWaitsAreBoundedAndASinkMayCallBackAndReleaseWhileOneWaits)
{
    ASSERT_TRUE(m_client->setCaptureInterval(333));
    zozEZUdeZid *o = object();
    QByteArray header = kHeader;
    QElapsedTimer clock;
    clock.start();
    Q_EMIT o->events()->WebCamSnapShot(header, 1);
    EXPECT_LT(clock.elapsed(), kEventTimeoutMs / 2);

    QDBusConnection silentBus = m_bus.connect("silent");
    SilentSink silent;
    ASSERT_TRUE(silentBus.registerVirtualObject("/silent", &silent));
    ASSERT_EQ(rawCall(m_client->path(), kObject, "Advise",
                      {QVariant::fromValue(QDBusObjectPath("/silent"))}, &silentBus)
                  .type(),
              QDBusMessage::ReplyMessage);
    // The wait ends on its own deadline, well before the library would give up, and says so.
    DebugTrace::setDebugFlag(true);
    platform::TraceSink::startCapture();
    clock.restart();
    Q_EMIT o->events()->WebCamSnapShot(header, 2);
    const qint64 waited = clock.elapsed();
    DebugTrace::setDebugFlag(false);
    EXPECT_TRUE(waited >= kEventTimeoutMs - 50 && waited < kEventTimeoutMs + 1500) << waited;
    EXPECT_TRUE(silent.calls == 1 && header == kHeader);
    EXPECT_EQ(platform::TraceSink::captured(),
              "WebCam WebCamSnapShot - no answer from the parent within 1000 ms, going on\n");
    platform::TraceSink::stopCapture();

    std::int32_t interval = 0;
    QObject::connect(&m_sink, &VEDerEveEventSink::WebCamSnapShot,
                     [&](QByteArray &hdr, std::int32_t) {
                         interval = m_client->CaptureInterval();
                         m_client->setCurrentTab(1);
                         m_client->release();
                         QTest::qWait(100); // every chance to end the object too early
                         hdr[1] = 'R';
                     });
    ASSERT_TRUE(m_client->advise(m_sink));
    clock.restart();
    Q_EMIT o->events()->WebCamSnapShot(header, 3);
    EXPECT_LT(clock.elapsed(), kEventTimeoutMs);
    // Still alive here: the emit above ran inside the object.
    EXPECT_EQ(std::tuple(interval, m_factory->objectCount(), o->CurrentTab(), header[1]),
              std::tuple(333, 1, 1, 'R'));
    EXPECT_TRUE(QTest::qWaitFor([&] { return m_factory->objectCount() == 0; }, 2000));
}

TEST_F(BusParent, ObjectsEndOnlyByTheirCreatorsReleaseOrLeavingAndTheServerThenIdles)
{
    {
        // Raw calls, so that nothing keeps this connection open once it is dropped below.
        QDBusConnection leaving = m_bus.connect("leaving");
        for (int i = 0; i < 2; ++i)
            ASSERT_EQ(
                rawCall(bus::kFactoryPath, bus::kFactoryInterface, "CreateInstance", {}, &leaving)
                    .type(),
                QDBusMessage::ReplyMessage);
        const QDBusMessage refused
            = rawCall(bus::kFactoryPath, bus::kFactoryInterface, "Release",
                      {QVariant::fromValue(QDBusObjectPath(m_client->path()))}, &leaving);
        EXPECT_EQ(refused.errorName(), "org.freedesktop.DBus.Error.AccessDenied");
    }
    ASSERT_EQ(m_factory->objectCount(), 3);
    QSignalSpy idle(m_factory.get(), &bus::ClassFactory::idle);
    QDBusConnection::disconnectFromBus("leaving");
    EXPECT_TRUE(QTest::qWaitFor([&] { return m_factory->objectCount() == 1; }, 3000));
    QTest::qWait(kExitDelayMs * 3);
    EXPECT_TRUE(object() != nullptr && idle.count() == 0);

    const QString path = m_client->path();
    EXPECT_TRUE(m_client->release());
    EXPECT_TRUE(idle.wait(3000) && m_factory->objectCount() == 0);
    EXPECT_EQ(rawCall(path, kObject, "Show", {}).errorName(),
              "org.freedesktop.DBus.Error.UnknownObject");
}
