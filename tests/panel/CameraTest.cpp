// Camera start and stop, device discovery and selection, on virtual cameras.

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <vector>

#include "automation/frmWebCam.h"
#include "automation/zozEZUdeZid.h"
#include "capture/FormatNegotiation.h"
#include "capture/clsImages.h"
#include "exchange/modImageMemMapFunctions.h"
#include "platform/capture/CaptureWindow.h"
#include "platform/capture/FormatTable.h"
#include "platform/capture/VirtualCamera.h"
#include "support/CRegSettings.h"
#include "support/PanelTestAccess.h"
#include "support/TestEnvironment.h"
#include "support/TraceCapture.h"
#include "support/cDibSection.h"

namespace {

namespace vfw = platform::vfw;
using vfw::VideoFormat;
using vfw::VirtualCameraConfig;

VideoFormat rgb24(int width, int height)
{
    return {vfw::BI_RGB, 24, width, height};
}

VirtualCameraConfig camera(std::vector<VideoFormat> formats, std::string name = {})
{
    VirtualCameraConfig config;
    config.formats = std::move(formats);
    config.name = std::move(name);
    return config;
}

void save(const char *key, const QString &value)
{
    CRegSettings().SaveSetting(QStringLiteral("Defaults"), QString::fromLatin1(key), value);
}

// ---------------------------------------------------------------------------------------------
// Pure rules

// A driver that offers only the sizes listed, in 24-bit rows, and reports the nearest it has.
struct RecordingDriver
{
    std::vector<QSize> offered;
    std::vector<QSize> asked;

