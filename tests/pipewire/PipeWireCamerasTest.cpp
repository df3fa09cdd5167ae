// PipeWire cameras of a private daemon: listed, their frames decoding to their sources' pictures,
// and the panel on them through late first frames, stalls, unplugging and plugging mid-call.

#include "PrivatePipeWire.h"

#include "capture/FrameWatch.h"
#include "panel/PanelDriver.h"
#include "platform/capture/FrameCodec.h"

#include <QElapsedTimer>

#include <iostream>

#include <unistd.h>

namespace {

namespace vfw = platform::vfw;

// Colour classes of a frame decoded to 24 bits at points given as fractions from the top left.
std::string sample(const vfw::VideoFormat &format, const vfw::GrabbedFrame &frame,
                   const std::vector<std::pair<double, double>> &points)
{
    const int line = (format.width * 3 + 3) / 4 * 4;
    std::vector<std::uint8_t> bits(std::size_t(line * format.height));
    if (vfw::FrameDecoder().decode(format, frame.bytes, bits) != vfw::ICERR_OK)
        return "decoding failed";
    std::string classes;
    for (const auto &[fx, fy] : points) {
        const int x = int(fx * format.width), y = format.height - 1 - int(fy * format.height);
        const std::uint8_t *p = &bits[std::size_t(y * line + x * 3)];
        classes += colourClass(p[2], p[1], p[0]);
    }
    return classes;
}

using PipeWireCameras = WithPipeWire<>;

// Each source listed by its description, its frames in the format asked for showing its picture;
// the node of a Video4Linux device is that device, listed once and served through PipeWire.
TEST_F(PipeWireCameras, EachSourceIsListedAndItsFramesDecodeToItsPicture)
{
    auto io = std::make_shared<vfw::fake::FakeV4l2Io>();
    const std::string path
        = io->addDevice(vfw::fake::uvcCamera("Desk Camera", 0)).profile.devicePath;
    vfw::setV4l2Io(io);
    const std::size_t before = vfw::captureDrivers().size();
    ASSERT_TRUE(pipeWire().plugSlow("vedereve-quadrants", 0));
    ASSERT_TRUE(pipeWire().plugSlow("vedereve-bgr", 0, QStringLiteral("bgr")));
    ASSERT_TRUE(pipeWire().plugSlow("vedereve-desk", 0, QStringLiteral("yuy2"),
                                    QString::fromStdString(path)));
    ASSERT_TRUE(waitUntil(
        [&] {
            return indexOf("vedereve-bgr") >= 0
                && std::ranges::any_of(vfw::pipeWireCameras(), [](const vfw::PipeWireCamera &c) {
                       return c.name == "vedereve-desk";
                   });
        },
        3000));
    const std::vector<vfw::DriverEntry> drivers = vfw::captureDrivers();
    ASSERT_EQ(drivers.size(), before + 2) << "the device's node listed apart";
    const std::string desk = drivers[0].identity;
    EXPECT_TRUE(desk.starts_with("v4l2")) << desk;
    const struct
    {
        std::string identity, description;
        vfw::VideoFormat format;
        bool bars;
    } cases[] = {
        {"vedereve-test-yuy2", "YUY2 Test Camera", {vfw::FOURCC_YUY2, 16, 320, 240}, true},
        {"vedereve-test-mjpg", "MJPG Test Camera", {vfw::FOURCC_MJPG, 16, 320, 240}, true},
        {"vedereve-quadrants",
         "vedereve-quadrants (slow)",
         {vfw::FOURCC_YUY2, 16, 320, 240},
         false},
        {"vedereve-bgr", "vedereve-bgr (slow)", {vfw::BI_RGB, 24, 320, 240}, false},
        {desk, "Desk Camera", {vfw::FOURCC_YUY2, 16, 320, 240}, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.identity);
        const int index = indexOf(c.identity);
        ASSERT_GE(index, 0);
        EXPECT_EQ(drivers[std::size_t(index)].description.name, c.description);
        std::unique_ptr<vfw::CaptureDriver> driver = drivers[std::size_t(index)].open();
        ASSERT_EQ(driver->connect(), 0);
        ASSERT_EQ(driver->setFormat(c.format), 0);
        const vfw::VideoFormat format = driver->format();
        EXPECT_EQ(std::tuple(format.compression, format.width, format.height),
                  std::tuple(c.format.compression, 320, 240));
        vfw::GrabbedFrame frame;
        ASSERT_TRUE(waitUntil([&] { return !(frame = driver->grab()).empty(); }, 3000));
        if (c.bars) { // across the bars, then below them: blue under white, black under yellow
            std::vector<std::pair<double, double>> points {{0.07, 0.71}, {0.21, 0.71}};
            for (int bar = 0; bar < 7; ++bar)
                points.emplace_back((bar + 0.5) / 7, 0.3);
            EXPECT_EQ(sample(format, frame, points), std::string("BK") + kBars);
        } else {
            EXPECT_EQ(
                sample(format, frame, {{0.25, 0.25}, {0.75, 0.25}, {0.25, 0.75}, {0.75, 0.75}}),
                kQuadrants);
        }
    }
    EXPECT_GE(indexOf("vedereve-videotestsrc"), 0); // answers its formats on its port only
    for (const char *name : {"vedereve-bgr", "vedereve-quadrants", "vedereve-desk"})
        pipeWire().unplug(name);
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
        const int index = indexOf("vedereve-test-yuy2");
        std::unique_ptr<vfw::CaptureDriver> driver
            = index < 0 ? nullptr : vfw::captureDrivers()[std::size_t(index)].open();
        EXPECT_TRUE(driver && driver->connect() == 0
                    && waitUntil([&] { return !driver->grab().empty(); }, 3000));
        driver.reset();
        qputenv("PIPEWIRE_REMOTE", remote);
        qunsetenv("VEDEREVE_PIPEWIRE_FD");
        vfw::setPipeWireConnection({});
        ::close(fd);
    }
}

