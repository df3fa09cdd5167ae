// PipeWire cameras of a private daemon: listed, their frames decoding to their sources' pictures,
// the panel on them through late first frames, stalls, unplugging and plugging mid-call, and their
// pictures reaching a parent over the bus.

#include "PrivatePipeWire.h"

#include "ImageBlocks.h"
#include "VEDerEveClient.h"
#include "VEDerEveEventSink.h"
#include "automation/dbus/BusNames.h"
#include "automation/dbus/ClassFactory.h"
#include "automation/frmWebCam.h"
#include "capture/FrameWatch.h"
#include "dbus/PrivateBus.h"
#include "panel/PanelDriver.h"
#include "platform/capture/FrameCodec.h"
#include "platform/capture/PipeWireSession.h"
#include "platform/capture/VirtualCamera.h"
#include "support/CRegSettings.h"
#include "support/PanelTestAccess.h"

#include <QElapsedTimer>
#include <QImage>
#include <QTest>

#include <cstdio>

#include <unistd.h>

namespace {

namespace vfw = platform::vfw;

// Colour classes of a picture at points given as fractions from the top left.
std::string classesAt(const QImage &picture, const std::vector<std::pair<double, double>> &points)
{
    std::string classes;
    for (const auto &[fx, fy] : points) {
        const QRgb p = picture.pixel(int(fx * picture.width()), int(fy * picture.height()));
        classes += colourClass(qRed(p), qGreen(p), qBlue(p));
    }
    return classes;
}
const std::vector<std::pair<double, double>> kQuadrantCentres {
    {0.25, 0.25}, {0.75, 0.25}, {0.25, 0.75}, {0.75, 0.75}};

using PipeWireCameras = WithPipeWire<>;

// Each source listed by its description, its frames in the format asked for showing its picture;
// the node of a Video4Linux device is that device, listed once and served through PipeWire.
TEST_F(PipeWireCameras, EachSourceIsListedAndItsFramesDecodeToItsPicture)
{
    auto io = std::make_shared<vfw::fake::FakeV4l2Io>();
    const auto path = io->addDevice(vfw::fake::uvcCamera("Desk Camera", 0)).profile.devicePath;
    vfw::setV4l2Io(io);
    const std::size_t before = vfw::captureDrivers().size();
    ASSERT_TRUE(pipeWire().plugSlow("vedereve-bgr", 0));
    ASSERT_TRUE(pipeWire().plugSlow("vedereve-desk", 0, QString::fromStdString(path)));
    // The suite's three cameras and these two.
    ASSERT_TRUE(waitUntil([] { return vfw::pipeWireCameras().size() == 5; }, 3000));
    const std::vector<vfw::DriverEntry> drivers = vfw::captureDrivers();
    ASSERT_EQ(drivers.size(), before + 1) << "the device's node listed apart";
    const struct
    {
        std::string identity, description;
        std::uint32_t compression;
        std::uint16_t bits;
    } cases[] = {
        {"vedereve-test-yuy2", "YUY2 Test Camera", vfw::FOURCC_YUY2, 16},
        {"vedereve-test-mjpg", "MJPG Test Camera", vfw::FOURCC_MJPG, 16},
        {"vedereve-bgr", "vedereve-bgr (slow)", vfw::BI_RGB, 24},
        {drivers[0].identity, "Desk Camera", vfw::BI_RGB, 24}, // served by the slow camera
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.identity);
        const int index = indexOf(c.identity);
        ASSERT_GE(index, 0);
        EXPECT_EQ(drivers[std::size_t(index)].description.name, c.description);
        std::unique_ptr<vfw::CaptureDriver> driver = drivers[std::size_t(index)].open();
        ASSERT_EQ(driver->connect(), 0);
        ASSERT_EQ(driver->setFormat({c.compression, c.bits, 320, 240}), 0);
        const vfw::VideoFormat format = driver->format();
        ASSERT_EQ(std::tuple(format.compression, format.width, format.height),
                  std::tuple(c.compression, 320, 240));
        vfw::GrabbedFrame frame;
        ASSERT_TRUE(waitUntil([&] { return !(frame = driver->grab()).empty(); }, 3000));
        std::vector<std::uint8_t> bits(320 * 3 * 240); // rows of 24 bits need no padding at 320
        ASSERT_EQ(vfw::FrameDecoder().decode(format, frame.bytes, bits), vfw::ICERR_OK);
        const QImage picture = QImage(bits.data(), 320, 240, QImage::Format_BGR888).mirrored();
        if (c.identity.starts_with("vedereve-test")) { // across the bars, then below them: blue
                                                       // under white, black under yellow
            std::vector<std::pair<double, double>> points {{0.07, 0.71}, {0.21, 0.71}};
            for (int bar = 0; bar < 7; ++bar)
                points.emplace_back((bar + 0.5) / 7, 0.3);
            EXPECT_EQ(classesAt(picture, points), std::string("BK") + kBars);
        } else {
            EXPECT_EQ(classesAt(picture, kQuadrantCentres), kQuadrants);
        }
    }
    EXPECT_GE(indexOf("vedereve-videotestsrc"), 0); // answers its formats on its port only
}

