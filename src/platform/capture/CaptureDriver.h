#pragma once

#include "platform/capture/FormatTable.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// One capture device behind a capture window: connect, formats, set format, grab the freshest
// frame, controls, disconnect. All calls come from the thread that owns the capture window.
namespace platform::vfw {

// How long a grab waits for a frame when none is ready. The capture timer grabs every 160 ms or
// so from the GUI thread; half a frame interval of a slow (15 frames/s) camera is the most it may
// lose there. A camera that has nothing after this is stalled, and the grab is empty.
constexpr int kGrabWaitMs = 50;

struct DriverControl
{
    enum class Kind : std::uint8_t { Integer, Boolean, Menu };
    struct MenuItem
    {
        std::int32_t value = 0;
        std::string name;
    };

    std::uint32_t id = 0;
    std::string name;
    Kind kind = Kind::Integer;
    std::int32_t minimum = 0;
    std::int32_t maximum = 0;
    std::int32_t step = 1;
    std::int32_t defaultValue = 0;
    std::vector<MenuItem> items; // menus only
};

// A grabbed frame; the bytes stay valid until the driver's next call.
struct GrabbedFrame
{
    std::span<const std::uint8_t> bytes;
    std::uint32_t timeCapturedMs = 0;

    bool empty() const { return bytes.empty(); }
};

class CaptureDriver
{
public:
    // Driver error reports: a number and a text, delivered to the capture window's error
    // callback. Number 0 clears the driver's error state.
    using ErrorSink = std::function<void(std::int32_t number, std::string_view text)>;

    virtual ~CaptureDriver() = default;
    CaptureDriver() = default;
    CaptureDriver(const CaptureDriver &) = delete;
    CaptureDriver &operator=(const CaptureDriver &) = delete;

    // Takes the device and starts it. 0, or a negative errno (-EBUSY when another program has
    // it, -ENODEV when it is gone).
    virtual int connect() = 0;
    virtual void disconnect() = 0;
    virtual bool isConnected() const = 0;

    // What the device offers, each format at each size; empty while disconnected.
    virtual std::vector<VideoFormat> formats() const = 0;
    virtual VideoFormat format() const = 0;
    // Applies the offered format nearest to wanted (nearestFormat()); the device may adjust it
    // further. 0, or a negative errno when the device refused and keeps its format.
    virtual int setFormat(const VideoFormat &wanted) = 0;

    // The freshest frame, waiting at most kGrabWaitMs for one; empty when there is none, when the
    // frame is damaged or short, or when the device is gone.
    virtual GrabbedFrame grab() = 0;
    // The device went away while connected (unplugged); every later grab is empty.
    virtual bool lost() const { return false; }

    virtual std::vector<DriverControl> controls() const = 0;
    virtual std::optional<std::int32_t> control(std::uint32_t id) const = 0;
    // 0, or a negative errno. The value is clamped to the control's range.
    virtual int setControl(std::uint32_t id, std::int32_t value) = 0;

    void setErrorSink(ErrorSink sink) { m_errorSink = std::move(sink); }

protected:
    void reportError(std::int32_t number, std::string_view text) const
    {
        if (m_errorSink)
            m_errorSink(number, text);
    }

private:
    ErrorSink m_errorSink;
};

} // namespace platform::vfw
