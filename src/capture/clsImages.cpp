#include "capture/clsImages.h"

#include <cstring>
#include <memory>
#include <string>

#include "base/DebugTrace.h"
#include "base/ExceptionFilter.h"
#include "platform/capture/CaptureWindow.h"

using DebugTrace::Trace;

namespace {
std::unique_ptr<clsImages> g_capturedFrame;

// Room for 509 bytes of text and the terminating NUL, as the driver's texts are kept.
constexpr std::size_t kErrorTextBytes = 510;
} // namespace

clsImages *CapturedFrame()
{
    return g_capturedFrame.get();
}

void CreateCapturedFrame()
{
    // A second panel reuses the record: the callback has no context to tell them apart.
    if (!g_capturedFrame)
        g_capturedFrame = std::make_unique<clsImages>();
}

std::int32_t MyFrameCallBack(platform::vfw::HWND, const platform::vfw::VIDEOHDR *lpVHdr)
{
    Trace("WebCam MyFrameCallBack lpVHdr pointer = ",
          static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(lpVHdr)));
    if (!lpVHdr) {
        Trace("WebCam MyFrameCallBack lpVHdr is 0, exiting");
        return 0;
    }
    platform::vfw::VIDEOHDR header {};
    std::memcpy(&header, lpVHdr, sizeof header);
    const auto size = static_cast<std::int32_t>(header.dwBytesUsed);
    Trace("WebCam MyFrameCallBack size is ", size);
    if (size <= 0)
        return 0;
    Trace("WebCam MyFrameCallBack VideoHeader.lpData = ", header.lpData);
    if (header.lpData == 0) {
        Trace("WebCam MyFrameCallBack VideoHeader.lpData = 0, exiting");
        return 0;
    }
    // The frame's bytes as far as they really reach: a header that claims more than its frame is
    // a failed copy, and the record keeps what it held.
    const std::uint8_t *bytes = platform::vfw::frameAddress(header.lpData, std::size_t(size));
    clsImages *record = CapturedFrame();
    if (!bytes || !record)
        return 0;
    // The record's buffer keeps its capacity from frame to frame; it always holds exactly the
    // frame's bytes.
    record->FrameData.resize(std::size_t(size));
    std::memcpy(record->FrameData.data(), bytes, std::size_t(size));
    record->FrameBytes = size;
    record->FrameFlags = header.dwFlags;
    return 0;
}

std::int32_t MyErrorCallback(platform::vfw::HWND, std::int32_t nErrID, const char *lpErrorText)
{
    Trace("WebCam MyErrorCallback - Error:", nErrID);
    // Number 0 only clears the driver's error state.
    if (nErrID == 0)
        return 0;
    char buffer[kErrorTextBytes] = {};
    Trace("WebCam MyErrorCallback - Before lstrCpy");
    if (!lpErrorText)
        return 0;
    // Cut to fit: a driver's text longer than the buffer never runs past it.
    std::memcpy(buffer, lpErrorText, ::strnlen(lpErrorText, kErrorTextBytes - 1));
    Trace("WebCam MyErrorCallback - After lstrCpy");
    Trace("WebCam MyErrorCallback - Error:", std::string(buffer));
    return 0;
}
