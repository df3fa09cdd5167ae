#pragma once

#include <cstdint>

// Tells a camera that is starting or slow from one that failed, from the grabs it answered and
// when. A camera takes up to a second or two for its first frame after it starts streaming, and
// in low light it slows down to a few frames a second; damaged frames (common right after the
// start) are dropped by the driver. None of these is a failed grab: the capture timer polls on
// and the preview keeps its last good frame. A grab only fails when the device went away, when a
// faulting driver broke it off, or when no good frame came for longer than the bound.
namespace capture {

// The longest a started camera may take for its first good frame.
constexpr std::uint32_t kStartBoundMs = 2500;
// The longest a running camera may go without a good frame: a camera slowed down by low light
// stays well below it (7.5 frames a second, or 5 with jitter), a covered or broken one not.
constexpr std::uint32_t kStallBoundMs = 2000;

enum class GrabVerdict : std::uint8_t {
    Frame, // a good frame came
    Waiting, // nothing yet, within the bounds: not a failure
    Failed, // the camera stalled, went away or broke the grab off
};

class FrameWatch
{
public:
    // The camera started streaming at now (milliseconds of a wrapping tick count).
    void started(std::uint32_t now)
    {
        m_since = now;
        m_hadFrame = false;
    }

    // One grab's answer: whether a frame came, whether the device is gone or the grab faulted.
    GrabVerdict grabbed(bool frame, bool broken, std::uint32_t now)
    {
        if (frame) {
            m_since = now;
            m_hadFrame = true;
            return GrabVerdict::Frame;
        }
        if (broken)
            return GrabVerdict::Failed;
        // Unsigned difference: right across the tick count's wrap.
        const std::uint32_t quiet = now - m_since;
        return quiet < (m_hadFrame ? kStallBoundMs : kStartBoundMs) ? GrabVerdict::Waiting
                                                                    : GrabVerdict::Failed;
    }

private:
    std::uint32_t m_since = 0;
    bool m_hadFrame = false;
};

} // namespace capture
