#include "capture/CaptureCommands.h"

#include "platform/capture/CaptureWindow.h"
#include "platform/capture/Decompressor.h"

namespace capture {

namespace vfw = platform::vfw;

namespace {

std::intptr_t send(HWND hwnd, std::uint32_t message, std::intptr_t wParam = 0,
                   std::intptr_t lParam = 0)
{
    return vfw::SendMessageA(hwnd, message, wParam, lParam);
}

template<class T> std::intptr_t address(T *pointer)
{
    return reinterpret_cast<std::intptr_t>(pointer);
}

} // namespace

bool capSetCallbackOnError(HWND hwnd, vfw::CapErrorCallback proc)
{
    return send(hwnd, vfw::WM_CAP_SET_CALLBACK_ERRORA, 0, address(proc)) != 0;
}

bool capSetCallbackOnFrame(HWND hwnd, vfw::CapFrameCallback proc)
{
    return send(hwnd, vfw::WM_CAP_SET_CALLBACK_FRAME, 0, address(proc)) != 0;
}

bool capDriverConnect(HWND hwnd, std::int32_t index)
{
    return send(hwnd, vfw::WM_CAP_DRIVER_CONNECT, index) != 0;
}

bool capDriverDisconnect(HWND hwnd)
{
    return send(hwnd, vfw::WM_CAP_DRIVER_DISCONNECT) != 0;
}

bool capDriverGetCaps(HWND hwnd, CAPDRIVERCAPS *caps, std::int32_t size)
{
    return send(hwnd, vfw::WM_CAP_DRIVER_GET_CAPS, size, address(caps)) != 0;
}

bool capEditCopy(HWND hwnd)
{
    return send(hwnd, vfw::WM_CAP_EDIT_COPY) != 0;
}

bool capDlgVideoFormat(HWND hwnd)
{
    return send(hwnd, vfw::WM_CAP_DLG_VIDEOFORMAT) != 0;
}

bool capDlgVideoSource(HWND hwnd)
{
    return send(hwnd, vfw::WM_CAP_DLG_VIDEOSOURCE) != 0;
}

std::int32_t capGetVideoFormat(HWND hwnd, BITMAPINFO *format, std::int32_t size)
{
    return std::int32_t(send(hwnd, vfw::WM_CAP_GET_VIDEOFORMAT, size, address(format)));
}

bool capSetVideoFormat(HWND hwnd, const BITMAPINFO *format, std::int32_t size)
{
    // The size travels as a 16-bit integer widened to 32 bits.
    return send(hwnd, vfw::WM_CAP_SET_VIDEOFORMAT, std::int16_t(size), address(format)) != 0;
}

bool capPreviewRate(HWND hwnd, std::int32_t ms)
{
    return send(hwnd, vfw::WM_CAP_SET_PREVIEWRATE, ms) != 0;
}

bool capGetStatus(HWND hwnd, CAPSTATUS *status, std::int32_t size)
{
    return send(hwnd, vfw::WM_CAP_GET_STATUS, size, address(status)) != 0;
}

bool capGrabFrame(HWND hwnd)
{
    return send(hwnd, vfw::WM_CAP_GRAB_FRAME) != 0;
}

std::int32_t ICDecompressBegin(HIC decompressor, const BITMAPINFO *formatIn,
                               const BITMAPINFO *formatOut)
{
    return std::int32_t(vfw::ICSendMessage(decompressor, vfw::ICM_DECOMPRESS_BEGIN,
                                           address(formatIn), address(formatOut)));
}

void FitCaptureWindow(HWND hwnd, std::int32_t x, std::int32_t y)
{
    const int caption = vfw::GetSystemMetrics(vfw::SM_CYCAPTION);
    const int frameWidth = vfw::GetSystemMetrics(vfw::SM_CXFRAME);
    const int frameHeight = vfw::GetSystemMetrics(vfw::SM_CYFRAME);
    CAPSTATUS status {};
    if (!capGetStatus(hwnd, &status, sizeof status))
        return;
    vfw::SetWindowPos(hwnd, vfw::HWND_BOTTOM, x, y, int(status.uiImageWidth) + 2 * frameWidth,
                      int(status.uiImageHeight) + caption + 2 * frameHeight, vfw::SWP_NOZORDER);
}

} // namespace capture
