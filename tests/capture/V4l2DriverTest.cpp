#include "CaptureTestSupport.h"

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
        EXPECT_TRUE(!connect || driver->connect() == 0);
        return driver;
    }
    // Nothing of camera held: not streaming, no buffers mapped, no node open.
    bool released(const fake::FakeDevice &camera) const
    {
        return !camera.streaming && camera.mappedBuffers == 0 && io->openDescriptors() == 0;
    }

    std::vector<std::pair<std::int32_t, std::string>> errors;
};

TEST_F(V4l2DriverTest, ListsCaptureNodesOnlyByPersistentNameWithTheirDescriptions)
{
    addCamera("HD Webcam", 0);
    addCamera("HD Webcam", 2);
    fake::FakeDeviceProfile capture = fake::uvcCamera("Capture Card", 1);
    capture.driver = "saa7134";
    capture.version = 0x050A11;
    io->addDevice(capture);

    // The card sorts first by its persistent name; only the USB video class cameras are standard
    // (*), and the two of one model are told apart by their USB port.
    std::string listed;
    for (const DriverEntry &d : captureDrivers())
        listed += d.description.name + ", " + d.description.version + ", " + d.identity
            + (d.standardCamera ? " *\n" : "\n");
    EXPECT_EQ(
        listed,
        "Capture Card, saa7134 5.10.17, v4l2-id:usb-Maker_Capture Card_SN1001-video-index0\n"
        "HD Webcam (USB 1), uvcvideo 6.1.0, v4l2-id:usb-Maker_HD Webcam_SN1000-video-index0 *\n"
        "HD Webcam (USB 3), uvcvideo 6.1.0, v4l2-id:usb-Maker_HD Webcam_SN1002-video-index0 *\n");
    EXPECT_EQ(io->openDescriptors(), 0u) << "probing leaves no node open";
}

// A camera held elsewhere or without bandwidth for buffers or the stream fails the connect; an
// unplugged one gives empty grabs and is reported once. Either way it is let go.
TEST_F(V4l2DriverTest, CameraThatCannotStartOrIsUnpluggedIsReleased)
{
    const struct
    {
        const char *what;
        void (*script)(fake::FakeDevice &);
        int error;
    } cases[] = {
        {"another program has it open", [](fake::FakeDevice &c) { c.busyOnOpen = true; }, -EBUSY},
        {"another program streams", [](fake::FakeDevice &c) { c.busy = true; }, -EBUSY},
        {"no bandwidth for buffers",
         [](fake::FakeDevice &c) { c.refusals[VIDIOC_REQBUFS] = ENOSPC; }, -ENOSPC},
        {"no bandwidth to stream",
         [](fake::FakeDevice &c) { c.refusals[VIDIOC_STREAMON] = ENOSPC; }, -ENOSPC},
    };
    fake::FakeDevice &camera = addCamera("Cam", 0);
    auto driver = firstDriver(false);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        c.script(camera);
        EXPECT_EQ(driver->connect(), c.error);
        EXPECT_FALSE(driver->isConnected());
        EXPECT_TRUE(released(camera));
        camera.busyOnOpen = camera.busy = false;
        camera.refusals.clear();
    }
    ASSERT_EQ(driver->connect(), 0);
    ASSERT_FALSE(driver->grab().empty());
    driver->disconnect();
    EXPECT_TRUE(released(camera) && driver->grab().empty());

    ASSERT_EQ(driver->connect(), 0);
    ASSERT_FALSE(driver->grab().empty());
    camera.unplug();
    EXPECT_TRUE(driver->grab().empty() && driver->grab().empty());
    ASSERT_EQ(errors.size(), 1u) << "the loss is reported once";
    EXPECT_EQ(errors[0].first, ENODEV);
    EXPECT_NE(driver->setFormat({BI_RGB, 24, 176, 144}), 0);
    EXPECT_TRUE(camera.mappedBuffers == 0 && io->openDescriptors() == 0
                && captureDrivers().empty());
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
        EXPECT_TRUE(driver->grab().empty() && driver->grab().empty());
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
        std::uint32_t n = 0; // 0 for an empty grab
        std::memcpy(&n, frame.bytes.data(), frame.empty() ? 0 : sizeof n);
        return n;
    };
    camera.deliverFrames(3);
    EXPECT_EQ(sequence(driver->grab()), 3u);
    // The older frames went back to the camera: a full set of buffers takes the next ones.
    camera.deliverFrames(int(V4l2Driver::kBufferCount) - 1);
    EXPECT_EQ(sequence(driver->grab()), 3u + V4l2Driver::kBufferCount - 1);
    EXPECT_TRUE(driver->grab().empty()) << "nothing new arrived";
    EXPECT_EQ(camera.lastPollTimeoutMs, kGrabWaitMs) << "the wait for it is bounded";
}

