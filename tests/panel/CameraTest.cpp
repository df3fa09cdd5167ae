// Camera start, device discovery and choice, and the capture callbacks, on virtual cameras.

#include <QTemporaryDir>

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "PanelDriver.h"
#include "capture/FormatNegotiation.h"
#include "capture/clsImages.h"
#include "platform/capture/FormatTable.h"
#include "support/TraceCapture.h"
#include "support/cDibSection.h"

namespace {

namespace vfw = platform::vfw;
using namespace paneltest;

TEST(FormatNegotiation, AttemptsFollowTheDestinationAndTheScalingRule)
{
    // The driver takes the offered size of the nearest width; the first one offered is reported.
    const QSize cif(176, 144), qqvga(160, 120), qvga(320, 240), vga(640, 480), wide(192, 144),
        high(176, 160);
    const std::tuple<std::vector<QSize>, std::int32_t, bool, std::vector<QSize>, bool> cases[] = {
        {{cif, vga}, 8, false, {cif}, false},
        // Too wide or too high alone is too big: asked down, else scaled.
        {{wide, qqvga}, 8, false, {cif, cif, qqvga}, false},
        {{wide}, 8, false, {cif, cif, qqvga}, true},
        {{high}, 8, false, {cif, cif, qqvga}, true},
        {{vga}, 8, false, {cif, cif, qqvga, qvga}, true},
        {{qvga, vga}, 8, false, {cif, cif, qqvga}, true},
        {{vga}, 8, true, {vga}, true},
        {{vga}, 24, false, {vga}, false}, // the white board takes what the driver has
    };
    for (const auto &[offered, windowPos, mustScale, expected, useScaling] : cases) {
        SCOPED_TRACE(testing::Message() << offered.size() << " sizes, " << windowPos);
        std::vector<QSize> asked;
        const auto driver = [&](vfw::BITMAPINFO format) {
            QSize &size = asked.emplace_back(format.bmiHeader.biWidth, format.bmiHeader.biHeight);
            const QSize best = *std::min_element(
                offered.begin(), offered.end(), [&](QSize a, QSize b) {
                    return std::abs(a.width() - size.width()) < std::abs(b.width() - size.width());
                });
            format.bmiHeader.biWidth = best.width();
            format.bmiHeader.biHeight = best.height();
            return format;
        };
        vfw::BITMAPINFO reported {};
        reported.bmiHeader.biWidth = offered[0].width();
        reported.bmiHeader.biHeight = offered[0].height();
        reported.bmiHeader.biBitCount = 16;
        const auto result = capture::negotiateFormat(reported, windowPos, mustScale, driver);
        EXPECT_EQ(asked, expected);
        EXPECT_EQ(result.format.bmiHeader.biBitCount, 24);
        EXPECT_EQ(result.UseScaling, useScaling);
    }
}

TEST(FitPicture, LargePicturesShrinkWithTheirAspectRatioHalvesToEven)
{
    const int cases[][4] = {{100, 80, 100, 80},  {320, 240, 176, 132},  {300, 600, 72, 144},
                            {352, 145, 176, 72}, {1000, 700, 176, 123}, {180, 144, 176, 141}};
    for (const auto &[width, height, fittedWidth, fittedHeight] : cases) {
        const capture::FittedSize fitted = capture::fitPictureSize(width, height);
        EXPECT_EQ(QSize(fitted.width, fitted.height), QSize(fittedWidth, fittedHeight))
            << width << "x" << height;
    }
}

using Callbacks = testenv::TraceCaptureTest;

TEST_F(Callbacks, FrameCallbackIgnoresHeadersWithoutAUsableFrameAndErrorTextIsCut)
{
    CreateCapturedFrame();
    clsImages &record = *CapturedFrame();
    record.FrameData = {1, 2, 3};
    record.FrameBytes = 3;
    vfw::VIDEOHDR empty {}, noData {}, forged {}, negative {};
    empty.lpData = negative.lpData = 1234;
    noData.dwBytesUsed = forged.dwBytesUsed = 16;
    forged.lpData = 0x7fff0000; // no frame of a capture window lies there
    negative.dwBytesUsed = 0x80000000;
    const vfw::VIDEOHDR *headers[] = {nullptr, &empty, &noData, &forged, &negative};
    for (const vfw::VIDEOHDR *header : headers)
        EXPECT_EQ(MyFrameCallBack(0, header), 0);
    EXPECT_TRUE(record.FrameData == std::vector<std::uint8_t>({1, 2, 3}) && record.FrameBytes == 3);
    record.FrameBytes = 0; // as a tick leaves it, for the grabs of the tests that follow

    MyErrorCallback(7, 3, std::string(600, 'e').c_str());
    MyErrorCallback(7, 4, nullptr);
    EXPECT_TRUE(captured().ends_with("Error:" + std::string(509, 'e') + "\n"
                                     + "WebCam MyErrorCallback - Error:4\n"
                                     + "WebCam MyErrorCallback - Before lstrCpy\n"));
}

using Camera = paneltest::PanelTest;

// Every other test's default camera offers 176 x 144 among larger sizes and is taken as it is.
TEST_F(Camera, DriversOfOtherSizesAndFormatsAreScaledOrDecompressedIntoPrevCap)
{
    const vfw::VideoFormat vga {vfw::BI_RGB, 24, 640, 480}, mjpg {vfw::FOURCC_MJPG, 24, 320, 240},
        yuy2 {vfw::FOURCC_YUY2, 16, 176, 144};
    for (const auto &[offered, scaled] : {std::pair {vga, true}, {mjpg, true}, {yuy2, false}}) {
        SCOPED_TRACE(offered.compression);
        start(1, {{{}, {offered}}});
        click("imgCamOnMain");
        const CaptureSession &capture = view->capture();
        ASSERT_TRUE(capture.CameraOn());
        EXPECT_EQ(QSize(capture.CapWidth(), capture.CapHeight()),
                  QSize(offered.width, offered.height));
        EXPECT_EQ(capture.UseScaling(), scaled);
        EXPECT_EQ(capture.Compressed(), offered.compression != vfw::BI_RGB);
        // PrevCap holds 24-bit rows of the frame's size, which a decompressor fills exactly.
        EXPECT_EQ(capture.PrevCap()->TotalBytes(), offered.width * offered.height * 3);
        if (capture.Compressed()) {
            EXPECT_NE(capture.m_HIC(), 0);
            EXPECT_EQ(capture.FormatOut().bmiHeader.biSizeImage,
                      std::uint32_t(capture.PrevCap()->TotalBytes()));
        }
    }
}

// The thread's file-access capabilities off or back on: while off, mode bits apply to root too.
void fileAccessCapabilities(bool on)
{
    __user_cap_header_struct header {_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] {};
    ASSERT_EQ(::syscall(SYS_capget, &header, data), 0);
    const std::uint32_t access = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);
    data[0].effective
        = on ? data[0].effective | (access & data[0].permitted) : data[0].effective & ~access;
    ASSERT_EQ(::syscall(SYS_capset, &header, data), 0);
}

