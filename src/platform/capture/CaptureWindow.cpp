#include "platform/capture/CaptureWindow.h"

#include "platform/capture/CaptureDriver.h"
#include "platform/capture/CaptureLog.h"
#include "platform/capture/Drivers.h"
#include "platform/capture/FrameCodec.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <deque>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <type_traits>

namespace platform::vfw {

namespace {

// The frame address space: 64 slots of kMaxFrameBytes each; slot 0 is never handed out, so that
// no frame address is 0.
constexpr std::uint32_t kSlotCount = 64;
static_assert(std::uint64_t(kSlotCount) * kMaxFrameBytes == std::uint64_t(1) << 32);

struct Slot
{
    bool taken = false;
    const std::uint8_t *data = nullptr;
    std::uint32_t length = 0; // 0: no live frame
};

// Error reports wait here until the driver call that made them has returned: a callback may
// destroy the window, which must not happen under the driver's feet.
struct PendingError
{
    std::int32_t number = 0;
    std::string text;
};
constexpr std::size_t kMaxPendingErrors = 16;
// Error texts reach the callback from a buffer on the stack, so that a fault inside the callback
// leaves nothing allocated behind.
constexpr std::size_t kMaxErrorText = 4095;

struct Window
{
    HWND handle = 0;
    std::int32_t parent = 0;
    WindowGeometry geometry;
    std::uint32_t slot = 0;
    CapFrameCallback frameCallback = nullptr;
    CapErrorCallback errorCallback = nullptr;
    std::shared_ptr<CaptureDriver> driver;
    std::uint32_t driverIndex = 0;
    VideoFormat frameFormat; // format of the live frame
    std::uint32_t framesGrabbed = 0;
    std::uint32_t previewRateMs = 0;
    std::deque<PendingError> errors;
};

struct State
{
    HWND lastHandle = 0x1000;
    std::uint32_t lastSlot = 0;
    std::array<Slot, kSlotCount> slots;
    std::map<HWND, std::unique_ptr<Window>> windows;
    DriverDialogs *dialogs = nullptr;
};

State &state()
{
    static State instance;
    return instance;
}

Window *find(HWND hwnd)
{
    const auto it = state().windows.find(hwnd);
    return it == state().windows.end() ? nullptr : it->second.get();
}

std::uint32_t slotBase(std::uint32_t slot)
{
    return std::uint32_t(std::uint64_t(slot) * kMaxFrameBytes);
}

// Ends the live frame: its address stops resolving before the bytes behind it change.
void dropFrame(Window &window)
{
    Slot &slot = state().slots[window.slot];
    slot.data = nullptr;
    slot.length = 0;
}

void queueError(HWND hwnd, std::int32_t number, std::string_view text)
{
    Window *window = find(hwnd);
    if (!window || window->errors.size() >= kMaxPendingErrors)
        return;
    window->errors.push_back({number, std::string(text.substr(0, kMaxErrorText))});
}

// Hands the queued error reports to the error callback, looking the window up again after each
// one, since the callback may have destroyed it.
void deliverErrors(HWND hwnd)
{
    for (std::size_t n = 0; n < kMaxPendingErrors; ++n) {
        Window *window = find(hwnd);
        if (!window || window->errors.empty())
            return;
        std::array<char, kMaxErrorText + 1> text {};
        const PendingError &error = window->errors.front();
        std::memcpy(text.data(), error.text.data(), error.text.size());
        const std::int32_t number = error.number;
        window->errors.pop_front();
        if (const CapErrorCallback callback = window->errorCallback)
            callback(hwnd, number, text.data());
    }
}

void disconnect(Window &window)
{
    dropFrame(window);
    if (window.driver) {
        window.driver->disconnect();
        window.driver.reset();
    }
}

std::intptr_t copyOut(const void *source, std::size_t size, std::intptr_t wParam,
                      std::intptr_t lParam)
{
    if (!lParam)
        return 0;
    const std::size_t bytes = std::min(size, std::size_t(std::max<std::intptr_t>(wParam, 0)));
    std::memcpy(messagePointer<void>(lParam), source, bytes);
    return 1;
}

std::intptr_t connect(HWND hwnd, std::intptr_t index)
{
    Window *window = find(hwnd);
    disconnect(*window);
    if (index < 0 || std::size_t(index) >= kMaxDrivers)
        return 0;
    std::vector<DriverEntry> drivers = captureDrivers();
    if (std::size_t(index) >= drivers.size())
        return 0;
    std::shared_ptr<CaptureDriver> driver = drivers[std::size_t(index)].open();
    driver->setErrorSink(
        [hwnd](std::int32_t number, std::string_view text) { queueError(hwnd, number, text); });
    const int result = driver->connect();
    if (result == 0) {
        window->driver = std::move(driver);
        window->driverIndex = std::uint32_t(index);
        window->framesGrabbed = 0;
    } else {
        qCInfo(lcCapture, "driver %d does not connect: %d", int(index), result);
    }
    deliverErrors(hwnd);
    return result == 0 ? 1 : 0;
}

std::intptr_t setFormat(HWND hwnd, std::intptr_t wParam, std::intptr_t lParam)
{
    Window *window = find(hwnd);
    if (!window->driver || !lParam || wParam < std::intptr_t(sizeof(BITMAPINFOHEADER)))
        return 0;
    BITMAPINFOHEADER header {};
    std::memcpy(&header, messagePointer<const void>(lParam), sizeof header);
    const VideoFormat wanted = formatFromHeader(header);
    dropFrame(*window);
    const int result = window->driver->setFormat(wanted);
    const VideoFormat now = window->driver->format();
    deliverErrors(hwnd);
    // Success means the request holds as asked; an adjusted or refused format is a failure that
    // the caller sees when it reads the format back.
    const bool asked = now.width == wanted.width && now.height == wanted.height
        && now.compression == wanted.compression
        && (now.compression != BI_RGB || now.bitCount == wanted.bitCount);
    return result == 0 && asked ? 1 : 0;
}

std::intptr_t grab(HWND hwnd)
{
    Window *window = find(hwnd);
    if (!window->driver)
        return 0;
    dropFrame(*window);
    // A driver may fault in here; nothing of ours is half-changed at that point.
    const GrabbedFrame frame = window->driver->grab();
    const VideoFormat format = window->driver->format();
    const std::size_t size = std::min<std::size_t>(frame.bytes.size(), kMaxFrameBytes);
    if (size > 0) {
        Slot &slot = state().slots[window->slot];
        slot.data = frame.bytes.data();
        slot.length = std::uint32_t(size);
        window->frameFormat = format;
        ++window->framesGrabbed;
    }
    const std::uint32_t base = slotBase(window->slot);
    deliverErrors(hwnd);
    window = find(hwnd);
    if (!window || size == 0)
        return 0;
    VIDEOHDR header {};
    header.lpData = base;
    header.dwBufferLength = std::uint32_t(size);
    header.dwBytesUsed = std::uint32_t(size);
    header.dwTimeCaptured = frame.timeCapturedMs;
    header.dwFlags = VHDR_DONE | VHDR_KEYFRAME;
    // Nothing of the window is touched after the callback: it may have destroyed it.
    if (const CapFrameCallback callback = window->frameCallback)
        callback(hwnd, &header);
    return 1;
}

// The live frame as a picture, bottom-up rows turned upright.
QImage framePicture(const Window &window)
{
    const Slot &slot = state().slots[window.slot];
    const VideoFormat &format = window.frameFormat;
    if (!slot.data || !frameBytes(format))
        return {};
    const int w = format.width, h = format.height;
    static FrameDecoder decoder;
    std::vector<std::uint8_t> bits(dibStride(w, 24) * std::size_t(h));
    if (decoder.decode(format, {slot.data, slot.length}, bits) != ICERR_OK)
        return {};
    return QImage(bits.data(), w, h, qsizetype(dibStride(w, 24)), QImage::Format_BGR888)
        .mirrored(false, true);
}

std::intptr_t editCopy(const Window &window)
{
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return 0;
    const QImage picture = framePicture(window);
    if (picture.isNull())
        return 0;
    QGuiApplication::clipboard()->setImage(picture);
    return 1;
}

std::intptr_t showDialog(HWND hwnd, bool format)
{
    Window *window = find(hwnd);
    DriverDialogs *dialogs = state().dialogs;
    if (!window->driver || !dialogs)
        return 0;
    if (format ? window->driver->formats().empty() : window->driver->controls().empty())
        return 0;
    dropFrame(*window);
    // The dialog runs an event loop in which the window may be destroyed; the driver stays alive
    // (disconnected then) until the dialog is done with it.
    const std::shared_ptr<CaptureDriver> driver = window->driver;
    const std::int32_t parent = window->parent;
    const bool shown = format ? dialogs->showFormatDialog(*driver, parent)
                              : dialogs->showSourceDialog(*driver, parent);
    deliverErrors(hwnd);
    return shown ? 1 : 0;
}

} // namespace

HWND capCreateCaptureWindowA(const char * /*lpszWindowName*/, std::uint32_t /*dwStyle*/, int x,
                             int y, int nWidth, int nHeight, std::int32_t hwndParent, int /*nID*/)
{
    State &s = state();
    if (s.lastHandle == std::numeric_limits<HWND>::max())
        return 0;
    // The slot after the last one handed out, so that a fresh window does not take over the
    // addresses a destroyed one used a moment ago.
    std::uint32_t slot = 0;
    for (std::uint32_t n = 1; n < kSlotCount && slot == 0; ++n) {
        const std::uint32_t candidate = (s.lastSlot + n - 1) % (kSlotCount - 1) + 1;
        if (!s.slots[candidate].taken)
            slot = candidate;
    }
    if (slot == 0) {
        qCWarning(lcCapture, "too many capture windows");
        return 0;
    }
    s.lastSlot = slot;
    s.slots[slot] = Slot {true, nullptr, 0};
    auto window = std::make_unique<Window>();
    window->handle = ++s.lastHandle;
    window->parent = hwndParent;
    window->geometry = {x, y, std::max(nWidth, 0), std::max(nHeight, 0), HWND_TOP};
    window->slot = slot;
    const HWND handle = window->handle;
    s.windows.emplace(handle, std::move(window));
    return handle;
}

bool DestroyWindow(HWND hwnd)
{
    State &s = state();
    const auto it = s.windows.find(hwnd);
    if (it == s.windows.end())
        return false;
    std::unique_ptr<Window> window = std::move(it->second);
    s.windows.erase(it);
    disconnect(*window);
    s.slots[window->slot] = Slot {};
    return true;
}

std::intptr_t SendMessageA(HWND hwnd, std::uint32_t msg, std::intptr_t wParam, std::intptr_t lParam)
{
    Window *window = find(hwnd);
    if (!window)
        return 0;
    switch (msg) {
    case WM_CAP_SET_CALLBACK_ERRORA:
        window->errorCallback = messagePointer<std::remove_pointer_t<CapErrorCallback>>(lParam);
        return 1;
    case WM_CAP_SET_CALLBACK_FRAME:
        window->frameCallback = messagePointer<std::remove_pointer_t<CapFrameCallback>>(lParam);
        return 1;
    case WM_CAP_DRIVER_CONNECT:
        return connect(hwnd, wParam);
    case WM_CAP_DRIVER_DISCONNECT:
        if (!window->driver)
            return 0;
        disconnect(*window);
        return 1;
    case WM_CAP_DRIVER_GET_CAPS: {
        if (!window->driver)
            return 0;
        CAPDRIVERCAPS caps {};
        caps.wDeviceIndex = window->driverIndex;
        caps.fHasDlgVideoSource = state().dialogs && !window->driver->controls().empty();
        caps.fHasDlgVideoFormat = state().dialogs && !window->driver->formats().empty();
        caps.fCaptureInitialized = 1;
        return copyOut(&caps, sizeof caps, wParam, lParam);
    }
    case WM_CAP_EDIT_COPY:
        return editCopy(*window);
    case WM_CAP_DLG_VIDEOFORMAT:
    case WM_CAP_DLG_VIDEOSOURCE:
        return showDialog(hwnd, msg == WM_CAP_DLG_VIDEOFORMAT);
    case WM_CAP_GET_VIDEOFORMAT: {
        if (!window->driver)
            return 0;
        const BITMAPINFOHEADER header = headerFor(window->driver->format());
        return copyOut(&header, sizeof header, wParam, lParam) ? std::intptr_t(sizeof header) : 0;
    }
    case WM_CAP_SET_VIDEOFORMAT:
        return setFormat(hwnd, wParam, lParam);
    case WM_CAP_SET_PREVIEWRATE:
        window->previewRateMs = std::uint32_t(std::clamp<std::intptr_t>(wParam, 0, 0x7FFFFFFF));
        return 1;
    case WM_CAP_GET_STATUS: {
        if (!window->driver)
            return 0;
        const VideoFormat format = window->driver->format();
        CAPSTATUS status {};
        status.uiImageWidth = std::uint32_t(format.width);
        status.uiImageHeight = std::uint32_t(format.height);
        status.dwCurrentVideoFrame = window->framesGrabbed;
        status.fCapturingNow = window->driver->lost() ? 0 : 1;
        // The error of the last operation: the device went away.
        status.dwReturn = window->driver->lost() ? ENODEV : 0;
        return copyOut(&status, sizeof status, wParam, lParam);
    }
    case WM_CAP_GRAB_FRAME:
        return grab(hwnd);
    default:
        return 0;
    }
}

bool SetWindowPos(HWND hwnd, HWND hWndInsertAfter, int x, int y, int cx, int cy,
                  std::uint32_t uFlags)
{
    Window *window = find(hwnd);
    if (!window)
        return false;
    WindowGeometry &g = window->geometry;
    if (!(uFlags & SWP_NOMOVE)) {
        g.x = x;
        g.y = y;
    }
    if (!(uFlags & SWP_NOSIZE)) {
        g.width = std::max(cx, 0);
        g.height = std::max(cy, 0);
    }
    if (!(uFlags & SWP_NOZORDER))
        g.insertAfter = hWndInsertAfter;
    return true;
}

std::optional<WindowGeometry> captureWindowGeometry(HWND hwnd)
{
    const Window *window = find(hwnd);
    return window ? std::optional(window->geometry) : std::nullopt;
}

std::size_t captureWindowCount()
{
    return state().windows.size();
}

int GetSystemMetrics(int /*nIndex*/)
{
    return 0;
}

bool capGetDriverDescriptionA(std::uint16_t wDriverIndex, char *lpszName, int cbName, char *lpszVer,
                              int cbVer)
{
    if (wDriverIndex >= kMaxDrivers)
        return false;
    const std::vector<DriverEntry> drivers = captureDrivers();
    if (wDriverIndex >= drivers.size())
        return false;
    auto copy = [](const std::string &text, char *buffer, int size) {
        if (!buffer || size < 1)
            return;
        const std::size_t length = std::min(text.size(), std::size_t(size) - 1);
        std::memcpy(buffer, text.data(), length);
        buffer[length] = '\0';
    };
    copy(drivers[wDriverIndex].description.name, lpszName, cbName);
    copy(drivers[wDriverIndex].description.version, lpszVer, cbVer);
    return true;
}

const std::uint8_t *frameAddress(std::uint32_t lpData, std::size_t length)
{
    const std::uint32_t slotIndex = std::uint32_t(lpData / kMaxFrameBytes);
    const std::uint64_t offset = lpData % kMaxFrameBytes;
    const Slot &slot = state().slots[slotIndex];
    if (!slot.data || offset >= slot.length || length > slot.length - offset)
        return nullptr;
    return slot.data + offset;
}

void setDriverDialogs(DriverDialogs *dialogs)
{
    state().dialogs = dialogs;
}

} // namespace platform::vfw