    vfw::BITMAPINFO operator()(const vfw::BITMAPINFO &wanted)
    {
        asked.emplace_back(wanted.bmiHeader.biWidth, wanted.bmiHeader.biHeight);
        QSize best = offered.front();
        for (const QSize &size : offered) {
            if (std::abs(size.width() - wanted.bmiHeader.biWidth)
                < std::abs(best.width() - wanted.bmiHeader.biWidth))
                best = size;
        }
        vfw::BITMAPINFO reported = wanted;
        reported.bmiHeader.biWidth = best.width();
        reported.bmiHeader.biHeight = best.height();
        return reported;
    }
};

TEST(FormatNegotiation, AttemptsFollowTheDestinationAndTheScalingRule)
{
    struct Case
    {
        const char *name;
        std::vector<QSize> offered;
        std::int32_t windowPos;
        bool mustScale;
        std::vector<QSize> asked;
        QSize result;
        bool useScaling;
    };
    const Case cases[] = {
        {"takes 176x144", {{176, 144}, {640, 480}}, 8, false, {{176, 144}}, {176, 144}, false},
        {"640x480 only",
         {{640, 480}},
         8,
         false,
         {{176, 144}, {176, 144}, {160, 120}, {320, 240}},
         {640, 480},
         true},
        {"640x480 only, must scale", {{640, 480}}, 8, true, {{640, 480}}, {640, 480}, true},
        {"640x480 only, white board", {{640, 480}}, 24, false, {{640, 480}}, {640, 480}, false},
        {"320x240 and larger",
         {{320, 240}, {640, 480}},
         8,
         false,
         {{176, 144}, {176, 144}, {160, 120}},
         {320, 240},
         true},
    };
    for (const Case &c : cases) {
        RecordingDriver driver {c.offered, {}};
        vfw::BITMAPINFO reported {};
        reported.bmiHeader.biWidth = c.offered.front().width();
        reported.bmiHeader.biHeight = c.offered.front().height();
        reported.bmiHeader.biBitCount = 16;
        const capture::Negotiated result
            = capture::negotiateFormat(reported, c.windowPos, c.mustScale,
                                       [&](const vfw::BITMAPINFO &w) { return driver(w); });
        EXPECT_EQ(driver.asked, c.asked) << c.name;
        EXPECT_EQ(QSize(result.format.bmiHeader.biWidth, result.format.bmiHeader.biHeight),
                  c.result)
            << c.name;
        EXPECT_EQ(result.format.bmiHeader.biBitCount, 24) << c.name;
        EXPECT_EQ(result.UseScaling, c.useScaling) << c.name;
    }
}

TEST(FitPicture, LargePicturesShrinkWithTheirAspectRatioHalvesToEven)
{
    struct Case
    {
        int width, height, fittedWidth, fittedHeight;
    };
    for (const Case &c :
         {Case {100, 80, 100, 80}, Case {176, 144, 176, 144}, Case {320, 240, 176, 132},
          Case {300, 600, 72, 144}, Case {400, 300, 176, 132}, Case {352, 145, 176, 72},
          Case {1000, 700, 176, 123}, Case {180, 144, 176, 141}}) {
        const capture::FittedSize fitted = capture::fitPictureSize(c.width, c.height);
        EXPECT_EQ(QSize(fitted.width, fitted.height), QSize(c.fittedWidth, c.fittedHeight))
            << c.width << "x" << c.height;
    }
}

// ---------------------------------------------------------------------------------------------
// The frame and error callbacks on a real capture window

class Callbacks : public testenv::TraceCaptureTest
{
protected:
    void TearDown() override
    {
        vfw::VirtualCameras::reset();
        TraceCaptureTest::TearDown();
    }
};

TEST_F(Callbacks, FrameCallbackCopiesWholeFramesAndRefusesBrokenHeaders)
{
    vfw::VirtualCameras::configure({camera({rgb24(176, 144)})});
    CreateCapturedFrame();
    clsImages &record = *CapturedFrame();
    record.FrameBytes = 0;
    // A real grab through a capture window fills the record with the whole frame.
    const vfw::HWND window = vfw::capCreateCaptureWindowA("test", 0, 0, 0, 176, 144, 0, 0);
    ASSERT_NE(vfw::SendMessageA(window, vfw::WM_CAP_DRIVER_CONNECT, 0, 0), 0);
    vfw::SendMessageA(window, vfw::WM_CAP_SET_CALLBACK_FRAME, 0,
                      reinterpret_cast<std::intptr_t>(&MyFrameCallBack));
    ASSERT_NE(vfw::SendMessageA(window, vfw::WM_CAP_GRAB_FRAME, 0, 0), 0);
    EXPECT_EQ(record.FrameBytes, 176 * 144 * 3);
    EXPECT_EQ(record.FrameData.size(), std::size_t(176 * 144 * 3));
    EXPECT_TRUE(record.FrameFlags & vfw::VHDR_KEYFRAME);
    const std::vector<std::uint8_t> grabbed = record.FrameData;

    // Headers that carry no usable frame leave the record as it is.
    vfw::VIDEOHDR empty {};
    empty.lpData = 1234;
    vfw::VIDEOHDR noData {};
    noData.dwBytesUsed = 16;
    vfw::VIDEOHDR forged {};
    forged.lpData = 0x7fff0000;
    forged.dwBytesUsed = 16;
    vfw::VIDEOHDR negative {};
    negative.lpData = 1234;
    negative.dwBytesUsed = 0x80000000;
    const vfw::VIDEOHDR *headers[] = {nullptr, &empty, &noData, &forged, &negative};
    for (const vfw::VIDEOHDR *header : headers) {
        EXPECT_EQ(MyFrameCallBack(window, header), 0);
        EXPECT_EQ(record.FrameBytes, 176 * 144 * 3);
        EXPECT_EQ(record.FrameData, grabbed);
    }
    vfw::DestroyWindow(window);
    record.FrameBytes = 0;
}

TEST_F(Callbacks, ErrorCallbackTracesTheDriversTextCutToItsBuffer)
{
    const std::string longText(600, 'e');
    MyErrorCallback(7, 0, "cleared");
    MyErrorCallback(7, 3, longText.c_str());
    MyErrorCallback(7, 4, nullptr);
    EXPECT_EQ(captured(),
              "WebCam MyErrorCallback - Error:0\n"
              "WebCam MyErrorCallback - Error:3\n"
              "WebCam MyErrorCallback - Before lstrCpy\n"
              "WebCam MyErrorCallback - After lstrCpy\n"
              "WebCam MyErrorCallback - Error:"
                  + std::string(509, 'e')
                  + "\n"
                    "WebCam MyErrorCallback - Error:4\n"
                    "WebCam MyErrorCallback - Before lstrCpy\n");
}

// ---------------------------------------------------------------------------------------------
// The panel's camera

class Camera : public ::testing::Test
{
protected:
    void SetUp() override { testenv::removeRegistry(); }
    void TearDown() override
    {
        object.reset();
        vfw::VirtualCameras::reset();
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    }

