#include "CaptureTestSupport.h"

#include "platform/capture/Decompressor.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>

#include <sys/mman.h>
#include <unistd.h>

#include <string>

namespace capturetest {
namespace {

// What the callbacks saw; they are plain functions, as the capture window expects.
struct Seen
{
    int frames = 0;
    bool duringGrab = false;
    VIDEOHDR header {};
    std::vector<std::uint8_t> bytes;
    std::vector<std::pair<std::int32_t, std::string>> errors;
    bool destroyFromCallback = false;
};
Seen seen;
bool grabbing = false;

std::int32_t onFrame(HWND hwnd, const VIDEOHDR *header)
{
    ++seen.frames;
    seen.duringGrab = grabbing;
    seen.header = *header;
    const std::uint8_t *bytes = frameAddress(header->lpData, header->dwBytesUsed);
    seen.bytes.assign(bytes, bytes ? bytes + header->dwBytesUsed : bytes);
    if (seen.destroyFromCallback)
        DestroyWindow(hwnd);
    return 0;
}

std::int32_t onError(HWND hwnd, std::int32_t number, const char *text)
{
    seen.errors.emplace_back(number, text);
    if (seen.destroyFromCallback)
        DestroyWindow(hwnd);
    return 0;
}

class CaptureWindowTest : public CaptureTest
{
protected:
    CaptureWindowTest() { seen = Seen(); }

    void useVirtualCamera(VirtualCameraConfig config = {})
    {
        VirtualCameras::configure({std::move(config)});
    }

    HWND withCallbacks(HWND hwnd)
    {
        SendMessageA(hwnd, WM_CAP_SET_CALLBACK_FRAME, 0,
                     address(reinterpret_cast<void *>(&onFrame)));
        SendMessageA(hwnd, WM_CAP_SET_CALLBACK_ERRORA, 0,
                     address(reinterpret_cast<void *>(&onError)));
        return hwnd;
    }