TEST_F(V4l2DriverTest, FormatsAndControlsAreSetToTheNearestTheDeviceOffersForReal)
{
    // A format we cannot decode is never offered, not even when the device starts in it.
    fake::FakeDeviceProfile profile = fake::uvcCamera("Cam", 0);
    profile.formats.insert(profile.formats.begin(), {V4L2_PIX_FMT_H264, {{640, 480}}});
    fake::FakeDevice &camera = io->addDevice(profile);
    auto driver = firstDriver();
    EXPECT_EQ(driver->formats().size(), 5u + 4u) << "YUY2 and MJPG sizes only";
    EXPECT_EQ(driver->format(), (VideoFormat {FOURCC_YUY2, 16, 640, 480}));
    ASSERT_EQ(driver->setFormat({BI_RGB, 24, 176, 144}), 0);
    EXPECT_EQ(std::pair(driver->format(), camera.width),
              std::pair(VideoFormat {FOURCC_YUY2, 16, 176, 144}, 176u));
    ASSERT_EQ(driver->setFormat({FOURCC_MJPG, 24, 1000, 700}), 0);
    EXPECT_EQ(std::pair(driver->format(), camera.pixelFormat),
              std::pair(VideoFormat {FOURCC_MJPG, 24, 1280, 720}, V4L2_PIX_FMT_MJPEG));
    // Running again at once, so that the camera has frames by the next grab.
    EXPECT_TRUE(camera.streaming && !driver->grab().empty());

    // A device that answers a request with another size is believed.
    camera.profile.formats[2].sizes = {{800, 600}};
    ASSERT_EQ(driver->setFormat({FOURCC_MJPG, 24, 640, 480}), 0);
    EXPECT_EQ(driver->format(), (VideoFormat {FOURCC_MJPG, 24, 800, 600}));

    // Disabled controls are left out; values are brought into the control's range.
    EXPECT_EQ(driver->controls().size(), 7u);
    EXPECT_EQ(driver->setControl(V4L2_CID_BRIGHTNESS, 1000), 0);
    EXPECT_EQ(
        std::pair(camera.controlValues[V4L2_CID_BRIGHTNESS], driver->control(V4L2_CID_BRIGHTNESS)),
        std::pair(64, std::optional(64)));
    EXPECT_NE(driver->setControl(V4L2_CID_EXPOSURE_ABSOLUTE, 100), 0);
}

