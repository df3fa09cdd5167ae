#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "capture/FrameWatch.h"
#include "platform/capture/Drivers.h"
#include "platform/capture/VfwTypes.h"
#include "platform/gdi/Gdi.h"

class cDibSection;

// The camera of one panel: the capture window lwndc with its driver connection, the
// decompressor m_HIC, the negotiated formats and the bitmap PrevCap that receives each frame.
// The panel's CamOn and CamOff drive it and show what happens; its state keeps the component's
// names, which the traces print.
class CaptureSession
{
public:
    using BITMAPINFO = platform::vfw::BITMAPINFO;

    CaptureSession();
    ~CaptureSession();
    CaptureSession(const CaptureSession &) = delete;
    CaptureSession &operator=(const CaptureSession &) = delete;

    bool CameraOn() const { return m_CameraOn; }
    std::int32_t lwndc() const { return m_lwndc; }
    std::int32_t m_HIC() const { return m_hic; }
    bool Compressed() const { return m_Compressed; }
    const BITMAPINFO &FormatIn() const { return m_FormatIn; }
    const BITMAPINFO &FormatOut() const { return m_FormatOut; }
    std::int32_t CapWidth() const { return m_CapWidth; }
    std::int32_t CapHeight() const { return m_CapHeight; }
    std::int32_t FrameBitCount() const { return m_FrameBitCount; }
    cDibSection *PrevCap() const { return m_PrevCap.get(); }
    bool UseScaling() const { return m_UseScaling; }
    void setUseScaling(bool on) { m_UseScaling = on; }
    bool MustScale() const { return m_MustScale; }
    void setMustScale(bool on) { m_MustScale = on; }

    // The description of driver index (0..9) up to its first NUL, read into a buffer of
    // bufferSize characters as the capture platform gives it; empty when there is no such driver.
    static std::string driverDescription(std::int32_t index, int bufferSize);

    // The device steps of a camera start up to the connect: any capture window of an earlier
    // start is destroyed, a new one made for driver deviceIndex as a hidden child of
    // parentWindow, its error and frame callbacks registered, and the driver connected. True
    // when it connected; CameraOn is True from then on. The device connected keeps its driver
    // index, also while it is unplugged, until releaseDevice(), a start on another index or the
    // session's end: a restart never lands on another camera.
    bool connect(std::int32_t deviceIndex, std::int32_t parentWindow);
    // The person chose another device: the one held at its index may leave the list.
    void releaseDevice() { m_pin.reset(); }

    struct Started
    {
        platform::vfw::CAPDRIVERCAPS caps;
        // The format the frames reach PrevCap in (the decompressor's output for a compressed
        // driver format).
        BITMAPINFO format;
    };
    // The steps after a connect: the driver's capabilities, the format negotiation for
    // windowPos, the decompressor when the driver insists on a compressed format, a new PrevCap
    // of the frames' size, the window fitted to them and the preview rate.
    Started negotiate(std::int32_t windowPos);

    // The device steps of a camera stop: callbacks removed, driver disconnected, decompressor
    // closed, capture window destroyed, each only when there is one. PrevCap and the formats stay
    // until the next start.
    void stop();

    // One grab: the driver delivers a frame to the frame callback inside it. Returns the bytes
    // of the frame in the frame record, 0 when none came (a fault inside the driver's grab is
    // traced and counts as no frame).
    std::int32_t grab();
    // The last grab brought no frame, yet the camera has not failed: it is starting, or slow
    // between two frames (FrameWatch.h).
    bool waitingForFrame() const { return m_verdict == capture::GrabVerdict::Waiting; }

    enum class Frame { NoBitmap, SizeMismatch, InPrevCap };
    // Takes the frame of the last grab into PrevCap: decompressed first when the driver's format
    // is compressed. frameBytes receives the size of what was copied (the decompressed size for a
    // compressed frame). The frame record counts as taken either way.
    Frame takeFrame(std::int32_t &frameBytes);

    // The frame bytes as they reached PrevCap on the last takeFrame().
    const std::vector<std::uint8_t> &frameBytes() const { return *m_lastFrame; }

    // With scaling, the picture sent is the preview rather than the frame: PrevCap is made again
    // at width x height from the drawing at source, until restoreFrameSize() puts it back at the
    // frame's size. Every way out of a tick restores it, an abandoned one included.
    void previewInPrevCap(platform::gdi::HDC source, std::int32_t width, std::int32_t height);
    void restoreFrameSize();

private:
    // PrevCap made again at the given size and the frames' bit count. False when it cannot be
    // made.
    bool recreatePrevCap(std::int32_t width, std::int32_t height);

    bool m_CameraOn = false;
    std::int32_t m_lwndc = 0;
    std::int32_t m_hic = 0;
    bool m_Compressed = false;
    BITMAPINFO m_FormatIn {};
    BITMAPINFO m_FormatOut {};
    std::int32_t m_CapWidth = 0;
    std::int32_t m_CapHeight = 0;
    std::int32_t m_FrameBitCount = 24;
    std::unique_ptr<cDibSection> m_PrevCap;
    std::unique_ptr<cDibSection> m_spare;
    // The frame's size while PrevCap holds the preview.
    std::optional<std::pair<std::int32_t, std::int32_t>> m_frameSize;
    bool m_UseScaling = false;
    bool m_MustScale = false;
    // The decompressor's output, kept from frame to frame.
    std::vector<std::uint8_t> m_decoded;
    const std::vector<std::uint8_t> *m_lastFrame = &m_decoded;
    capture::FrameWatch m_watch;
    capture::GrabVerdict m_verdict = capture::GrabVerdict::Frame;
    platform::vfw::DriverPin m_pin;
};
