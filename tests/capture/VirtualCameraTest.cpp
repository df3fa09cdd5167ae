#include "CaptureTestSupport.h"

#include <cstdlib>
#include <numeric>

namespace capturetest {
namespace {

class VirtualCameraTest : public CaptureTest
{
protected:
    ~VirtualCameraTest() override { unsetenv("VEDEREVE_VIRTUAL_CAMERAS"); }

    // The next frame of driver as a 24-bit bottom-up bitmap.
    static std::vector<std::uint8_t> picture(CaptureDriver &driver)
    {
        const VideoFormat format = driver.format();
        const GrabbedFrame frame = driver.grab();
        std::vector<std::uint8_t> bits(*frameBytes({BI_RGB, 24, format.width, format.height}));
        return FrameDecoder().decode(format, frame.bytes, bits) == ICERR_OK ? bits
                                                                            : decltype(bits)();
    }
};

double meanDifference(const std::vector<std::uint8_t> &a, const std::vector<std::uint8_t> &b)
{
    if (a.size() != b.size() || a.empty())
        return 1e9;
    return std::transform_reduce(a.begin(), a.end(), b.begin(), 0.0, std::plus<>(),
                                 [](int x, int y) { return std::abs(x - y); })
        / double(a.size());
}

TEST_F(VirtualCameraTest, ParsesItsEnvironmentSyntax)
{
    auto cameras = VirtualCameras::parse("rgb24@176x144,rgb24@320x240;mjpg@640x480,stall,"
                                         "name=Desk cam;refuse,empty,errors,fault,unplug=3");
    ASSERT_TRUE(cameras && cameras->size() == 3);
    EXPECT_EQ((*cameras)[0].formats,
              (std::vector<VideoFormat> {{BI_RGB, 24, 176, 144}, {BI_RGB, 24, 320, 240}}));
    const VirtualCameraConfig &desk = (*cameras)[1], &odd = (*cameras)[2];
    EXPECT_EQ(desk.formats, (std::vector<VideoFormat> {{FOURCC_MJPG, 24, 640, 480}}));
    EXPECT_TRUE(desk.stall && desk.name == "Desk cam");
    EXPECT_TRUE(odd.refuseConnect && odd.emptyFrames && odd.reportErrors && odd.faultInGrab
                && odd.unplugAfterGrabs == 3);
    for (const FormatInfo &row : formatTable()) { // each row by its own name
        const auto named = VirtualCameras::parse(std::string(row.name) + "@320x240");
        ASSERT_TRUE(named) << row.name;
        EXPECT_EQ(named->front().formats, std::vector<VideoFormat> {row.at(320, 240)});
    }
    EXPECT_TRUE(VirtualCameras::parse("2")->size() == 2 && VirtualCameras::parse("")->size() == 1);
    for (const char *bad : {"rgb24@176", "rgb24@177x144", "yuy2@0x0", "h264@640x480", "bogus",
                            "unplug=-1", "unplug=x", "11", "name=", "-1"})
        EXPECT_FALSE(VirtualCameras::parse(bad)) << bad;
}

TEST_F(VirtualCameraTest, ListedOnlyWhenAskedFor)
{
    unsetenv("VEDEREVE_VIRTUAL_CAMERAS");
    VirtualCameras::reset();
    EXPECT_TRUE(driverNames().empty()) << "no test picture nobody asked for";
    setenv("VEDEREVE_VIRTUAL_CAMERAS", "2", 1);
    VirtualCameras::reset();
    EXPECT_EQ(
        driverNames(),
        (std::vector<std::string> {"VEDerEve Virtual Camera 1", "VEDerEve Virtual Camera 2"}));
    VirtualCameras::configure({VirtualCameraConfig {"Mine", {}}});
    EXPECT_EQ(driverNames(), std::vector<std::string> {"Mine"})
        << "the program's configuration wins over the environment";
    setenv("VEDEREVE_VIRTUAL_CAMERAS", "nonsense", 1);
    VirtualCameras::reset();
    EXPECT_TRUE(driverNames().empty());
}

TEST_F(VirtualCameraTest, PictureIsLiveAndTellsCamerasApart)
{
    VirtualCameras::configure({VirtualCameraConfig {}, VirtualCameraConfig {}});
    auto first = captureDrivers().at(0).open(), second = captureDrivers().at(1).open();
    ASSERT_TRUE(first->connect() == 0 && second->connect() == 0);
    const std::vector<std::uint8_t> a = picture(*first);
    EXPECT_GT(meanDifference(a, picture(*second)), 10) << "another camera, another picture";
    picture(*first);
    const std::vector<std::uint8_t> third = picture(*first);
    EXPECT_GT(meanDifference(a, third), 0.5) << "the picture moves";
    // Frames drawn over the one before equal the same frame drawn whole after a change of size.
    first->disconnect();
    ASSERT_EQ(first->connect(), 0);
    ASSERT_EQ(first->setFormat({BI_RGB, 24, 320, 240}), 0);
    picture(*first);
    picture(*first);
    ASSERT_EQ(first->setFormat({BI_RGB, 24, 176, 144}), 0);
    EXPECT_EQ(picture(*first), third);
}

} // namespace
} // namespace capturetest