// The panel on PipeWire cameras in real time; the time since Play of each picture sent recorded.
class PipeWirePanel : public WithPipeWire<paneltest::PanelTest>
{
protected:
    void playOn(const std::string &identity)
    {
        const int index = indexOf(identity);
        ASSERT_GE(index, 0) << identity;
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
    ASSERT_TRUE(pipeWire().plugSlow("vedereve-slow", kDelayMs));
    playOn("vedereve-slow");
    ASSERT_TRUE(sentMoreThan(0, capture::kStartBoundMs + 1000));
    EXPECT_GE(sentAt.front(), kDelayMs);
    EXPECT_LE(sentAt.front(), capture::kStartBoundMs);
    EXPECT_EQ(view->lastAttempt(), 0);

    ASSERT_TRUE(sentMoreThan(2, 2000));
    pipeWire().stall("vedereve-slow", true);
    QElapsedTimer stalled;
    stalled.start();
    ASSERT_TRUE(waitUntil([&] { return view->lastAttempt() != 0; }, capture::kStallBoundMs + 2000));
    EXPECT_GE(stalled.elapsed(), capture::kStallBoundMs - 200);
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
    ASSERT_TRUE(pipeWire().plugSlow("vedereve-unplug", 0));
    ASSERT_TRUE(waitUntil([&] { return indexOf("vedereve-unplug") >= 0; }, 3000));
    playOn("vedereve-unplug");
    const int index = view->deviceIndex();
    ASSERT_TRUE(sentMoreThan(1, 3000));
    std::cout << "PipeWire camera: first picture " << sentAt.front() << " ms after Play\n";

    ASSERT_TRUE(pipeWire().plugSlow("vedereve-later", 0));
    ASSERT_TRUE(waitUntil([&] { return indexOf("vedereve-later") >= 0; }, 3000));
    EXPECT_EQ(indexOf("vedereve-unplug"), index);
    ASSERT_TRUE(sentMoreThan(sentAt.size(), 1000)) << "plugging another camera disturbed the call";

    pipeWire().unplug("vedereve-unplug");
    ASSERT_TRUE(waitUntil([&] { return view->lastAttempt() != 0; }, 1500)); // not the stall bound
    const std::size_t sent = sentAt.size();
    waitUntil([] { return false; }, 1000);
    EXPECT_EQ(sentAt.size(), sent) << "a picture after the camera went";
    EXPECT_EQ(view->deviceIndex(), index);

    ASSERT_TRUE(pipeWire().plugSlow("vedereve-unplug", 0));
    ASSERT_TRUE(waitUntil([&] { return indexOf("vedereve-unplug") >= 0; }, 3000));
    EXPECT_EQ(indexOf("vedereve-unplug"), index);
    if (!view->capture().CameraOn())
        click("imgCamOnMain");
    EXPECT_TRUE(sentMoreThan(sent, 3000));
    EXPECT_FALSE(pipeWire().said("vedereve-later").contains("first")) << "another camera started";
}

} // namespace
