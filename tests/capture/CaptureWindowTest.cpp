#include "CaptureTestSupport.h"

#include "platform/capture/dialogs/DriverDialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QListWidget>
#include <QSlider>
#include <QTimer>

#include <linux/videodev2.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <functional>

namespace capturetest {
namespace {

// What the callbacks saw; they are plain functions, as the capture window expects.
struct Seen
{
    int frames = 0;
    VIDEOHDR header {};
    std::vector<std::uint8_t> bytes;
    std::vector<std::pair<std::int32_t, std::string>> errors;
    bool destroyFromCallback = false;
} seen;

std::int32_t onFrame(HWND hwnd, const VIDEOHDR *header)
{
    ++seen.frames;
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

// One virtual camera with its default formats unless a test configures others.
class CaptureWindowTest : public CaptureTest
{
protected:
    CaptureWindowTest()
    {
        seen = Seen();
        VirtualCameras::configure({VirtualCameraConfig {}});
    }
    static HWND withCallbacks(HWND hwnd)
    {
        SendMessageA(hwnd, WM_CAP_SET_CALLBACK_FRAME, 0,
                     address(reinterpret_cast<void *>(&onFrame)));
        SendMessageA(hwnd, WM_CAP_SET_CALLBACK_ERRORA, 0,
                     address(reinterpret_cast<void *>(&onError)));
        return hwnd;
    }
    static std::intptr_t grab(HWND hwnd) { return SendMessageA(hwnd, WM_CAP_GRAB_FRAME, 0, 0); }
    static int width(HWND hwnd)
    {
        BITMAPINFOHEADER header {};
        SendMessageA(hwnd, WM_CAP_GET_VIDEOFORMAT, sizeof header, address(&header));
        return header.biWidth;
    }
};

TEST_F(CaptureWindowTest, GrabCallsBothCallbacksInsideWithWholeTextsAndTheyMayDestroyTheWindow)
{
    VirtualCameraConfig errors;
    errors.reportErrors = true;
    VirtualCameras::configure({errors, VirtualCameraConfig {}});
    const HWND hwnd = withCallbacks(connected());
    ASSERT_EQ(grab(hwnd), 1);
    ASSERT_EQ(seen.frames, 1) << "called inside the grab";
    ASSERT_EQ(seen.errors.size(), 1u);
    const VIDEOHDR h = seen.header;
    EXPECT_EQ(
        std::tuple(seen.errors[0].first, seen.errors[0].second.size(), h.dwBytesUsed, h.dwFlags,
                   seen.bytes.size()),
        std::tuple(kVirtualErrorNumber, 600u, 528u * 144, VHDR_DONE | VHDR_KEYFRAME, 528u * 144));
    // Only ranges inside the live frame resolve.
    EXPECT_NE(frameAddress(h.lpData + h.dwBytesUsed - 1, 1), nullptr);
    EXPECT_FALSE(frameAddress(h.lpData + 1, h.dwBytesUsed) || frameAddress(h.lpData - 1, 1)
                 || frameAddress(h.lpData, std::size_t(-1)));
    EXPECT_EQ(SendMessageA(hwnd, WM_CAP_DRIVER_DISCONNECT, 0, 0), 1);
    EXPECT_EQ(frameAddress(h.lpData, 1), nullptr) << "no frame outlives its driver";
    EXPECT_TRUE(grab(hwnd) == 0 && seen.frames == 1);

    seen = Seen();
    seen.destroyFromCallback = true;
    const HWND doomed = withCallbacks(connected());
    EXPECT_EQ(grab(doomed), 0);
    EXPECT_EQ(std::pair(seen.errors.size(), seen.frames), std::pair(std::size_t(1), 0))
        << "the window was gone before the frame";
    EXPECT_FALSE(captureWindowGeometry(doomed));
    const HWND other = withCallbacks(connected(1));
    EXPECT_TRUE(grab(other) == 1 && seen.frames == 1);
    EXPECT_FALSE(captureWindowGeometry(other));
    EXPECT_EQ(frameAddress(seen.header.lpData, 1), nullptr);
}

// Each reply, and how much of the buffer it writes whatever size is claimed.
TEST_F(CaptureWindowTest, MessageRepliesNeverTrustTheirSizes)
{
    const HWND idle = capCreateCaptureWindowA("w", 0, 0, 0, 1, 1, 0, 0), live = connected();
    windows.push_back(idle);
    const struct
    {
        HWND hwnd;
        std::uint32_t message;
        std::intptr_t size;
        bool buffer;
        std::intptr_t reply;
        std::size_t written;
    } cases[] = {
        {0x7FFF0000, WM_CAP_GRAB_FRAME, 0, false, 0, 0},
        {live, 0x999, 64, true, 0, 0},
        {idle, WM_CAP_GET_VIDEOFORMAT, 64, true, 0, 0},
        {idle, WM_CAP_GET_STATUS, 64, true, 0, 0},
        {idle, WM_CAP_DRIVER_GET_CAPS, 64, true, 0, 0},
        {idle, WM_CAP_DRIVER_DISCONNECT, 0, false, 0, 0},
        {idle, WM_CAP_DLG_VIDEOSOURCE, 0, false, 0, 0},
        {live, WM_CAP_EDIT_COPY, 0, false, 0, 0}, // no frame yet
        {live, WM_CAP_GET_VIDEOFORMAT, 10, true, 40, 10},
        {live, WM_CAP_GET_VIDEOFORMAT, 100000, true, 40, 40}, // not the colour entry
        {live, WM_CAP_GET_VIDEOFORMAT, 44, false, 0, 0},
        {live, WM_CAP_GET_STATUS, 4, true, 1, 4},
        {live, WM_CAP_DRIVER_GET_CAPS, 64, false, 0, 0},
        {idle, WM_CAP_DRIVER_CONNECT, 1, false, 0, 0}, // one driver only
        {idle, WM_CAP_DRIVER_CONNECT, -1, false, 0, 0},
    };
    for (const auto &c : cases) {
        GuardedBuffer out(0);
        EXPECT_EQ(SendMessageA(c.hwnd, c.message, c.size, c.buffer ? address(out.bytes.data()) : 0),
                  c.reply)
            << std::hex << c.message << " " << c.size;
        EXPECT_TRUE(out.untouchedFrom(c.written)) << std::hex << c.message;
    }
    EXPECT_FALSE(DestroyWindow(0x7FFF0000));

    // A short header is refused; a long size reads 40 bytes only, up to unreadable memory.
    const BITMAPINFOHEADER qvga = headerFor({BI_RGB, 24, 320, 240});
    EXPECT_EQ(SendMessageA(live, WM_CAP_SET_VIDEOFORMAT, 20, address(&qvga)), 0);
    EXPECT_EQ(width(live), 176);
    const std::size_t page = std::size_t(sysconf(_SC_PAGESIZE));
    auto *memory = static_cast<std::uint8_t *>(
        mmap(nullptr, page * 2, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(memory, MAP_FAILED);
    ASSERT_EQ(mprotect(memory + page, page, PROT_NONE), 0);
    std::uint8_t *atEnd = memory + page - sizeof qvga;
    std::memcpy(atEnd, &qvga, sizeof qvga);
    EXPECT_EQ(SendMessageA(live, WM_CAP_SET_VIDEOFORMAT, 4096, address(atEnd)), 1);
    EXPECT_EQ(width(live), 320);
    munmap(memory, page * 2);
}

// Handles are never 0 nor reused; descriptions are cut to their buffers.
TEST_F(CaptureWindowTest, HandlesAreNeverReusedAndDescriptionsAreCutToTheirBuffers)
{
    HWND last = 0;
    for (int i = 0; i < 100; ++i) {
        const HWND next = capCreateCaptureWindowA("w", 0, 0, 0, 1, 1, 0, 0);
        EXPECT_TRUE(next > std::exchange(last, next) && DestroyWindow(next));
    }
    EXPECT_EQ(captureWindowCount(), 0u);
    char name[8], version[64];
    ASSERT_TRUE(capGetDriverDescriptionA(0, name, sizeof name, version, sizeof version));
    EXPECT_EQ(std::string(name) + "|" + version, "VEDerEv|vedereve-virtual 1.0");
    EXPECT_TRUE(capGetDriverDescriptionA(0, nullptr, 0, version, 1) && *version == 0);
    EXPECT_FALSE(capGetDriverDescriptionA(1, name, sizeof name, version, sizeof version));
}

class DriverDialogsTest : public CaptureTest
{
protected:
    DriverDialogsTest() : camera(addCamera("Cam", 0)), hwnd(connected()) { installDriverDialogs(); }

    // Sends message to the window; user plays the person in front of the modal dialog.
    std::intptr_t showDialog(std::uint32_t message, std::function<void(QDialog &)> user)
    {
        bool shown = false;
        QTimer::singleShot(0, [&] {
            if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget())) {
                shown = true;
                user(*dialog);
            }
        });
        const std::intptr_t result = SendMessageA(hwnd, message, 0, 0);
        EXPECT_TRUE(shown);
        return result;
    }

    template<class T> static T *child(QDialog &dialog, const char *name)
    {
        T *widget = dialog.findChild<T *>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }

    fake::FakeDevice &camera;
    HWND hwnd;
};

TEST_F(DriverDialogsTest, DialogsApplyTheirChoicesAndCancelPutsThemBack)
{
    const std::intptr_t result = showDialog(WM_CAP_DLG_VIDEOSOURCE, [](QDialog &dialog) {
        child<QSlider>(dialog, "Brightness")->setValue(20);
        child<QCheckBox>(dialog, "White Balance, Automatic")->setChecked(false);
        child<QComboBox>(dialog, "Power Line Frequency")->setCurrentIndex(2);
        auto *exposure = child<QComboBox>(dialog, "Auto Exposure");
        EXPECT_EQ(exposure->currentText(), "Aperture Priority Mode");
        exposure->setCurrentIndex(0);
        dialog.accept();
    });
    EXPECT_EQ(result, 1);
    auto &values = camera.controlValues; // exposure: the entry's value, not its row
    EXPECT_EQ(std::vector({values[V4L2_CID_BRIGHTNESS], values[V4L2_CID_AUTO_WHITE_BALANCE],
                           values[V4L2_CID_POWER_LINE_FREQUENCY], values[V4L2_CID_EXPOSURE_AUTO]}),
              std::vector({20, 0, 2, 1}));

    camera.controlValues[V4L2_CID_CONTRAST] = 40;
    showDialog(WM_CAP_DLG_VIDEOSOURCE, [this](QDialog &dialog) {
        auto *contrast = child<QSlider>(dialog, "Contrast");
        EXPECT_EQ(contrast->value(), 40);
        contrast->setValue(10);
        EXPECT_EQ(camera.controlValues[V4L2_CID_CONTRAST], 10) << "applied at once";
        dialog.reject();
    });
    EXPECT_EQ(std::pair(values[V4L2_CID_CONTRAST], values[V4L2_CID_BRIGHTNESS]), std::pair(40, 20));

    showDialog(WM_CAP_DLG_VIDEOFORMAT, [](QDialog &dialog) {
        auto *list = child<QListWidget>(dialog, "formats");
        EXPECT_EQ(list->currentItem()->text(), "YUY2, 640 x 480");
        const auto items = list->findItems("MJPG, 1280 x 720", Qt::MatchExactly);
        ASSERT_EQ(items.size(), 1);
        list->setCurrentItem(items.front());
        dialog.accept();
    });
    EXPECT_EQ(std::pair(camera.pixelFormat, camera.width), std::pair(V4L2_PIX_FMT_MJPEG, 1280u));

    showDialog(WM_CAP_DLG_VIDEOFORMAT, [](QDialog &dialog) {
        child<QListWidget>(dialog, "formats")->setCurrentRow(0);
        dialog.reject();
    });
    EXPECT_EQ(camera.width, 1280u) << "a cancelled choice changes nothing";
}

} // namespace
} // namespace capturetest