    std::intptr_t grab(HWND hwnd)
    {
        grabbing = true;
        const std::intptr_t result = SendMessageA(hwnd, WM_CAP_GRAB_FRAME, 0, 0);
        grabbing = false;
        return result;
    }
};

// A driver dialog provider that only records what it was asked to show.
struct RecordingDialogs final : DriverDialogs
{
    bool showFormatDialog(CaptureDriver &driver, std::int32_t) override
    {
        formats = driver.formats().size();
        return true;
    }
    bool showSourceDialog(CaptureDriver &driver, std::int32_t) override
    {
        controls = driver.controls().size();
        return true;
    }
    std::size_t formats = 0;
    std::size_t controls = 0;
};

TEST_F(CaptureWindowTest, GrabCallsTheFrameCallbackInsideWithAHeaderThatResolves)
{
    useVirtualCamera();
    const HWND hwnd = withCallbacks(connected());
    ASSERT_EQ(setVideoFormat(hwnd, BI_RGB, 24, 176, 144), 1);
    ASSERT_EQ(grab(hwnd), 1);
    ASSERT_EQ(seen.frames, 1);
    EXPECT_TRUE(seen.duringGrab);
    const VIDEOHDR h = seen.header;
    EXPECT_EQ(h.dwBytesUsed, 528u * 144);
    EXPECT_EQ(h.dwFlags, VHDR_DONE | VHDR_KEYFRAME);
    EXPECT_EQ(seen.bytes.size(), h.dwBytesUsed);

    // Only ranges inside the live frame resolve.
    EXPECT_NE(frameAddress(h.lpData + h.dwBytesUsed - 1, 1), nullptr);
    EXPECT_EQ(frameAddress(h.lpData, h.dwBytesUsed + 1), nullptr);
    EXPECT_EQ(frameAddress(h.lpData + h.dwBytesUsed, 0), nullptr);
    EXPECT_EQ(frameAddress(h.lpData - 1, 1), nullptr);
    EXPECT_EQ(frameAddress(0, 1), nullptr);
    EXPECT_EQ(frameAddress(h.lpData, std::size_t(-1)), nullptr);

    const std::vector<std::uint8_t> first = seen.bytes;
    ASSERT_EQ(grab(hwnd), 1);
    EXPECT_NE(seen.bytes, first) << "the picture moves";
    EXPECT_EQ(seen.header.lpData, h.lpData);
    EXPECT_EQ(SendMessageA(hwnd, WM_CAP_DRIVER_DISCONNECT, 0, 0), 1);
    EXPECT_EQ(frameAddress(h.lpData, 1), nullptr) << "no frame outlives its driver";
    EXPECT_EQ(grab(hwnd), 0);
    EXPECT_EQ(seen.frames, 2);
}

TEST_F(CaptureWindowTest, FormatMessagesNeverTrustTheirSizes)
{
    useVirtualCamera();
    const HWND hwnd = connected();
    BITMAPINFO info;
    auto fill = [&] { std::memset(&info, 0xA5, sizeof info); };
    auto untouchedFrom = [&](std::size_t offset) {
        const auto *bytes = reinterpret_cast<const std::uint8_t *>(&info);
        return std::all_of(bytes + offset, bytes + sizeof info, [](auto b) { return b == 0xA5; });
    };

    fill();
    EXPECT_EQ(SendMessageA(hwnd, WM_CAP_GET_VIDEOFORMAT, 10, address(&info)), 40);
    EXPECT_TRUE(untouchedFrom(10));
    EXPECT_EQ(info.bmiHeader.biWidth, 176);
    fill();
    EXPECT_EQ(SendMessageA(hwnd, WM_CAP_GET_VIDEOFORMAT, 100000, address(&info)), 40);
    EXPECT_TRUE(untouchedFrom(40)) << "the colour entry is not written";
    EXPECT_EQ(SendMessageA(hwnd, WM_CAP_GET_VIDEOFORMAT, 44, 0), 0);

    CAPSTATUS status;
    std::memset(&status, 0xA5, sizeof status);
    EXPECT_EQ(SendMessageA(hwnd, WM_CAP_GET_STATUS, 4, address(&status)), 1);
    EXPECT_EQ(status.uiImageWidth, 176u);
    EXPECT_EQ(status.uiImageHeight, 0xA5A5A5A5u);

    // A header shorter than its structure is refused; a long size reads 40 bytes only, even
    // when the header ends right before memory that cannot be read.
    info.bmiHeader = headerFor({BI_RGB, 24, 320, 240});
    EXPECT_EQ(SendMessageA(hwnd, WM_CAP_SET_VIDEOFORMAT, 20, address(&info)), 0);
    EXPECT_EQ(videoFormat(hwnd).biWidth, 176);
    EXPECT_EQ(SendMessageA(hwnd, WM_CAP_SET_VIDEOFORMAT, 44, 0), 0);
    const long page = sysconf(_SC_PAGESIZE);
    auto *memory
        = static_cast<std::uint8_t *>(mmap(nullptr, std::size_t(page) * 2, PROT_READ | PROT_WRITE,
                                           MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(memory, MAP_FAILED);
    ASSERT_EQ(mprotect(memory + page, std::size_t(page), PROT_NONE), 0);
    std::uint8_t *atEnd = memory + page - sizeof(BITMAPINFOHEADER);
    std::memcpy(atEnd, &info.bmiHeader, sizeof(BITMAPINFOHEADER));
    EXPECT_EQ(SendMessageA(hwnd, WM_CAP_SET_VIDEOFORMAT, 4096, address(atEnd)), 1);
    EXPECT_EQ(videoFormat(hwnd).biWidth, 320);
    munmap(memory, std::size_t(page) * 2);
}

TEST_F(CaptureWindowTest, SetVideoFormatSucceedsOnlyWhenTheRequestHolds)
{
    struct Case
    {
        const char *what;
        std::vector<VideoFormat> offered;
        VideoFormat asked;
        std::intptr_t result;
        VideoFormat after;
    };
    const VideoFormat vga {BI_RGB, 24, 640, 480};
    const VideoFormat mjpg {FOURCC_MJPG, 24, 640, 480};
    const Case cases[] = {
        {"offered", {}, {BI_RGB, 24, 176, 144}, 1, {BI_RGB, 24, 176, 144}},
        {"adjusted to the nearest size", {}, {BI_RGB, 24, 100, 100}, 0, {BI_RGB, 24, 176, 144}},
        {"only 640 x 480", {vga}, {BI_RGB, 24, 176, 144}, 0, vga},
        {"compressed only", {mjpg}, {BI_RGB, 24, 176, 144}, 0, mjpg},
        {"YUYV is YUY2", {}, {FOURCC_YUYV, 16, 320, 240}, 1, {FOURCC_YUY2, 16, 320, 240}},
    };
    for (const Case &c : cases) {
        VirtualCameraConfig config;
        config.formats = c.offered;
        useVirtualCamera(config);
        const HWND hwnd = connected();
        EXPECT_EQ(setVideoFormat(hwnd, c.asked.compression, c.asked.bitCount, c.asked.width,
                                 c.asked.height),
                  c.result)
            << c.what;
        EXPECT_EQ(formatFromHeader(videoFormat(hwnd)), c.after) << c.what;
        CAPSTATUS status;
        ASSERT_EQ(SendMessageA(hwnd, WM_CAP_GET_STATUS, sizeof status, address(&status)), 1);
        EXPECT_EQ(status.uiImageWidth, std::uint32_t(c.after.width)) << c.what;
        EXPECT_EQ(status.uiImageHeight, std::uint32_t(c.after.height)) << c.what;
    }
}

TEST_F(CaptureWindowTest, CapsAndDialogsDependOnTheDialogProvider)
{
    addCamera("Cam", 0);
    const HWND hwnd = connected();
    CAPDRIVERCAPS caps;
    ASSERT_EQ(SendMessageA(hwnd, WM_CAP_DRIVER_GET_CAPS, sizeof caps, address(&caps)), 1);
    EXPECT_EQ(caps.fCaptureInitialized, 1u);
    EXPECT_EQ(caps.fHasDlgVideoSource, 0u);
    EXPECT_EQ(caps.fHasDlgVideoFormat, 0u);
    EXPECT_EQ(SendMessageA(hwnd, WM_CAP_DLG_VIDEOFORMAT, 0, 0), 0);

    RecordingDialogs dialogs;
    setDriverDialogs(&dialogs);
    ASSERT_EQ(SendMessageA(hwnd, WM_CAP_DRIVER_GET_CAPS, sizeof caps, address(&caps)), 1);
    EXPECT_EQ(caps.fHasDlgVideoSource, 1u);
    EXPECT_EQ(caps.fHasDlgVideoFormat, 1u);
    EXPECT_EQ(SendMessageA(hwnd, WM_CAP_DLG_VIDEOFORMAT, 0, 0), 1);
    EXPECT_EQ(dialogs.formats, 9u);
    EXPECT_EQ(SendMessageA(hwnd, WM_CAP_DLG_VIDEOSOURCE, 0, 0), 1);
    EXPECT_EQ(dialogs.controls, 7u);
    EXPECT_EQ(SendMessageA(newWindow(), WM_CAP_DLG_VIDEOSOURCE, 0, 0), 0) << "not connected";
}

TEST_F(CaptureWindowTest, ErrorCallbackGetsTheDriversWholeText)
{
    VirtualCameraConfig config;
    config.reportErrors = true;
    useVirtualCamera(config);
    const HWND hwnd = withCallbacks(connected());
    ASSERT_EQ(grab(hwnd), 1);
    ASSERT_EQ(seen.errors.size(), 1u);
    EXPECT_EQ(seen.errors[0].first, kVirtualErrorNumber);
    EXPECT_EQ(seen.errors[0].second.size(), 600u);
    EXPECT_EQ(seen.frames, 1) << "the frame still arrives";
}

TEST_F(CaptureWindowTest, CallbacksMayDestroyTheirOwnWindow)
{
    VirtualCameraConfig config;
    config.reportErrors = true;
    useVirtualCamera(config);
    seen.destroyFromCallback = true;
    const HWND hwnd = withCallbacks(connected());
    EXPECT_EQ(grab(hwnd), 0);
    EXPECT_EQ(seen.errors.size(), 1u);
    EXPECT_EQ(seen.frames, 0) << "the window was gone before the frame";
    EXPECT_FALSE(captureWindowGeometry(hwnd));

    useVirtualCamera();
    const HWND other = withCallbacks(connected());
    EXPECT_EQ(grab(other), 1);
    EXPECT_EQ(seen.frames, 1);
    EXPECT_FALSE(captureWindowGeometry(other));
    EXPECT_EQ(frameAddress(seen.header.lpData, 1), nullptr);
}

TEST_F(CaptureWindowTest, UnknownHandlesMessagesAndMissingDriversAnswerZero)
{
    useVirtualCamera();
    EXPECT_EQ(SendMessageA(0x7FFF0000, WM_CAP_GRAB_FRAME, 0, 0), 0);
    EXPECT_FALSE(DestroyWindow(0x7FFF0000));
    EXPECT_FALSE(SetWindowPos(0x7FFF0000, HWND_BOTTOM, 0, 0, 1, 1, 0));
    const HWND hwnd = newWindow();
    BITMAPINFO info {};
    CAPSTATUS status;
    CAPDRIVERCAPS caps;
    EXPECT_EQ(SendMessageA(hwnd, 0x999, 0, 0), 0);
    EXPECT_EQ(SendMessageA(hwnd, WM_CAP_GET_VIDEOFORMAT, sizeof info, address(&info)), 0);
    EXPECT_EQ(SendMessageA(hwnd, WM_CAP_GET_STATUS, sizeof status, address(&status)), 0);
    EXPECT_EQ(SendMessageA(hwnd, WM_CAP_DRIVER_GET_CAPS, sizeof caps, address(&caps)), 0);
    EXPECT_EQ(SendMessageA(hwnd, WM_CAP_DRIVER_DISCONNECT, 0, 0), 0);
    EXPECT_EQ(SendMessageA(hwnd, WM_CAP_EDIT_COPY, 0, 0), 0);
    for (std::intptr_t index : {1, 10, -1}) // one driver only
        EXPECT_EQ(SendMessageA(hwnd, WM_CAP_DRIVER_CONNECT, index, 0), 0) << index;
    EXPECT_EQ(SendMessageA(hwnd, WM_CAP_DRIVER_CONNECT, 0, 0), 1);
    EXPECT_EQ(SendMessageA(hwnd, WM_CAP_DRIVER_GET_CAPS, sizeof caps, 0), 0);
}

TEST_F(CaptureWindowTest, HandlesAreNeverZeroNorReused)
{
    HWND last = 0;
    for (int i = 0; i < 100; ++i) {
        const HWND hwnd = capCreateCaptureWindowA("w", 0, 0, 0, 1, 1, 0, 0);
        EXPECT_GT(hwnd, last);
        last = hwnd;
        EXPECT_TRUE(DestroyWindow(hwnd));
    }
    EXPECT_EQ(captureWindowCount(), 0u);
}

TEST_F(CaptureWindowTest, DriverDescriptionsAreCutToTheirBuffers)
{
    useVirtualCamera();
    char name[8], version[64];
    ASSERT_TRUE(capGetDriverDescriptionA(0, name, sizeof name, version, sizeof version));
    EXPECT_STREQ(name, "VEDerEv");
    EXPECT_STREQ(version, "vedereve-virtual 1.0");
    EXPECT_TRUE(capGetDriverDescriptionA(0, nullptr, 0, version, 1));
    EXPECT_STREQ(version, "");
    EXPECT_FALSE(capGetDriverDescriptionA(1, name, sizeof name, version, sizeof version));
    EXPECT_FALSE(capGetDriverDescriptionA(10, name, sizeof name, version, sizeof version));
}

TEST_F(CaptureWindowTest, PlacementIsRecordedAndTheZOrderKeptWhenAsked)
{
    const HWND hwnd = capCreateCaptureWindowA("w", 0, 1, 2, 176, 144, 0, 0);
    windows.push_back(hwnd);
    EXPECT_EQ(captureWindowGeometry(hwnd), (WindowGeometry {1, 2, 176, 144, HWND_TOP}));
    EXPECT_TRUE(SetWindowPos(hwnd, HWND_BOTTOM, 0, 0, 320, 240, SWP_NOZORDER));
    EXPECT_EQ(captureWindowGeometry(hwnd), (WindowGeometry {0, 0, 320, 240, HWND_TOP}));
    EXPECT_TRUE(SetWindowPos(hwnd, HWND_BOTTOM, 5, 5, 0, 0, SWP_NOSIZE));
    EXPECT_EQ(captureWindowGeometry(hwnd), (WindowGeometry {5, 5, 320, 240, HWND_BOTTOM}));
    for (int metric : {SM_CYCAPTION, SM_CXFRAME, SM_CYFRAME})
        EXPECT_EQ(GetSystemMetrics(metric), 0);
}

TEST_F(CaptureWindowTest, EditCopyPutsTheCurrentFrameUprightOnTheClipboard)
{
    for (const VideoFormat &format :
         {VideoFormat {BI_RGB, 24, 176, 144}, VideoFormat {FOURCC_MJPG, 24, 320, 240}}) {
        VirtualCameraConfig config;
        config.formats = {format};
        useVirtualCamera(config);
        const HWND hwnd = withCallbacks(connected());
        EXPECT_EQ(SendMessageA(hwnd, WM_CAP_EDIT_COPY, 0, 0), 0) << "no frame yet";
        ASSERT_EQ(grab(hwnd), 1);
        ASSERT_EQ(SendMessageA(hwnd, WM_CAP_EDIT_COPY, 0, 0), 1);
        const QImage copied = QGuiApplication::clipboard()->image();
        ASSERT_EQ(copied.size(), QSize(format.width, format.height));
        // The frame's last row in memory is the picture's top row.
        std::vector<std::uint8_t> bits(dibStride(format.width, 24) * std::size_t(format.height));
        FrameDecoder decoder;
        if (format.compression == BI_RGB)
            bits = seen.bytes;
        else
            ASSERT_EQ(decoder.decode(format, seen.bytes, bits), ICERR_OK);
        int wrong = 0;
        for (int y = 0; y < format.height; ++y) {
            for (int x = 0; x < format.width; ++x) {
                const Bgr expected = pixel(bits.data(), format.width, format.height - 1 - y, x);
                const QRgb actual = copied.pixel(x, y);
                wrong += near(expected, {qBlue(actual), qGreen(actual), qRed(actual)}, 2) ? 0 : 1;
            }
        }
        EXPECT_EQ(wrong, 0);
    }
}

} // namespace
} // namespace capturetest