// Frames reach the loop's thread through its queue. A camera closed the moment the loop is free
// again, with frames queued for it meanwhile, is freed only after they ran (freed memory is
// overwritten in this test, so that a late call cannot pass unnoticed).
TEST_F(PipeWireCameras, CameraClosedWhileFramesWaitForTheLoopIsFreedAfterThem)
{
    ASSERT_GE(indexOf("vedereve-test-yuy2"), 0);
    for (int round = 0; round < 10; ++round) {
        std::unique_ptr<vfw::CaptureDriver> driver = vfw::openPipeWireCamera("vedereve-test-yuy2");
        ASSERT_EQ(driver->connect(), 0);
        ASSERT_TRUE(waitUntil([&] { return !driver->grab().empty(); }, 3000));
        {
            const vfw::PipeWireSession::Lock holdTheLoop(*vfw::currentPipeWireSession());
            QThread::msleep(70);
        }
        driver.reset();
    }
}

// A descriptor already connected to the daemon, as the portal hands out, given through the API
// and through VEDEREVE_PIPEWIRE_FD; such a connection leaves linking to the session manager.
using PipeWirePortal = WithPipeWire<::testing::Test, true>;

TEST_F(PipeWirePortal, ConnectionHandedInAsADescriptorServesTheCameras)
{
    const QByteArray remote = qgetenv("PIPEWIRE_REMOTE");
    for (const bool throughEnvironment : {false, true}) {
        SCOPED_TRACE(throughEnvironment);
        const int fd = pipeWire().connectedSocket();
        ASSERT_GE(fd, 0);
        qputenv("PIPEWIRE_REMOTE", "vedereve-no-such-daemon"); // only the descriptor leads there
        if (throughEnvironment)
            qputenv("VEDEREVE_PIPEWIRE_FD", QByteArray::number(fd));
        vfw::setPipeWireConnection({throughEnvironment ? vfw::PipeWireConnection::Mode::Automatic
                                                       : vfw::PipeWireConnection::Mode::Fd,
                                    fd});
        std::unique_ptr<vfw::CaptureDriver> driver = vfw::openPipeWireCamera("vedereve-test-yuy2");
        EXPECT_TRUE(indexOf("vedereve-test-yuy2") >= 0 && driver->connect() == 0
                    && waitUntil([&] { return !driver->grab().empty(); }, 3000));
        driver.reset();
        qputenv("PIPEWIRE_REMOTE", remote);
        qunsetenv("VEDEREVE_PIPEWIRE_FD");
        vfw::setPipeWireConnection({});
        ::close(fd);
    }
}