// Every device code with padded rows: the fake's layout checked, the frame decoded upright.
TEST_F(V4l2DriverTest, EveryDeviceCodeArrivesAsItsRowsFrame)
{
    constexpr int w = 8, h = 6, pad = 9;
    // Bytes (within 3, under a mask) of the red top-left and blue bottom-left pixels or samples.
    struct Sample
    {
        std::size_t offset;
        int value;
        int mask = 0xFF;
    };
    const std::size_t l24 = 3 * w + pad, l32 = 4 * w + pad, l16 = 2 * w + pad, lyuv = 2 * w + pad;
    const std::size_t ly = w + pad, c = ly * h; // luma rows, and where chroma starts
    const std::uint32_t nv21 = makeFourCC('N', 'V', '2', '1');
    const struct
    {
        std::uint32_t code, compression;
        std::uint16_t bits;
        std::vector<Sample> samples;
    } cases[] = {
        // clang-format off
        {V4L2_PIX_FMT_BGR24, BI_RGB, 24, {{0, 0x20}, {2, 0xE0}, {5 * l24, 0xE0}, {5 * l24 + 2, 0x20}}},
        {V4L2_PIX_FMT_RGB24, BI_RGB, 24, {{0, 0xE0}, {2, 0x20}, {5 * l24, 0x20}, {5 * l24 + 2, 0xE0}}},
        {V4L2_PIX_FMT_XBGR32, BI_RGB, 32, {{0, 0x20}, {2, 0xE0}, {5 * l32, 0xE0}, {5 * l32 + 2, 0x20}}},
        {V4L2_PIX_FMT_ABGR32, BI_RGB, 32, {{2, 0xE0}, {5 * l32, 0xE0}}},
        {V4L2_PIX_FMT_BGR32, BI_RGB, 32, {{2, 0xE0}, {5 * l32, 0xE0}}},
        {V4L2_PIX_FMT_RGB555, BI_RGB, 16, {{0, 0x84}, {1, 0x70, 0x7F}, {5 * l16, 0x9C}, {5 * l16 + 1, 0x10, 0x7F}}},
        {V4L2_PIX_FMT_XRGB555, BI_RGB, 16, {{1, 0x70, 0x7F}, {5 * l16 + 1, 0x10, 0x7F}}},
        {V4L2_PIX_FMT_YUYV, FOURCC_YUY2, 16, {{0, 93}, {1, 100}, {3, 212}, {5 * lyuv, 62}, {5 * lyuv + 1, 212}}},
        {V4L2_PIX_FMT_UYVY, FOURCC_UYVY, 16, {{0, 100}, {1, 93}, {2, 212}, {5 * lyuv + 1, 62}}},
        {V4L2_PIX_FMT_NV12, FOURCC_NV12, 12, {{0, 93}, {5 * ly, 62}, {c, 100}, {c + 1, 212}, {c + 2 * ly, 212}}},
        {V4L2_PIX_FMT_NV21, nv21, 12, {{0, 93}, {c, 212}, {c + 1, 100}, {c + 2 * ly + 1, 212}}},
        {V4L2_PIX_FMT_YUV420, FOURCC_I420, 12, {{0, 93}, {c, 100}, {c + 5 * ((ly + 1) / 2), 115}}},
        {V4L2_PIX_FMT_MJPEG, FOURCC_MJPG, 24, {{0, 0xFF}, {1, 0xD8}}},
        {V4L2_PIX_FMT_JPEG, FOURCC_MJPG, 24, {{0, 0xFF}, {1, 0xD8}}},
        // clang-format on
    };
    std::size_t codes = 0;
    for (const FormatInfo &row : formatTable())
        codes += std::size_t(std::count_if(row.devices.begin(), row.devices.end(),
                                           [](const DeviceCode &d) { return d.code != 0; }));
    EXPECT_EQ(std::size(cases), codes) << "a case for every device code";
    for (const auto &k : cases) {
        SCOPED_TRACE(std::string(reinterpret_cast<const char *>(&k.code), 4));
        const VideoFormat format {k.compression, k.bits, w, h};
        fake::FakeDeviceProfile profile = fake::uvcCamera("Raw", 0);
        profile.formats = {{k.code, {{w, h}}}};
        profile.linePadding = pad;
        fake::FakeDevice &camera = io->addDevice(profile);
        const std::vector<std::uint8_t> &sent = camera.framePicture();
        for (const Sample &sample : k.samples) {
            ASSERT_LT(sample.offset, sent.size());
            EXPECT_NEAR(sent[sample.offset] & sample.mask, sample.value, 3) << sample.offset;
        }
        auto driver = firstDriver();
        EXPECT_EQ(driver->format(), format);
        const GrabbedFrame frame = driver->grab();
        ASSERT_FALSE(frame.empty());
        EXPECT_TRUE(!formatInfo(format)->raw() || frame.bytes.size() == *frameBytes(format));
        // The first pixels of the top row carry the fake's frame number: one further right.
        std::vector<std::uint8_t> bits(*frameBytes({BI_RGB, 24, w, h}));
        ASSERT_EQ(FrameDecoder().decode(format, frame.bytes, bits), ICERR_OK);
        EXPECT_TRUE(near(pixel(bits.data(), w, 0, w - 2), kBlue));
        EXPECT_TRUE(near(pixel(bits.data(), w, h - 1, w - 2), kRed));
        driver.reset();
        camera.unplug();
    }
}

TEST_F(V4l2DriverTest, BayerAndGreyscaleFramesAreConvertedWhereNoNativeFormatHasTheSize)
{
    for (const std::uint32_t code : {V4L2_PIX_FMT_SBGGR8, V4L2_PIX_FMT_SRGGB8, V4L2_PIX_FMT_GREY}) {
        SCOPED_TRACE(code);
        fake::FakeDeviceProfile profile = fake::uvcCamera("Sensor", 0);
        profile.formats = {{code, {{320, 240}, {640, 480}}}, {V4L2_PIX_FMT_YUYV, {{640, 480}}}};
        io->addDevice(profile);
        auto driver = firstDriver();
        const std::vector<VideoFormat> offered = driver->formats();
        const VideoFormat converted {BI_RGB, 24, 320, 240};
        EXPECT_EQ(offered, (std::vector<VideoFormat> {{FOURCC_YUY2, 16, 640, 480}, converted}));
        ASSERT_EQ(driver->setFormat(converted), 0);
        const GrabbedFrame frame = driver->grab();
        ASSERT_EQ(frame.bytes.size(), dibStride(320, 24) * 240);
        // Bottom-up: the red top band in the last memory rows, the blue one in the first.
        const Bgr top = pixel(frame.bytes.data(), 320, 200, 160);
        const Bgr bottom = pixel(frame.bytes.data(), 320, 40, 160);
        EXPECT_TRUE(code == V4L2_PIX_FMT_GREY ? top.b == top.g && top.g == top.r
                                              : near(top, kRed) && near(bottom, kBlue));
        driver.reset();
        setV4l2Io(io = std::make_shared<fake::FakeV4l2Io>());
    }
}

} // namespace
} // namespace capturetest
