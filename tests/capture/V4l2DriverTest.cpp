#include "CaptureTestSupport.h"

#include "platform/capture/Decompressor.h"
#include "platform/capture/V4l2Driver.h"

#include <linux/videodev2.h>

#include <cerrno>
#include <string>

namespace capturetest {
namespace {

class V4l2DriverTest : public CaptureTest
{
protected:
    std::unique_ptr<CaptureDriver> openDriver(std::size_t index)
    {
        std::vector<DriverEntry> drivers = captureDrivers();
        if (index >= drivers.size())
            return nullptr;
        std::unique_ptr<CaptureDriver> driver = drivers[index].open();
        driver->setErrorSink([this](std::int32_t number, std::string_view text) {
            errors.emplace_back(number, std::string(text));
        });
        return driver;
    }

    std::vector<std::pair<std::int32_t, std::string>> errors;
};

TEST_F(V4l2DriverTest, ListsCaptureNodesOnlyWithTheirDescriptions)
{
    addCamera("HD Webcam", 0);
    fake::FakeDeviceProfile capture = fake::uvcCamera("Capture Card", 1);
    capture.driver = "saa7134";
    capture.version = 0x050A11;
    io->addDevice(capture);

    const std::vector<DriverEntry> drivers = captureDrivers();
    EXPECT_EQ(
        driverNames(drivers),
        (std::vector<std::string> {"Capture Card", "HD Webcam (Microsoft WDM Image Capture)"}));
    ASSERT_EQ(drivers.size(), 2u);
    EXPECT_EQ(drivers[0].description.version, "saa7134 5.10.17");
    EXPECT_EQ(drivers[1].description.version, "uvcvideo 6.1.0");
    EXPECT_EQ(io->openDescriptors(), 0u) << "probing leaves no node open";
}

TEST_F(V4l2DriverTest, OrderSurvivesNodesChangingNumbers)
{
    addCamera("Left", 0);
    addCamera("Right", 1);
    const std::vector<std::string> before = driverNames(captureDrivers());
    // Plugged in the other way round: the kernel hands out the numbers in the opposite order.
    io->renumber(0, "/dev/video2");
    io->renumber(1, "/dev/video3");
    io->renumber(2, "/dev/video0");
    io->renumber(3, "/dev/video1");
    EXPECT_EQ(driverNames(captureDrivers()), before);
    EXPECT_EQ(before.front(), "Left (Microsoft WDM Image Capture)");
}

TEST_F(V4l2DriverTest, BusyCameraFailsToConnectAndEveryDisconnectReleasesIt)
{
    fake::FakeDevice &camera = addCamera("Cam", 0);
    auto driver = openDriver(0);
    camera.busy = true;
    EXPECT_EQ(driver->connect(), -EBUSY);
    EXPECT_FALSE(driver->isConnected());
    camera.busy = false;
    camera.busyOnOpen = true;
    EXPECT_EQ(driver->connect(), -EBUSY);
    EXPECT_EQ(io->openDescriptors(), 0u);
    camera.busyOnOpen = false;
    ASSERT_EQ(driver->connect(), 0);
    ASSERT_FALSE(driver->grab().empty());
    // A normal disconnect gives everything back too.
    driver->disconnect();
    EXPECT_FALSE(camera.streaming);
    EXPECT_EQ(camera.mappedBuffers, 0u);
    EXPECT_EQ(io->openDescriptors(), 0u);
    EXPECT_TRUE(driver->grab().empty());
}

TEST_F(V4l2DriverTest, StalledCameraGivesAnEmptyGrabAfterTheBoundedWait)
{
    fake::FakeDevice &camera = addCamera("Cam", 0);
    auto driver = openDriver(0);
    ASSERT_EQ(driver->connect(), 0);
    camera.stalled = true;
    EXPECT_TRUE(driver->grab().empty());
    EXPECT_EQ(camera.lastPollTimeoutMs, kGrabWaitMs);
    camera.stalled = false;
    EXPECT_FALSE(driver->grab().empty());
}

TEST_F(V4l2DriverTest, UnpluggedCameraGivesEmptyGrabsAndIsGone)
{
    fake::FakeDevice &camera = addCamera("Cam", 0);
    auto driver = openDriver(0);
    ASSERT_EQ(driver->connect(), 0);
    ASSERT_FALSE(driver->grab().empty());
    camera.unplug();
    EXPECT_TRUE(driver->grab().empty());
    EXPECT_TRUE(driver->grab().empty());
    ASSERT_EQ(errors.size(), 1u) << "the loss is reported once";
    EXPECT_EQ(errors[0].first, ENODEV);
    EXPECT_NE(driver->setFormat({BI_RGB, 24, 176, 144}), 0);
    EXPECT_EQ(camera.mappedBuffers, 0u);
    EXPECT_EQ(io->openDescriptors(), 0u);
    EXPECT_TRUE(captureDrivers().empty());
    EXPECT_NE(driver->connect(), 0);
}

TEST_F(V4l2DriverTest, DamagedOrShortFramesAreDroppedAndTheNextOneArrives)
{
    struct Case
    {
        const char *what;
        std::uint32_t pixelFormat;
        int fake::FakeDevice::*fault;
    };
    const Case cases[] = {
        {"JPEG frame cut short", V4L2_PIX_FMT_MJPEG, &fake::FakeDevice::damagedJpegFrames},
        {"raw frame with half its bytes", V4L2_PIX_FMT_YUYV, &fake::FakeDevice::shortRawFrames},
        {"frame flagged as damaged", V4L2_PIX_FMT_YUYV, &fake::FakeDevice::errorFrames},
    };
    for (const Case &c : cases) {
        fake::FakeDevice &camera = addCamera("Cam", 0);
        auto driver = openDriver(0);
        ASSERT_EQ(driver->connect(), 0) << c.what;
        const std::uint32_t compression
            = c.pixelFormat == V4L2_PIX_FMT_MJPEG ? FOURCC_MJPG : FOURCC_YUY2;
        ASSERT_EQ(driver->setFormat({compression, 16, 640, 480}), 0) << c.what;
        camera.*c.fault = 2;
        EXPECT_TRUE(driver->grab().empty()) << c.what;
        EXPECT_TRUE(driver->grab().empty()) << c.what;
        const GrabbedFrame frame = driver->grab();
        ASSERT_FALSE(frame.empty()) << c.what;
        if (c.pixelFormat == V4L2_PIX_FMT_MJPEG)
            EXPECT_TRUE(jpegFrameLooksComplete(frame.bytes, 640, 480)) << c.what;
        else
            EXPECT_EQ(frame.bytes.size(), 640u * 480 * 2) << c.what;
        camera.unplug();
    }
}

TEST_F(V4l2DriverTest, GrabDeliversTheFreshestFrameAndKeepsTheQueueFull)
{
    fake::FakeDevice &camera = addCamera("Cam", 0);
    camera.autoFrames = false;
    auto driver = openDriver(0);
    ASSERT_EQ(driver->connect(), 0);
    auto sequence = [](const GrabbedFrame &frame) {
        std::uint32_t n = 0;
        std::memcpy(&n, frame.bytes.data(), sizeof n);
        return n;
    };
    camera.deliverFrames(3);
    GrabbedFrame frame = driver->grab();
    ASSERT_FALSE(frame.empty());
    EXPECT_EQ(sequence(frame), 3u);
    // The older frames went back to the camera: a full set of buffers takes the next ones.
    camera.deliverFrames(int(V4l2Driver::kBufferCount) - 1);
    frame = driver->grab();
    ASSERT_FALSE(frame.empty());
    EXPECT_EQ(sequence(frame), 3u + V4l2Driver::kBufferCount - 1);
    EXPECT_TRUE(driver->grab().empty()) << "nothing new arrived";
}

TEST_F(V4l2DriverTest, SetFormatTakesTheNearestOfferedSizeForReal)
{
    fake::FakeDevice &camera = addCamera("Cam", 0);
    auto driver = openDriver(0);
    ASSERT_EQ(driver->connect(), 0);
    EXPECT_EQ(driver->format(), (VideoFormat {FOURCC_YUY2, 16, 640, 480}));
    EXPECT_EQ(driver->formats().size(), 9u);

    ASSERT_EQ(driver->setFormat({BI_RGB, 24, 176, 144}), 0);
    EXPECT_EQ(driver->format(), (VideoFormat {FOURCC_YUY2, 16, 176, 144}));
    EXPECT_EQ(camera.width, 176u);
    ASSERT_EQ(driver->setFormat({FOURCC_MJPG, 24, 1000, 700}), 0);
    EXPECT_EQ(driver->format(), (VideoFormat {FOURCC_MJPG, 24, 1280, 720}));
    EXPECT_EQ(camera.pixelFormat, std::uint32_t(V4L2_PIX_FMT_MJPEG));
    // Running again at once, so that the camera has frames by the next grab.
    EXPECT_TRUE(camera.streaming);
    EXPECT_FALSE(driver->grab().empty());

    // A device that answers a request with another size is believed.
    camera.profile.formats[1].sizes = {{800, 600}};
    ASSERT_EQ(driver->setFormat({FOURCC_MJPG, 24, 640, 480}), 0);
    EXPECT_EQ(driver->format(), (VideoFormat {FOURCC_MJPG, 24, 800, 600}));
}

TEST_F(V4l2DriverTest, ControlsComeFromTheDeviceAndChangeIt)
{
    fake::FakeDevice &camera = addCamera("Cam", 0);
    auto driver = openDriver(0);
    ASSERT_EQ(driver->connect(), 0);
    const std::vector<DriverControl> controls = driver->controls();
    ASSERT_EQ(controls.size(), 7u) << "the disabled control is left out";
    EXPECT_EQ(controls[0].name, "Brightness");
    EXPECT_EQ(controls[4].kind, DriverControl::Kind::Boolean);
    ASSERT_EQ(controls[5].kind, DriverControl::Kind::Menu);
    EXPECT_EQ(controls[5].items.size(), 3u);
    EXPECT_EQ(controls[5].items[2].name, "60 Hz");
    ASSERT_EQ(controls[6].items.size(), 2u) << "only the modes the camera has";
    EXPECT_EQ(controls[6].items[1].value, 3);

    EXPECT_EQ(driver->setControl(V4L2_CID_BRIGHTNESS, 1000), 0);
    EXPECT_EQ(camera.controlValues[V4L2_CID_BRIGHTNESS], 64) << "clamped to the range";
    EXPECT_EQ(driver->control(V4L2_CID_BRIGHTNESS), 64);
    EXPECT_EQ(driver->setControl(V4L2_CID_POWER_LINE_FREQUENCY, 2), 0);
    EXPECT_EQ(camera.controlValues[V4L2_CID_POWER_LINE_FREQUENCY], 2);
    EXPECT_NE(driver->setControl(V4L2_CID_EXPOSURE_ABSOLUTE, 100), 0);
}

TEST_F(V4l2DriverTest, RawFramesArriveInTheBitmapLayout)
{
    // Red-green-blue rows top-down with padding of the device's own become bottom-up
    // blue-green-red rows padded to 4; padded YUYV rows are packed.
    struct Case
    {
        std::uint32_t pixelFormat;
        VideoFormat format;
    };
    const Case cases[] = {
        {V4L2_PIX_FMT_RGB24, {BI_RGB, 24, 6, 6}},
        {V4L2_PIX_FMT_YUYV, {FOURCC_YUY2, 16, 6, 6}},
    };
    for (const Case &c : cases) {
        fake::FakeDeviceProfile profile = fake::uvcCamera("Raw", 0);
        profile.formats = {{c.pixelFormat, {{6, 6}}}};
        profile.linePadding = 10;
        fake::FakeDevice &camera = io->addDevice(profile);
        auto driver = openDriver(0);
        ASSERT_EQ(driver->connect(), 0);
        EXPECT_EQ(driver->format(), c.format);
        const GrabbedFrame frame = driver->grab();
        ASSERT_EQ(frame.bytes.size(), *frameBytes(c.format));
        std::vector<std::uint8_t> bits(24 * 6);
        if (c.format.compression == BI_RGB) {
            bits.assign(frame.bytes.begin(), frame.bytes.end());
        } else {
            FrameDecoder decoder;
            ASSERT_EQ(decoder.decode(c.format, frame.bytes, bits), ICERR_OK);
        }
        // Row 0 in memory is the picture's bottom: blue. The top row (red) is last. The first
        // pixels of the top row carry the fake's frame number, so pixel 3 is looked at.
        EXPECT_TRUE(near(pixel(bits.data(), 6, 0, 3), {0xE0, 0x20, 0x20}));
        EXPECT_TRUE(near(pixel(bits.data(), 6, 5, 3), {0x20, 0x20, 0xE0}));
        driver.reset();
        camera.unplug();
    }
}

} // namespace
} // namespace capturetest