// The panel on a slow camera in real time; the time since Play of each picture sent recorded.
class PipeWirePanel : public WithPipeWire<paneltest::PanelTest>
{
protected:
    void playOn(const QString &name, int delayMs = 0)
    {
        ASSERT_TRUE(pipeWire().plugSlow(name, delayMs));
        const int index = indexOf(name.toStdString());
        paneltest::save(QStringLiteral("WebCamDevice"), QString::number(index));
        start(1, {}, nullptr);
        ASSERT_EQ(view->deviceIndex(), index);
        QObject::connect(object->events(), &zozEZUdeZidEvents::WebCamSnapShot,
                         [this](QByteArray &, std::int32_t) { sentAt.push_back(clock.elapsed()); });
        object->setTransmitPost(true);
        object->setTransmitStatus(true);
        clock.start();
        click("imgCamOnMain");
    }
    bool sentMoreThan(std::size_t count, int withinMs)
    {
        return waitUntil([&] { return sentAt.size() > count; }, withinMs);
    }

    QElapsedTimer clock;
    std::vector<qint64> sentAt;
};

// A late first frame is waited for; a stall fails after its bound, sends nothing and restarts
// that camera, which runs again once it sends again.
TEST_F(PipeWirePanel, LateFirstFrameIsWaitedForAndAStallRestartsThatCamera)
{
    constexpr int kDelayMs = 1200;
    playOn("vedereve-slow", kDelayMs);
    ASSERT_TRUE(sentMoreThan(0, capture::kStartBoundMs + 1000));
    EXPECT_GE(sentAt.front(), kDelayMs);
    EXPECT_LE(sentAt.front(), capture::kStartBoundMs);
    EXPECT_EQ(view->lastAttempt(), 0);

    ASSERT_TRUE(sentMoreThan(2, 2000));
    pipeWire().stall("vedereve-slow", true);
    const qint64 stalledAt = clock.elapsed();
    ASSERT_TRUE(waitUntil([&] { return view->lastAttempt() != 0; }, capture::kStallBoundMs + 2000));
    EXPECT_GE(clock.elapsed() - stalledAt, capture::kStallBoundMs - 200);
    const std::size_t sent = sentAt.size();
    waitUntil([] { return false; }, 500);
    EXPECT_EQ(sentAt.size(), sent) << "a picture while the camera was stalled";
    pipeWire().stall("vedereve-slow", false);
    EXPECT_TRUE(sentMoreThan(sent, capture::kStartBoundMs + 1000));
    EXPECT_EQ(view->deviceIndex(), indexOf("vedereve-slow"));
}

// A camera plugged mid-call leaves the call alone. One unplugged mid-call is noticed at once,
// sends nothing more, starts no other camera and keeps its index, where it comes back.
TEST_F(PipeWirePanel, UnpluggedCameraSendsNothingMoreAndReturnsAtItsIndex)
{
    playOn("vedereve-unplug");
    const int index = view->deviceIndex();
    ASSERT_TRUE(sentMoreThan(1, 3000));
    std::printf("PipeWire camera: first picture %lld ms after Play\n", sentAt.front());

    ASSERT_TRUE(pipeWire().plugSlow("vedereve-later", 0));
    EXPECT_EQ(indexOf("vedereve-unplug"), index);
    ASSERT_TRUE(sentMoreThan(sentAt.size(), 1000)) << "plugging another camera disturbed the call";

    pipeWire().unplug("vedereve-unplug");
    ASSERT_TRUE(waitUntil([&] { return view->lastAttempt() != 0; }, 1500)); // not the stall bound
    const std::size_t sent = sentAt.size();
    waitUntil([] { return false; }, 1000);
    EXPECT_EQ(sentAt.size(), sent) << "a picture after the camera went";
    EXPECT_EQ(view->deviceIndex(), index);

    ASSERT_TRUE(pipeWire().plugSlow("vedereve-unplug", 0));
    EXPECT_EQ(indexOf("vedereve-unplug"), index);
    if (!view->capture().CameraOn())
        click("imgCamOnMain");
    EXPECT_TRUE(sentMoreThan(sent, 3000));
    EXPECT_FALSE(pipeWire().said("vedereve-later").contains("first")) << "another camera started";
}

