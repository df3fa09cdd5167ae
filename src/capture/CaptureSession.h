#pragma once

#include <cstdint>
#include <memory>

class cDibSection;

// The camera of one panel: the capture window lwndc with its driver connection, the
// decompressor m_HIC, the negotiated formats and the bitmap PrevCap that receives each frame.
// The panel's CamOn and CamOff drive it and show what happens; its state keeps the component's
// names, which the tick trace prints.
class CaptureSession
{
public:
    CaptureSession();
    ~CaptureSession();
    CaptureSession(const CaptureSession &) = delete;
    CaptureSession &operator=(const CaptureSession &) = delete;

    bool CameraOn() const { return m_CameraOn; }
    std::int32_t lwndc() const { return m_lwndc; }
    std::int32_t m_HIC() const { return m_hic; }
    bool Compressed() const { return m_Compressed; }
    std::int32_t CapWidth() const { return m_CapWidth; }
    std::int32_t CapHeight() const { return m_CapHeight; }
    std::int32_t FrameBitCount() const { return m_FrameBitCount; }
    cDibSection *PrevCap() const { return m_PrevCap.get(); }
    bool UseScaling() const { return m_UseScaling; }
    bool MustScale() const { return m_MustScale; }
    void setMustScale(bool on) { m_MustScale = on; }

    // The device steps of a camera stop: callbacks removed, driver disconnected, decompressor
    // closed, capture window destroyed, each only when there is one. PrevCap and the formats stay
    // until the next start.
    void stop();

private:
    bool m_CameraOn = false;
    std::int32_t m_lwndc = 0;
    std::int32_t m_hic = 0;
    bool m_Compressed = false;
    std::int32_t m_CapWidth = 0;
    std::int32_t m_CapHeight = 0;
    std::int32_t m_FrameBitCount = 24;
    std::unique_ptr<cDibSection> m_PrevCap;
    bool m_UseScaling = false;
    bool m_MustScale = false;
};
