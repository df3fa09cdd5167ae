#include "capture/CaptureSession.h"

#include <algorithm>
#include <cstring>

#include "base/DebugTrace.h"
#include "base/ExceptionFilter.h"
#include "capture/CaptureCommands.h"
#include "capture/FormatNegotiation.h"
#include "capture/clsImages.h"
#include "platform/capture/CaptureWindow.h"
#include "platform/capture/Decompressor.h"
#include "platform/core/System.h"
#include "support/cDibSection.h"

using DebugTrace::Trace;
namespace vfw = platform::vfw;
using namespace capture;

namespace {
// The window style of a child window: never visible on its own.
constexpr std::uint32_t WS_CHILD = 0x40000000;
} // namespace

CaptureSession::CaptureSession() = default;

CaptureSession::~CaptureSession()
{
    stop();
}

std::string CaptureSession::driverDescription(std::int32_t index, int bufferSize)
{
    std::vector<char> name(std::size_t(std::max(bufferSize, 1)), '\0');
    std::vector<char> version(std::size_t(std::max(bufferSize, 1)), '\0');
    if (index < 0 || index > 0xffff
        || !vfw::capGetDriverDescriptionA(std::uint16_t(index), name.data(), int(name.size()),
                                          version.data(), int(version.size())))
        return {};
    return std::string(name.data(), ::strnlen(name.data(), name.size()));
}

bool CaptureSession::connect(std::int32_t deviceIndex, std::int32_t parentWindow)
{
    if (m_lwndc != 0) {
        vfw::DestroyWindow(m_lwndc);
        m_lwndc = 0;
    }
    const std::string name = driverDescription(deviceIndex, 100);
    m_lwndc = vfw::capCreateCaptureWindowA(name.c_str(), WS_CHILD, 0, 0, 176, 144, parentWindow, 0);
    capSetCallbackOnError(m_lwndc, MyErrorCallback);
    capSetCallbackOnFrame(m_lwndc, MyFrameCallBack);
    if (!capDriverConnect(m_lwndc, deviceIndex))
        return false;
    if (!m_pin.holds(std::size_t(deviceIndex)))
        m_pin = vfw::DriverPin::at(std::size_t(deviceIndex));
    m_CameraOn = true;
    return true;
}

CaptureSession::Started CaptureSession::negotiate(std::int32_t windowPos)
{
    Started started {};
    capDriverGetCaps(m_lwndc, &started.caps, sizeof started.caps);
    BITMAPINFO format {};
    capGetVideoFormat(m_lwndc, &format, sizeof format);
    m_Compressed = false;

    const Negotiated negotiated
        = negotiateFormat(format, windowPos, m_MustScale, [this](const BITMAPINFO &wanted) {
              capSetVideoFormat(m_lwndc, &wanted, sizeof wanted);
              BITMAPINFO reported {};
              capGetVideoFormat(m_lwndc, &reported, sizeof reported);
              return reported;
          });
    format = negotiated.format;
    m_UseScaling = negotiated.UseScaling;
    m_CapHeight = format.bmiHeader.biHeight;
    m_CapWidth = format.bmiHeader.biWidth;

    if (format.bmiHeader.biCompression != vfw::BI_RGB) {
        // The driver insists on a compressed format: frames go through a decompressor into a
        // displayable format of the same size. Neither result is tested: without a decompressor
        // m_HIC is 0 and the sizes are whatever FormatOut holds.
        m_Compressed = true;
        m_FormatIn = format;
        m_FormatOut = {};
        if (m_hic != 0)
            vfw::ICClose(m_hic);
        m_hic = vfw::ICGetDisplayFormat(0, &m_FormatIn.bmiHeader, &m_FormatOut.bmiHeader, 0, 0, 0);
        Trace("WebCam CamOn - Using Compression - m_HIC& = ", m_hic);
        ICDecompressBegin(m_hic, &m_FormatIn, &m_FormatOut);
        format = m_FormatOut;
        m_CapHeight = format.bmiHeader.biHeight;
        m_CapWidth = format.bmiHeader.biWidth;
    }
    Trace("WebCam Height:", m_CapHeight, " Width:", m_CapWidth);

    const int bits = format.bmiHeader.biBitCount;
    m_FrameBitCount = bits == 16 || bits == 24 || bits == 32 ? bits : 24;
    m_PrevCap = std::make_unique<cDibSection>();
    m_spare.reset();
    m_PrevCap->Create(m_CapWidth, m_CapHeight, m_FrameBitCount);
    Trace("WebCam PrevCap DIB bytes: ", m_PrevCap->TotalBytes());
    FitCaptureWindow(m_lwndc, 0, 0);
    capPreviewRate(m_lwndc, 100);
    // The stream (re)started with the format: the first frame is on its way from here.
    m_watch.started(platform::tickCount());
    m_verdict = GrabVerdict::Frame;
    started.format = format;
    return started;
}

