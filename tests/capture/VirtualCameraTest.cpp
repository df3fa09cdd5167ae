#include "CaptureTestSupport.h"

#include "platform/capture/Decompressor.h"
#include "platform/core/FaultGuard.h"

#include <cerrno>
#include <cstdlib>

namespace capturetest {
namespace {

class VirtualCameraTest : public CaptureTest
{
protected:
    ~VirtualCameraTest() override { unsetenv("VEDEREVE_VIRTUAL_CAMERAS"); }

    std::unique_ptr<CaptureDriver> connectedCamera(std::size_t index = 0)
    {
        std::vector<DriverEntry> drivers = captureDrivers();
        if (index >= drivers.size())
            return nullptr;
        std::unique_ptr<CaptureDriver> driver = drivers[index].open();
        return driver->connect() == 0 ? std::move(driver) : nullptr;
    }

    // The next frame of driver as a 24-bit bottom-up bitmap.
    static std::vector<std::uint8_t> picture(CaptureDriver &driver)
    {
        const VideoFormat format = driver.format();
        const GrabbedFrame frame = driver.grab();
        if (format.compression == BI_RGB)
            return {frame.bytes.begin(), frame.bytes.end()};
        std::vector<std::uint8_t> bits(*frameBytes({BI_RGB, 24, format.width, format.height}));
        FrameDecoder decoder;
        return decoder.decode(format, frame.bytes, bits) == ICERR_OK ? bits
                                                                     : std::vector<std::uint8_t>();
    }
};

double meanDifference(const std::vector<std::uint8_t> &a, const std::vector<std::uint8_t> &b)
{
    if (a.size() != b.size() || a.empty())
        return 1e9;
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        sum += std::abs(int(a[i]) - int(b[i]));
    return sum / double(a.size());
}

TEST_F(VirtualCameraTest, ParsesItsEnvironmentSyntax)
{
    auto cameras = VirtualCameras::parse("rgb24@176x144,rgb24@320x240;mjpg@640x480,stall,"
                                         "name=Desk cam;refuse,empty,errors,fault,unplug=3");
    ASSERT_TRUE(cameras);
    ASSERT_EQ(cameras->size(), 3u);
    EXPECT_EQ((*cameras)[0].formats,
              (std::vector<VideoFormat> {{BI_RGB, 24, 176, 144}, {BI_RGB, 24, 320, 240}}));
    EXPECT_EQ((*cameras)[1].formats, (std::vector<VideoFormat> {{FOURCC_MJPG, 24, 640, 480}}));
    EXPECT_TRUE((*cameras)[1].stall);
    EXPECT_EQ((*cameras)[1].name, "Desk cam");
    const VirtualCameraConfig &odd = (*cameras)[2];
    EXPECT_TRUE(odd.refuseConnect && odd.emptyFrames && odd.reportErrors && odd.faultInGrab);
    EXPECT_EQ(odd.unplugAfterGrabs, 3);
    EXPECT_TRUE(odd.formats.empty()) << "the defaults apply";

    EXPECT_EQ(VirtualCameras::parse("2")->size(), 2u);
    EXPECT_EQ(VirtualCameras::parse("0")->size(), 0u);
    EXPECT_EQ(VirtualCameras::parse("")->size(), 1u);
    for (const char *bad : {"rgb24@176", "rgb24@177x144", "yuy2@0x0", "h264@640x480", "bogus",
                            "unplug=-1", "unplug=x", "11", "name=", "-1"})
        EXPECT_FALSE(VirtualCameras::parse(bad)) << bad;
}

TEST_F(VirtualCameraTest, StandsInOnlyWithoutCamerasUnlessAskedFor)
{
    auto names = [] { return driverNames(captureDrivers()); };
    unsetenv("VEDEREVE_VIRTUAL_CAMERAS");
    VirtualCameras::reset();
    EXPECT_EQ(names(), (std::vector<std::string> {"VEDerEve Virtual Camera 1"}));
    addCamera("Cam", 0);
    EXPECT_EQ(names(), (std::vector<std::string> {"Cam (Microsoft WDM Image Capture)"}));

    setenv("VEDEREVE_VIRTUAL_CAMERAS", "2", 1);
    VirtualCameras::reset();
    EXPECT_EQ(
        names(),
        (std::vector<std::string> {"Cam (Microsoft WDM Image Capture)", "VEDerEve Virtual Camera 1",
                                   "VEDerEve Virtual Camera 2"}));
    VirtualCameras::configure({VirtualCameraConfig {"Mine", {}}});
    EXPECT_EQ(names(), (std::vector<std::string> {"Cam (Microsoft WDM Image Capture)", "Mine"}))
        << "the program's configuration wins over the environment";
    setenv("VEDEREVE_VIRTUAL_CAMERAS", "nonsense", 1);
    VirtualCameras::reset();
    EXPECT_EQ(names(), (std::vector<std::string> {"Cam (Microsoft WDM Image Capture)"}));
}

TEST_F(VirtualCameraTest, MisbehavesOnRequest)
{
    VirtualCameraConfig refuse, empty, stall, unplug;
    refuse.refuseConnect = true;
    empty.emptyFrames = true;
    stall.stall = true;
    unplug.unplugAfterGrabs = 2;
    VirtualCameras::configure({refuse, empty, stall, unplug});
    const HWND hwnd = newWindow();
    EXPECT_EQ(SendMessageA(hwnd, WM_CAP_DRIVER_CONNECT, 0, 0), 0);
    for (int index : {1, 2}) {
        ASSERT_EQ(SendMessageA(hwnd, WM_CAP_DRIVER_CONNECT, index, 0), 1);
        EXPECT_EQ(SendMessageA(hwnd, WM_CAP_GRAB_FRAME, 0, 0), 0) << index;
    }
    ASSERT_EQ(SendMessageA(hwnd, WM_CAP_DRIVER_CONNECT, 3, 0), 1);
    EXPECT_EQ(SendMessageA(hwnd, WM_CAP_GRAB_FRAME, 0, 0), 1);
    EXPECT_EQ(SendMessageA(hwnd, WM_CAP_GRAB_FRAME, 0, 0), 1);
    EXPECT_EQ(SendMessageA(hwnd, WM_CAP_GRAB_FRAME, 0, 0), 0);
    EXPECT_EQ(SendMessageA(hwnd, WM_CAP_GRAB_FRAME, 0, 0), 0);
    EXPECT_EQ(captureDrivers().size(), 3u) << "the unplugged camera is no longer listed";

    // Unplugged from outside: the listing shrinks and nothing connects to it.
    VirtualCameras::configure({VirtualCameraConfig {}});
    ASSERT_EQ(SendMessageA(hwnd, WM_CAP_DRIVER_CONNECT, 0, 0), 1);
    auto stale = captureDrivers().front().open;
    VirtualCameras::unplug(0);
    EXPECT_EQ(SendMessageA(hwnd, WM_CAP_GRAB_FRAME, 0, 0), 0);
    EXPECT_TRUE(captureDrivers().empty());
    EXPECT_EQ(stale()->connect(), -ENODEV);
}

TEST_F(VirtualCameraTest, FaultInsideAGrabIsARealFault)
{
    VirtualCameraConfig config;
    config.faultInGrab = true;
    VirtualCameras::configure({config});
    const HWND hwnd = connected();
    ASSERT_TRUE(platform::FaultGuard::install());
    std::uint32_t code = 0;
    const bool completed
        = platform::FaultGuard::run([&] { SendMessageA(hwnd, WM_CAP_GRAB_FRAME, 0, 0); }, &code);
    platform::FaultGuard::remove();
    EXPECT_FALSE(completed);
    EXPECT_EQ(code, 0xC0000005u);
    // The window is untouched by the jump.
    EXPECT_EQ(SendMessageA(hwnd, WM_CAP_DRIVER_DISCONNECT, 0, 0), 1);
    EXPECT_TRUE(DestroyWindow(hwnd));
}

TEST_F(VirtualCameraTest, PictureIsLiveAndTellsCamerasApart)
{
    VirtualCameras::configure({VirtualCameraConfig {}, VirtualCameraConfig {}});
    auto first = connectedCamera(0);
    auto second = connectedCamera(1);
    ASSERT_TRUE(first && second);
    const std::vector<std::uint8_t> a = picture(*first), b = picture(*second);
    EXPECT_GT(meanDifference(a, b), 10) << "another camera, another picture";
    EXPECT_GT(meanDifference(a, picture(*first)), 0.5) << "the next frame moved on";
}

TEST_F(VirtualCameraTest, ControlsVisiblyChangeThePicture)
{
    VirtualCameras::configure({VirtualCameraConfig {}});
    auto camera = connectedCamera();
    ASSERT_TRUE(camera);
    ASSERT_EQ(camera->controls().size(), 4u);
    const std::vector<std::uint8_t> plain = picture(*camera);
    for (const auto &[id, value] :
         {std::pair {kVirtualBrightness, 80}, std::pair {kVirtualContrast, 30},
          std::pair {kVirtualMirror, 1}, std::pair {kVirtualPattern, 1}}) {
        // The same frame number again, so that only the control differs.
        camera->disconnect();
        ASSERT_EQ(camera->connect(), 0);
        ASSERT_EQ(camera->setControl(id, value), 0);
        EXPECT_EQ(camera->control(id), value);
        EXPECT_GT(meanDifference(plain, picture(*camera)), 10) << id;
        const DriverControl control = camera->controls()[id - 1];
        camera->setControl(id, control.defaultValue);
    }
    EXPECT_EQ(camera->setControl(99, 1), -EINVAL);
}

TEST_F(VirtualCameraTest, EveryFormatShowsTheSamePicture)
{
    std::vector<std::uint8_t> reference;
    for (const VideoFormat &format :
         {VideoFormat {BI_RGB, 24, 320, 240}, VideoFormat {FOURCC_YUY2, 16, 320, 240},
          VideoFormat {FOURCC_UYVY, 16, 320, 240}, VideoFormat {FOURCC_NV12, 12, 320, 240},
          VideoFormat {FOURCC_I420, 12, 320, 240}, VideoFormat {FOURCC_MJPG, 24, 320, 240}}) {
        VirtualCameras::configure({VirtualCameraConfig {"Same", {format}}});
        auto camera = connectedCamera();
        ASSERT_TRUE(camera);
        const std::vector<std::uint8_t> bits = picture(*camera);
        if (reference.empty())
            reference = bits;
        EXPECT_LT(meanDifference(reference, bits), 6) << format.compression;
    }
}

} // namespace
} // namespace capturetest