    // A panel on the given cameras, shown on the webcam tab with the device chosen.
    void start(std::vector<VirtualCameraConfig> cameras, const char *device = "0")
    {
        vfw::VirtualCameras::configure(std::move(cameras));
        if (device)
            save("WebCamDevice", QString::fromLatin1(device));
        object = std::make_unique<zozEZUdeZid>();
        panel = object->form()->WebCam();
        view = std::make_unique<PanelTestAccess>(panel);
        object->Show();
        object->Maximize();
        object->setCurrentTab(1);
    }
    void press(const char *control, Qt::MouseButton button = Qt::LeftButton)
    {
        QTest::mouseClick(view->widget(control), button, {}, QPoint(5, 5));
    }
    // Dark pixels of the preview in a band of rows: where painted text lies.
    int inkInRows(int top, int bottom) const
    {
        const QImage image = view->box("picWebCam")->Image();
        int ink = 0;
        for (int y = top; y < bottom; ++y)
            for (int x = 0; x < image.width(); ++x)
                ink += qGray(image.pixel(x, y)) < 128 ? 1 : 0;
        return ink;
    }

    std::unique_ptr<zozEZUdeZid> object;
    cveDerEve *panel = nullptr;
    std::unique_ptr<PanelTestAccess> view;
};

TEST_F(Camera, PlayStartsADriverThatTakes176By144AsItIs)
{
    start({camera({rgb24(176, 144), rgb24(640, 480)})});
    ASSERT_TRUE(view->image("imgCamOnMain")->isVisibleTo(panel));
    press("imgCamOnMain");
    const CaptureSession &capture = view->capture();
    ASSERT_TRUE(capture.CameraOn());
    EXPECT_NE(capture.lwndc(), 0);
    EXPECT_FALSE(capture.Compressed());
    EXPECT_FALSE(capture.UseScaling());
    EXPECT_EQ(QSize(capture.CapWidth(), capture.CapHeight()), QSize(176, 144));
    EXPECT_EQ(capture.PrevCap()->TotalBytes(), 76032);
    EXPECT_TRUE(view->menu(u"mnuDevices(0)")->Caption.endsWith(QStringLiteral(" (176x144)")));
    EXPECT_TRUE(view->tmrMain().Enabled());
    EXPECT_EQ(view->tmrMain().Interval(), 120);
    // Play is down, Pause is up.
    EXPECT_FALSE(view->image("imgCamOnMain")->isEnabled());
    EXPECT_TRUE(view->image("imgCamOffMain")->isEnabled());
    EXPECT_EQ(view->image("imgCamOnMain")->Picture(), view->image("ImgCamOn(1)")->Picture());
    EXPECT_EQ(view->image("imgCamOffMain")->Picture(), view->image("imgCamStop(1)")->Picture());

    // A second start passes through a stop: the caption's size is not repeated.
    press("imgCamOffMain");
    EXPECT_FALSE(view->capture().CameraOn());
    EXPECT_EQ(view->capture().lwndc(), 0);
    EXPECT_FALSE(view->tmrMain().Enabled());
    EXPECT_EQ(view->image("imgCamOnMain")->Picture(), view->image("ImgCamOn(0)")->Picture());
    press("imgCamOnMain");
    EXPECT_EQ(view->menu(u"mnuDevices(0)")->Caption.count(QStringLiteral("(176x144)")), 1);
}

TEST_F(Camera, DriversOfOtherSizesAndFormatsAreNegotiatedOrScaled)
{
    struct Case
    {
        const char *name;
        VideoFormat offered;
        QSize frames;
        bool useScaling, compressed;
    };
    const Case cases[] = {
        {"640x480 only", rgb24(640, 480), {640, 480}, true, false},
        {"MJPG 320x240 only", {vfw::FOURCC_MJPG, 24, 320, 240}, {320, 240}, true, true},
        {"YUY2 176x144 only", {vfw::FOURCC_YUY2, 16, 176, 144}, {176, 144}, false, true},
    };
    for (const Case &c : cases) {
        start({camera({c.offered})});
        press("imgCamOnMain");
        const CaptureSession &capture = view->capture();
        ASSERT_TRUE(capture.CameraOn()) << c.name;
        EXPECT_EQ(QSize(capture.CapWidth(), capture.CapHeight()), c.frames) << c.name;
        EXPECT_EQ(capture.UseScaling(), c.useScaling) << c.name;
        EXPECT_EQ(capture.Compressed(), c.compressed) << c.name;
        EXPECT_EQ(capture.FrameBitCount(), 24) << c.name;
        if (c.compressed) {
            EXPECT_NE(capture.m_HIC(), 0) << c.name;
            EXPECT_EQ(capture.FormatIn().bmiHeader.biCompression, c.offered.compression);
            EXPECT_EQ(capture.FormatOut().bmiHeader.biCompression, vfw::BI_RGB) << c.name;
            EXPECT_EQ(capture.FormatOut().bmiHeader.biSizeImage,
                      std::uint32_t(capture.PrevCap()->TotalBytes()))
                << c.name;
        }
        object.reset();
    }
}

TEST_F(Camera, RefusedConnectAndMissingHardwareArePaintedInThePreview)
{
    VirtualCameraConfig refusing = camera({rgb24(176, 144)}, "Busy Cam");
    refusing.refuseConnect = true;
    start({refusing});
    press("imgCamOnMain");
    EXPECT_FALSE(view->capture().CameraOn());
    EXPECT_EQ(view->capture().lwndc(), 0);
    // Four lines from y = 5: the second and the fourth carry text, the third is empty.
    const int lineHeight = QFontMetrics(view->box("picWebCam")->Font).height();
    EXPECT_GT(inkInRows(5, 5 + lineHeight), 0);
    EXPECT_GT(inkInRows(5 + lineHeight, 5 + 2 * lineHeight), 0);
    EXPECT_EQ(inkInRows(5 + 2 * lineHeight, 5 + 3 * lineHeight), 0);
    EXPECT_GT(inkInRows(5 + 3 * lineHeight, 5 + 4 * lineHeight), 0);
    EXPECT_EQ(inkInRows(5 + 4 * lineHeight, 144), 0);
    EXPECT_EQ(inkInRows(0, 5), 0);
    EXPECT_NEAR(view->box("picWebCam")->Font.pointSizeF(), 8.25 * 96 / cveDerEve::GetScreenDpi(),
                0.01);
    object.reset();

    // No camera and no picture, the choice of an earlier machine saved: three lines.
    start({}, "0");
    EXPECT_EQ(view->menu(u"mnuDevices(0)")->Caption, QStringLiteral("webcam driver not found"));
    press("imgCamOnMain");
    EXPECT_EQ(view->deviceCount(), 0);
    EXPECT_FALSE(view->capture().CameraOn());
    for (int line = 0; line < 3; ++line)
        EXPECT_GT(inkInRows(5 + line * lineHeight, 5 + (line + 1) * lineHeight), 0) << line;
    EXPECT_EQ(inkInRows(5 + 3 * lineHeight, 144), 0);
}

TEST_F(Camera, AFaultInsideAGrabIsSkippedAndThePanelGoesOn)
{
    VirtualCameraConfig faulting = camera({rgb24(176, 144)});
    faulting.faultInGrab = true;
    start({faulting});
    press("imgCamOnMain");
    ASSERT_TRUE(view->capture().CameraOn());
    platform::TraceSink::startCapture();
    view->tickMain();
    const std::string trace = platform::TraceSink::captured();
    platform::TraceSink::stopCapture();
    EXPECT_NE(trace.find("WebCam Exception encountered: -2147220991 Ecode:-1073741819"),
              std::string::npos);
    // Counted as an empty grab: the camera was restarted and runs.
    EXPECT_EQ(view->lastAttempt(), 1);
    EXPECT_TRUE(view->capture().CameraOn());
    EXPECT_TRUE(view->tmrMain().Enabled());
}

TEST_F(Camera, DeviceMenuListsDriversThenStoredPicturesAndPicksAStandardCamera)
{
    QTemporaryDir dir;
    const QString first = dir.filePath(QStringLiteral("first.png"));
    const QString gone = dir.filePath(QStringLiteral("gone.png"));
    const QString third = dir.filePath(QStringLiteral("sub/third.jpg"));
    QDir().mkpath(dir.filePath(QStringLiteral("sub")));
    QImage picture(320, 240, QImage::Format_RGB32);
    picture.fill(QColor(200, 40, 40));
    ASSERT_TRUE(picture.save(first) && picture.save(third, "JPG"));
    save("WebCamPic1", first);
    save("WebCamPic2", gone);
    save("WebCamPic3", third);
    // Nothing saved: the first camera whose description names the standard driver is chosen.
    start({camera({rgb24(176, 144)}, "Other Cam"),
           camera({rgb24(176, 144)}, "Cam A (microsoft WDM image capture)"),
           camera({rgb24(176, 144)}, "Cam B (Microsoft WDM Image Capture)")},
          nullptr);
    EXPECT_EQ(view->deviceIndex(), 1);
    EXPECT_EQ(CRegSettings().GetSetting("Defaults", "WebCamDevice"), QStringLiteral("1"));
    EXPECT_EQ(view->deviceCount(), 5);
    EXPECT_EQ(view->lastDriverIndex(), 2);
    EXPECT_TRUE(view->menu(u"mnuDevices(1)")->Checked);
    EXPECT_FALSE(view->menu(u"mnuDevices(2)")->Checked);
    // The deleted picture has no entry: the third moves up.
    EXPECT_EQ(view->menu(u"mnuDevices(3)")->Caption, QStringLiteral("first.png"));
    EXPECT_EQ(view->menu(u"mnuDevices(4)")->Caption, QStringLiteral("third.jpg"));
    EXPECT_EQ(view->menu(u"mnuDevices(4)")->Tag, third);
    EXPECT_TRUE(view->menu(u"mnuDevices(0)")->Tag.isEmpty());
}

TEST_F(Camera, ChoosingAPictureHoldsItAndAnnouncesItOnlyWhileTransmitting)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("me.png"));
    QImage picture(320, 240, QImage::Format_RGB32);
    picture.fill(QColor(20, 40, 220));
    ASSERT_TRUE(picture.save(path));
    save("WebCamPic1", path);
    start({camera({rgb24(176, 144)})});
    std::vector<std::int32_t> announced;
    QObject::connect(object->events(), &zozEZUdeZidEvents::WebCamSnapShot,
                     [&](QByteArray &, std::int32_t n) { announced.push_back(n); });

    const QString statusBefore = view->label("lblStatus")->Caption();
    view->menu(u"mnuDevices(1)")->Click();
    EXPECT_EQ(view->deviceIndex(), 1);
    EXPECT_FALSE(view->image("imgCamOnMain")->isVisibleTo(panel));
    ASSERT_NE(view->heldBlock(), 0u);
    EXPECT_NE(view->heldImageNumber(), 0);
    EXPECT_TRUE(announced.empty());
    EXPECT_EQ(view->label("lblStatus")->Caption(), statusBefore);
    EXPECT_TRUE(view->menu(u"mnuClearPic")->Visible);
    // The held block is a quality-70 JPEG of the fitted picture, destination 8.
    const auto header = view->heldHeader();
    ASSERT_EQ(header.size(), 24);
    EXPECT_EQ(modImageMemMapFunctions::GetHeaderField(
                  std::span(reinterpret_cast<const std::uint8_t *>(header.data()), 24), 20),
              8);
    // The preview shows it: blue in the middle, the white around the fitted 176 x 132.
    EXPECT_EQ(qBlue(view->box("picWebCam")->Image().pixel(88, 72)) > 180, true);

    object->setTransmitStatus(true);
    view->menu(u"mnuDevices(1)")->Click();
    ASSERT_EQ(announced.size(), 1u);
    EXPECT_EQ(announced.front(), view->heldImageNumber());
    EXPECT_EQ(view->label("lblStatus")->Caption(), QStringLiteral("[ Picture Sent ]"));

    // Back to the camera while it is off: it stays off, the buttons return.
    view->menu(u"mnuDevices(0)")->Click();
    EXPECT_FALSE(view->capture().CameraOn());
    EXPECT_TRUE(view->image("imgCamOnMain")->isVisibleTo(panel));
    // While it runs, choosing it again restarts it.
    press("imgCamOnMain");
    const std::int32_t firstWindow = view->capture().lwndc();
    view->menu(u"mnuDevices(0)")->Click();
    EXPECT_TRUE(view->capture().CameraOn());
    EXPECT_NE(view->capture().lwndc(), firstWindow);
}

TEST_F(Camera, SavedChoiceBeyondTheMenuMarksNothingAndSendsNothing)
{
    start({camera({rgb24(176, 144)})}, "5");
    EXPECT_EQ(view->deviceCount(), 1);
    EXPECT_FALSE(view->menu(u"mnuDevices(0)")->Checked);
    EXPECT_EQ(view->heldBlock(), 0u);
    // The webcam tab has no camera buttons for it, and a start does nothing.
    EXPECT_FALSE(view->image("imgCamOnMain")->isVisibleTo(panel));
}

} // namespace
