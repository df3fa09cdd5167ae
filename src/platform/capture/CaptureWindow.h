#pragma once

#include "platform/capture/VfwTypes.h"

#include <cstddef>
#include <cstdint>
#include <optional>

// Capture windows: invisible objects addressed by a handle, each connected to at most one capture
// driver (Drivers.h), answering the capture-window messages with the published results. Call
// from the GUI thread only. Callbacks run inside the message that causes them (the frame callback
// inside WM_CAP_GRAB_FRAME, after the error reports of the same grab) and may destroy the window
// they are called for. Error texts reach the error callback whole up to 4095 bytes. A grab that
// finds no frame answers 0 and calls no frame callback.
//
// Frames are handed out through VIDEOHDR::lpData, a 32-bit address in the capture windows' own
// frame address space: each window owns a range of it, and the bytes of the frame it grabbed last
// appear there until its next grab, format change, disconnect or destruction. frameAddress()
// resolves such an address and answers nullptr for anything else, so a stale or forged header
// never leads a reader into memory that is not a frame. At most 63 windows exist at once.
namespace platform::vfw {

class CaptureDriver;

HWND capCreateCaptureWindowA(const char *lpszWindowName, std::uint32_t dwStyle, int x, int y,
                             int nWidth, int nHeight, std::int32_t hwndParent, int nID);

// Sizes in wParam are never trusted: at most min(wParam, real size) bytes are read or written,
// and a null lParam where a structure is expected answers 0. Unknown handles and messages: 0.
std::intptr_t SendMessageA(HWND hwnd, std::uint32_t msg, std::intptr_t wParam,
                           std::intptr_t lParam);

bool DestroyWindow(HWND hwnd);

// Records the capture window's place and size; SWP_NOMOVE, SWP_NOSIZE and SWP_NOZORDER are
// honoured. false for a handle that is no capture window.
bool SetWindowPos(HWND hwnd, HWND hWndInsertAfter, int x, int y, int cx, int cy,
                  std::uint32_t uFlags);

struct WindowGeometry
{
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    HWND insertAfter = HWND_TOP; // the last z-order placement asked for

    friend bool operator==(const WindowGeometry &, const WindowGeometry &) = default;
};
std::optional<WindowGeometry> captureWindowGeometry(HWND hwnd);
std::size_t captureWindowCount();

// SM_CYCAPTION, SM_CXFRAME and SM_CYFRAME are all 0: a capture window is a frameless child
// window without a title bar, so it needs no allowance around the picture. Other indices: 0.
int GetSystemMetrics(int nIndex);

// WM_CAP_GET_STATUS reports the image size, the frames grabbed and, in dwReturn, ENODEV once the
// device went away while connected.
//
// Driver indices 0..9 over the driver list; false for an index without a driver. Each text is
// cut to its buffer (cb bytes including the NUL) and always NUL-terminated; a null buffer or a
// size below 1 is left alone.
bool capGetDriverDescriptionA(std::uint16_t wDriverIndex, char *lpszName, int cbName, char *lpszVer,
                              int cbVer);

const std::uint8_t *frameAddress(std::uint32_t lpData, std::size_t length);

// The drivers' own modal dialogs, provided by a target of their own that links the widgets.
class DriverDialogs
{
public:
    virtual ~DriverDialogs() = default;
    // Each shows its dialog for driver, applies what the user chose to the device, and returns
    // whether the dialog could be shown. parent is the capture window's parent window id.
    virtual bool showFormatDialog(CaptureDriver &driver, std::int32_t parent) = 0;
    virtual bool showSourceDialog(CaptureDriver &driver, std::int32_t parent) = 0;
};

// Installs the dialog provider (nullptr removes it). Without one the dialog messages answer 0 and
// the capabilities report no dialogs.
void setDriverDialogs(DriverDialogs *dialogs);

} // namespace platform::vfw