// The parent of the test over the bus below: prints "SNAPSHOT <colour classes of the quadrants>"
// for each picture it reads.
TEST(ParentProcessRole, ReceivesPictures)
{
    if (qEnvironmentVariableIsEmpty("VEDEREVE_PIPEWIRE_PARENT"))
        GTEST_SKIP() << "runs only as the parent process of the test over the bus";
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QDBusConnection bus = QDBusConnection::sessionBus();
    VEDerEveEventSink sink;
    VEDerEveClient client(bus);
    if (!sink.exportOn(bus, QStringLiteral("/parent/sink")) || !client.create()
        || !client.advise(sink)
        || !(client.setTransmitPost(true) && client.setTransmitStatus(true) && client.Show()
             && client.Maximize() && client.setCurrentTab(1)))
        std::_Exit(2);
    int received = 0;
    QObject::connect(&sink, &VEDerEveEventSink::WebCamSnapShot, [&](QByteArray &, std::int32_t n) {
        const std::optional<ImageBlockCopy> block = readImageBlock(n);
        const QImage picture = block ? QImage::fromData(block->data, "JPG") : QImage();
        std::printf("SNAPSHOT %s\n", classesAt(picture, kQuadrantCentres).c_str());
        ++received;
    });
    std::printf("READY %s\n", qPrintable(client.path()));
    std::_Exit(QTest::qWaitFor([&] { return received >= 3; }, 15000) ? 0 : 5);
}

// A parent receives over the bus the pictures captured after Play; they show the camera's picture.
TEST_F(PipeWireCameras, ParentReceivesTheCamerasPicturesOverTheBus)
{
    vfw::VirtualCameras::configure({});
    ASSERT_TRUE(pipeWire().plugSlow("vedereve-bus", 0));
    const int index = indexOf("vedereve-bus");
    CRegSettings().SaveSetting("Defaults", "WebCamDevice", QString::number(index));

    PrivateBus bus;
    ASSERT_TRUE(bus.start());
    QDBusConnection host = bus.connect(QStringLiteral("host"));
    bus::ClassFactory factory(host, bus::ServerOptions {5000, 100, 60000});
    ASSERT_TRUE(factory.registerFactory());
    ASSERT_TRUE(host.registerService(QString::fromLatin1(bus::kServiceName)));
    QProcess parent;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
    env.insert(QStringLiteral("VEDEREVE_PIPEWIRE_PARENT"), QStringLiteral("1"));
    parent.setProcessEnvironment(env);
    parent.start(QCoreApplication::applicationFilePath(),
                 {QStringLiteral("--gtest_filter=ParentProcessRole.*")});
    QByteArray ready; // the parent's test runner writes lines of its own first
    ASSERT_TRUE(waitUntil(
        [&] { return parent.canReadLine() && (ready = parent.readLine()).startsWith("READY "); },
        15000));
    zozEZUdeZid *object = factory.object(QString::fromUtf8(ready.mid(6).trimmed()));
    ASSERT_NE(object, nullptr) << ready.data();
    const PanelTestAccess view(object->form()->WebCam());
    ASSERT_EQ(view.deviceIndex(), index);
    QTest::mouseClick(view.widget("imgCamOnMain"), Qt::LeftButton, {}, QPoint(5, 5));
    ASSERT_TRUE(waitUntil([&] { return parent.state() == QProcess::NotRunning; }, 20000));
    const QByteArray output = parent.readAllStandardOutput();
    EXPECT_EQ(parent.exitCode(), 0) << output.toStdString(); // after three pictures
    for (const QByteArray &line : output.split('\n'))
        EXPECT_TRUE(!line.startsWith("SNAPSHOT ") || line.mid(9) == kQuadrants) << line.data();
    vfw::VirtualCameras::reset();
}

} // namespace
