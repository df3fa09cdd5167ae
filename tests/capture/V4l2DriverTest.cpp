#include "CaptureTestSupport.h"

#include "platform/capture/Decompressor.h"
#include "platform/capture/V4l2Driver.h"

#include <linux/videodev2.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace capturetest {
namespace {

class V4l2DriverTest : public CaptureTest
{
protected:
    // The first driver, connected unless connect is false; its error reports go to errors.
    std::unique_ptr<CaptureDriver> firstDriver(bool connect = true)
    {
        std::unique_ptr<CaptureDriver> driver = captureDrivers().at(0).open();
        driver->setErrorSink([this](std::int32_t number, std::string_view text) {
            errors.emplace_back(number, std::string(text));
        });
        if (connect) {
            EXPECT_EQ(driver->connect(), 0);
        }
        return driver;
    }

    std::vector<std::pair<std::int32_t, std::string>> errors;
};

TEST_F(V4l2DriverTest, ListsCaptureNodesOnlyByPersistentNameWithTheirDescriptions)
{
    addCamera("HD Webcam", 0);
    fake::FakeDeviceProfile capture = fake::uvcCamera("Capture Card", 1);
    capture.driver = "saa7134";
    capture.version = 0x050A11;
    io->addDevice(capture);

    // The card's node has the higher number, its persistent name comes first.
    const std::vector<DriverEntry> drivers = captureDrivers();
    ASSERT_EQ(drivers.size(), 2u);
    EXPECT_EQ(drivers[0].description.name, "Capture Card");
    EXPECT_EQ(drivers[0].description.version, "saa7134 5.10.17");
    EXPECT_EQ(drivers[1].description.name, "HD Webcam (Microsoft WDM Image Capture)");
    EXPECT_EQ(drivers[1].description.version, "uvcvideo 6.1.0");
    EXPECT_EQ(io->openDescriptors(), 0u) << "probing leaves no node open";
}

TEST_F(V4l2DriverTest, BusyCameraFailsToConnectAndEveryDisconnectReleasesIt)
{
    fake::FakeDevice &camera = addCamera("Cam", 0);
    auto driver = firstDriver(false);
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
    driver->disconnect();
    EXPECT_FALSE(camera.streaming);
    EXPECT_EQ(camera.mappedBuffers, 0u);
    EXPECT_EQ(io->openDescriptors(), 0u);
    EXPECT_TRUE(driver->grab().empty());
}

TEST_F(V4l2DriverTest, StalledOrUnpluggedCameraGivesEmptyGrabs)
{
    fake::FakeDevice &camera = addCamera("Cam", 0);
    auto driver = firstDriver();
    camera.stalled = true;
    EXPECT_TRUE(driver->grab().empty());
    EXPECT_EQ(camera.lastPollTimeoutMs, kGrabWaitMs) << "the wait is bounded";
    camera.stalled = false;
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
    const struct
    {
        const char *what;
        std::uint32_t compression;
        int fake::FakeDevice::*fault;
    } cases[] = {
        {"JPEG frame cut short", FOURCC_MJPG, &fake::FakeDevice::damagedJpegFrames},
        {"raw frame with half its bytes", FOURCC_YUY2, &fake::FakeDevice::shortRawFrames},
        {"frame flagged as damaged", FOURCC_YUY2, &fake::FakeDevice::errorFrames},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        fake::FakeDevice &camera = addCamera("Cam", 0);
        auto driver = firstDriver();
        ASSERT_EQ(driver->setFormat({c.compression, 16, 640, 480}), 0);
        camera.*c.fault = 2;
        EXPECT_TRUE(driver->grab().empty());
        EXPECT_TRUE(driver->grab().empty());
        const GrabbedFrame frame = driver->grab();
        ASSERT_FALSE(frame.empty());
        EXPECT_TRUE(c.compression == FOURCC_MJPG ? jpegFrameLooksComplete(frame.bytes, 640, 480)
                                                 : frame.bytes.size() == 640u * 480 * 2);
        camera.unplug();
    }
}

TEST_F(V4l2DriverTest, GrabDeliversTheFreshestFrameAndKeepsTheQueueFull)
{
    fake::FakeDevice &camera = addCamera("Cam", 0);
    camera.autoFrames = false;
    auto driver = firstDriver();
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
    auto driver = firstDriver();
    EXPECT_EQ(driver->format(), (VideoFormat {FOURCC_YUY2, 16, 640, 480}));
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

// The dialogs test the rest of the controls' way to the device.
TEST_F(V4l2DriverTest, ControlsLeaveOutDisabledOnesAndStayWithinTheirRange)
{
    fake::FakeDevice &camera = addCamera("Cam", 0);
    auto driver = firstDriver();
    EXPECT_EQ(driver->controls().size(), 7u);
    EXPECT_EQ(driver->setControl(V4L2_CID_BRIGHTNESS, 1000), 0);
    EXPECT_EQ(camera.controlValues[V4L2_CID_BRIGHTNESS], 64);
    EXPECT_EQ(driver->control(V4L2_CID_BRIGHTNESS), 64);
    EXPECT_NE(driver->setControl(V4L2_CID_EXPOSURE_ABSOLUTE, 100), 0);
}

TEST_F(V4l2DriverTest, RawFramesArriveInTheBitmapLayout)
{
    // Red-green-blue rows top-down with padding of the device's own become bottom-up
    // blue-green-red rows padded to 4; padded YUYV rows are packed.
    for (const auto &[pixelFormat, format] :
         {std::pair {V4L2_PIX_FMT_RGB24, VideoFormat {BI_RGB, 24, 6, 6}},
          std::pair {V4L2_PIX_FMT_YUYV, VideoFormat {FOURCC_YUY2, 16, 6, 6}}}) {
        fake::FakeDeviceProfile profile = fake::uvcCamera("Raw", 0);
        profile.formats = {{pixelFormat, {{6, 6}}}};
        profile.linePadding = 10;
        fake::FakeDevice &camera = io->addDevice(profile);
        auto driver = firstDriver();
        EXPECT_EQ(driver->format(), format);
        const GrabbedFrame frame = driver->grab();
        ASSERT_EQ(frame.bytes.size(), *frameBytes(format));
        std::vector<std::uint8_t> bits(frame.bytes.begin(), frame.bytes.end());
        bits.resize(24 * 6);
        if (format.compression != BI_RGB) {
            ASSERT_EQ(FrameDecoder().decode(format, frame.bytes, bits), ICERR_OK);
        }
        // The bottom row (blue) comes first in memory. The first pixels of the top row (red)
        // carry the fake's frame number, so pixel 3 is looked at.
        EXPECT_TRUE(near(pixel(bits.data(), 6, 0, 3), kBlue));
        EXPECT_TRUE(near(pixel(bits.data(), 6, 5, 3), kRed));
        driver.reset();
        camera.unplug();
    }
}

} // namespace
} // namespace capturetest
