#pragma once

#include <cstdint>
#include <type_traits>

// The published layouts, message numbers and constants of the capture window and the video
// decompressors, as the capture code above this layer uses them. Every layout is a trivial,
// standard-layout struct with fixed-width fields, copied byte for byte to and from the caller's
// memory; value-initialise them ({}) to start from zeros.
namespace platform::vfw {

using HWND = std::int32_t; // capture window; 0 is none
using HIC = std::int32_t; // decompressor; 0 is none

struct BITMAPINFOHEADER
{
    std::uint32_t biSize;
    std::int32_t biWidth;
    std::int32_t biHeight; // positive: rows bottom-up
    std::uint16_t biPlanes;
    std::uint16_t biBitCount;
    std::uint32_t biCompression;
    std::uint32_t biSizeImage;
    std::int32_t biXPelsPerMeter;
    std::int32_t biYPelsPerMeter;
    std::uint32_t biClrUsed;
    std::uint32_t biClrImportant;
};
static_assert(
    sizeof(BITMAPINFOHEADER) == 40
    && std::is_trivial_v<BITMAPINFOHEADER> && std::is_standard_layout_v<BITMAPINFOHEADER>);

struct RGBQUAD
{
    std::uint8_t rgbBlue;
    std::uint8_t rgbGreen;
    std::uint8_t rgbRed;
    std::uint8_t rgbReserved;
};
static_assert(sizeof(RGBQUAD) == 4 && std::is_standard_layout_v<RGBQUAD>);

struct BITMAPINFO
{
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
};
static_assert(sizeof(BITMAPINFO) == 44 && std::is_standard_layout_v<BITMAPINFO>);

// lpData is an address in the capture windows' own 32-bit frame address space, not a pointer:
// frameAddress() (CaptureWindow.h) turns it into bytes, and only while the frame is alive and
// only for a range that lies wholly inside it.
struct VIDEOHDR
{
    std::uint32_t lpData;
    std::uint32_t dwBufferLength;
    std::uint32_t dwBytesUsed;
    std::uint32_t dwTimeCaptured; // milliseconds since the driver was connected
    std::uint32_t dwUser;
    std::uint32_t dwFlags;
    std::uint32_t dwReserved[4];
};
static_assert(sizeof(VIDEOHDR) == 40 && std::is_standard_layout_v<VIDEOHDR>);

struct CAPSTATUS
{
    std::uint32_t uiImageWidth;
    std::uint32_t uiImageHeight;
    std::uint32_t fLiveWindow;
    std::uint32_t fOverlayWindow;
    std::uint32_t fScale;
    std::int32_t ptScroll[2];
    std::uint32_t fUsingDefaultPalette;
    std::uint32_t fAudioHardware;
    std::uint32_t fCapFileExists;
    std::uint32_t dwCurrentVideoFrame;
    std::uint32_t dwCurrentVideoFramesDropped;
    std::uint32_t dwCurrentWaveSamples;
    std::uint32_t dwCurrentTimeElapsedMS;
    std::uint32_t hPalCurrent;
    std::uint32_t fCapturingNow;
    std::uint32_t dwReturn;
    std::uint32_t wNumVideoAllocated;
    std::uint32_t wNumAudioAllocated;
};
static_assert(sizeof(CAPSTATUS) == 76 && std::is_standard_layout_v<CAPSTATUS>);

struct CAPDRIVERCAPS
{
    std::uint32_t wDeviceIndex;
    std::uint32_t fHasOverlay;
    std::uint32_t fHasDlgVideoSource;
    std::uint32_t fHasDlgVideoFormat;
    std::uint32_t fHasDlgVideoDisplay;
    std::uint32_t fCaptureInitialized;
    std::uint32_t fDriverSuppliesPalettes;
    std::uint32_t hVideoIn;
    std::uint32_t hVideoOut;
    std::uint32_t hVideoExtIn;
    std::uint32_t hVideoExtOut;
};
static_assert(sizeof(CAPDRIVERCAPS) == 44 && std::is_standard_layout_v<CAPDRIVERCAPS>);

constexpr std::uint32_t makeFourCC(char a, char b, char c, char d)
{
    return std::uint32_t(std::uint8_t(a)) | std::uint32_t(std::uint8_t(b)) << 8
        | std::uint32_t(std::uint8_t(c)) << 16 | std::uint32_t(std::uint8_t(d)) << 24;
}

constexpr std::uint32_t BI_RGB = 0;

// Capture-window messages.
constexpr std::uint32_t WM_USER = 0x400;
constexpr std::uint32_t WM_CAP_SET_CALLBACK_ERRORA = WM_USER + 2;
constexpr std::uint32_t WM_CAP_SET_CALLBACK_FRAME = WM_USER + 5;
constexpr std::uint32_t WM_CAP_DRIVER_CONNECT = WM_USER + 10;
constexpr std::uint32_t WM_CAP_DRIVER_DISCONNECT = WM_USER + 11;
constexpr std::uint32_t WM_CAP_DRIVER_GET_CAPS = WM_USER + 14;
constexpr std::uint32_t WM_CAP_EDIT_COPY = WM_USER + 30;
constexpr std::uint32_t WM_CAP_DLG_VIDEOFORMAT = WM_USER + 41;
constexpr std::uint32_t WM_CAP_DLG_VIDEOSOURCE = WM_USER + 42;
constexpr std::uint32_t WM_CAP_GET_VIDEOFORMAT = WM_USER + 44;
constexpr std::uint32_t WM_CAP_SET_VIDEOFORMAT = WM_USER + 45;
constexpr std::uint32_t WM_CAP_SET_PREVIEWRATE = WM_USER + 52;
constexpr std::uint32_t WM_CAP_GET_STATUS = WM_USER + 54;
constexpr std::uint32_t WM_CAP_GRAB_FRAME = WM_USER + 60;
static_assert(WM_CAP_SET_VIDEOFORMAT == 0x42D && WM_CAP_GRAB_FRAME == 0x43C);

// VIDEOHDR flags.
constexpr std::uint32_t VHDR_DONE = 1;
constexpr std::uint32_t VHDR_KEYFRAME = 8;

// Decompressor messages and results.
constexpr std::uint32_t ICM_USER = 0x4000;
constexpr std::uint32_t ICM_DECOMPRESS_QUERY = ICM_USER + 11;
constexpr std::uint32_t ICM_DECOMPRESS_BEGIN = ICM_USER + 12;
constexpr std::uint32_t ICM_DECOMPRESS_END = ICM_USER + 14;
static_assert(ICM_DECOMPRESS_BEGIN == 0x400C);

constexpr std::int32_t ICERR_OK = 0;
constexpr std::int32_t ICERR_UNSUPPORTED = -1;
constexpr std::int32_t ICERR_BADFORMAT = -2;
constexpr std::int32_t ICERR_MEMORY = -3;
constexpr std::int32_t ICERR_BADPARAM = -6;
constexpr std::int32_t ICERR_BADSIZE = -7;
constexpr std::int32_t ICERR_BADHANDLE = -8;
constexpr std::int32_t ICERR_ERROR = -100;

constexpr std::uint32_t ICDECOMPRESS_HURRYUP = 0x80000000;
constexpr std::uint32_t ICDECOMPRESS_UPDATE = 0x40000000;
constexpr std::uint32_t ICDECOMPRESS_PREROLL = 0x20000000;
constexpr std::uint32_t ICDECOMPRESS_NULLFRAME = 0x10000000;
constexpr std::uint32_t ICDECOMPRESS_NOTKEYFRAME = 0x08000000;

// System metrics and window placement.
constexpr int SM_CYCAPTION = 4;
constexpr int SM_CXFRAME = 32;
constexpr int SM_CYFRAME = 33;
constexpr std::uint32_t SWP_NOSIZE = 1;
constexpr std::uint32_t SWP_NOMOVE = 2;
constexpr std::uint32_t SWP_NOZORDER = 4;
constexpr HWND HWND_TOP = 0;
constexpr HWND HWND_BOTTOM = 1;

// Message parameters carry addresses as integers, as the published interface defines them.
template<class T> T *messagePointer(std::intptr_t parameter)
{
    return reinterpret_cast<T *>(parameter); // NOLINT(performance-no-int-to-ptr)
}

using CapFrameCallback = std::int32_t (*)(HWND hwnd, const VIDEOHDR *lpVHdr);
using CapErrorCallback = std::int32_t (*)(HWND hwnd, std::int32_t nErrID, const char *lpErrorText);

} // namespace platform::vfw