void CaptureSession::stop()
{
    m_CameraOn = false;
    if (m_lwndc != 0) {
        capSetCallbackOnFrame(m_lwndc, nullptr);
        capSetCallbackOnError(m_lwndc, nullptr);
        capDriverDisconnect(m_lwndc);
    }
    if (m_hic != 0) {
        vfw::ICClose(m_hic);
        m_hic = 0;
    }
    if (m_lwndc != 0) {
        vfw::DestroyWindow(m_lwndc);
        m_lwndc = 0;
    }
}

std::int32_t CaptureSession::grab()
{
    // A driver that faults inside its grab costs this frame only: the fault is traced and the
    // tick goes on as with an empty grab.
    const bool completed = ExceptionFilter::Guarded([this] { capGrabFrame(m_lwndc); });
    const clsImages *record = CapturedFrame();
    const std::int32_t n = record ? record->FrameBytes : 0;
    bool gone = false;
    if (n == 0 && completed) {
        vfw::CAPSTATUS status {};
        gone = capGetStatus(m_lwndc, &status, sizeof status) && status.dwReturn != 0;
    }
    m_verdict = m_watch.grabbed(n > 0, !completed || gone, platform::tickCount());
    return n;
}

CaptureSession::Frame CaptureSession::takeFrame(std::int32_t &frameBytes)
{
    clsImages *record = CapturedFrame();
    if (!m_PrevCap || m_PrevCap->HDC() == 0) {
        Trace("WebCam tmrMain - Exiting, PrevCap.HDC generated error");
        return Frame::NoBitmap;
    }
    std::int32_t n = record->FrameBytes;
    m_lastFrame = &record->FrameData;
    if (m_Compressed) {
        m_decoded.resize(m_FormatOut.bmiHeader.biSizeImage);
        Trace("WebCam tmrMain - ICDecompress Start");
        // Every frame of these formats is complete in itself; a frame the driver did not mark as
        // a key frame is still decoded whole, so every tick has a complete picture.
        const std::uint32_t flags
            = (record->FrameFlags & vfw::VHDR_KEYFRAME) ? 0 : vfw::ICDECOMPRESS_NOTKEYFRAME;
        vfw::ICDecompress(
            m_hic, flags, &m_FormatIn.bmiHeader,
            std::span(record->FrameData.data(), std::min(record->FrameData.size(), std::size_t(n))),
            &m_FormatOut.bmiHeader, m_decoded);
        n = std::int32_t(m_decoded.size());
        m_lastFrame = &m_decoded;
        Trace("WebCam tmrMain - ICDecompress End - size=", n);
    }
    record->FrameBytes = 0;
    frameBytes = n;
    if (m_PrevCap->TotalBytes() < n) {
        Trace("WebCam_tmrMain EXIT Size mismatch FrameBytes: ", n,
              " DIB Bytes:", m_PrevCap->TotalBytes());
        return Frame::SizeMismatch;
    }
    const std::size_t count = std::min(std::size_t(n), m_lastFrame->size());
    if (count > 0)
        std::memcpy(m_PrevCap->DIBSectionBitsPtr(), m_lastFrame->data(), count);
    return Frame::InPrevCap;
}

bool CaptureSession::recreatePrevCap(std::int32_t width, std::int32_t height)
{
    // The transmission swaps between the frame's size and 176 x 144 on every tick that scales:
    // the bitmap of the other size is kept aside rather than made anew each time. Whoever takes
    // it next writes all of its pixels (a whole frame, or the whole preview area).
    if (m_spare && m_spare->Width() == width && m_spare->Height() == height
        && m_spare->PixelDepth() == m_FrameBitCount && m_spare->HDC() != 0) {
        std::swap(m_PrevCap, m_spare);
        return true;
    }
    auto fresh = std::make_unique<cDibSection>();
    if (!fresh->Create(width, height, m_FrameBitCount))
        return false;
    m_spare = std::move(m_PrevCap);
    m_PrevCap = std::move(fresh);
    return true;
}

void CaptureSession::previewInPrevCap(platform::gdi::HDC source, std::int32_t width,
                                      std::int32_t height)
{
    m_frameSize = {m_PrevCap->Width(), m_PrevCap->Height()};
    recreatePrevCap(width, height);
    m_PrevCap->LoadPictureBlt(source, 0, 0, -1, -1, platform::gdi::SRCCOPY);
}

void CaptureSession::restoreFrameSize()
{
    if (m_frameSize)
        recreatePrevCap(m_frameSize->first, m_frameSize->second);
    m_frameSize.reset();
}
