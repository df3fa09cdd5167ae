#pragma once

#include <cstdint>

#include "platform/capture/VfwTypes.h"

// The thin command layer over the capture window's messages: one message each, its result as a
// Boolean (non-zero: True), except capGetVideoFormat, which returns the byte size the window
// reports. None of them traces or fails otherwise.
namespace capture {

using platform::vfw::BITMAPINFO;
using platform::vfw::CAPDRIVERCAPS;
using platform::vfw::CAPSTATUS;
using platform::vfw::HIC;
using platform::vfw::HWND;

bool capSetCallbackOnError(HWND hwnd, platform::vfw::CapErrorCallback proc);
bool capSetCallbackOnFrame(HWND hwnd, platform::vfw::CapFrameCallback proc);
bool capDriverConnect(HWND hwnd, std::int32_t index);
bool capDriverDisconnect(HWND hwnd);
bool capDriverGetCaps(HWND hwnd, CAPDRIVERCAPS *caps, std::int32_t size);
bool capEditCopy(HWND hwnd);
bool capDlgVideoFormat(HWND hwnd);
bool capDlgVideoSource(HWND hwnd);
std::int32_t capGetVideoFormat(HWND hwnd, BITMAPINFO *format, std::int32_t size);
bool capSetVideoFormat(HWND hwnd, const BITMAPINFO *format, std::int32_t size);
bool capPreviewRate(HWND hwnd, std::int32_t ms);
bool capGetStatus(HWND hwnd, CAPSTATUS *status, std::int32_t size);
bool capGrabFrame(HWND hwnd);

// ICM_DECOMPRESS_BEGIN to the decompressor; its result unchanged, 0 when there is none.
std::int32_t ICDecompressBegin(HIC decompressor, const BITMAPINFO *formatIn,
                               const BITMAPINFO *formatOut);

// Gives the capture window the image's size plus the allowances of a framed, captioned window,
// at x, y, keeping its place in the z-order. A window whose status cannot be read keeps its size
// and place.
void FitCaptureWindow(HWND hwnd, std::int32_t x, std::int32_t y);

} // namespace capture