TEST_F(Camera, DeviceMenuListsDriversThenStoredPicturesAndPicksAStandardCamera)
{
    QTemporaryDir dir;
    const QString first = dir.filePath("first.png"), third = dir.filePath("sub/third.jpg");
    const QString locked = dir.filePath("locked.png");
    QDir().mkpath(dir.filePath("sub"));
    QImage picture(32, 24, QImage::Format_RGB32);
    picture.fill(Qt::red);
    ASSERT_TRUE(picture.save(first) && picture.save(third, "JPG") && picture.save(locked));
    ASSERT_TRUE(QFile::setPermissions(locked, {}));
    const QString saved[] = {first, dir.filePath("gone.png"), locked, third};
    for (int k = 1; k <= 4; ++k)
        save(QStringLiteral("WebCamPic%1").arg(k), saved[k - 1]);
    // Nothing saved: the first camera whose description names the standard driver is chosen.
    fileAccessCapabilities(false);
    start(1,
          {camera(176, 144, "Other Cam"), camera(176, 144, "Cam A (microsoft WDM image capture)"),
           camera(176, 144, "Cam B (Microsoft WDM Image Capture)")},
          nullptr);
    fileAccessCapabilities(true);
    EXPECT_EQ(std::tuple(view->deviceIndex(), setting("WebCamDevice"), view->deviceCount(),
                         view->menu(u"mnuDevices(1)")->Checked,
                         view->menu(u"mnuDevices(2)")->Checked),
              std::tuple(1, QStringLiteral("1"), 5, true, false));
    // The missing and the unreadable picture have no entry: the last one moves up.
    EXPECT_EQ(
        QStringList({view->menu(u"mnuDevices(3)")->Caption, view->menu(u"mnuDevices(4)")->Caption,
                     view->menu(u"mnuDevices(4)")->Tag}),
        QStringList({"first.png", "third.jpg", third}));
}

} // namespace
