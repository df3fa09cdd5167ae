#pragma once

#include "platform/capture/CaptureDriver.h"
#include "platform/capture/DeviceList.h"
#include "platform/capture/PipeWireSource.h"
#include "platform/capture/V4l2Driver.h"
#include "platform/capture/V4l2Io.h"

#include <cstdint>
#include <memory>
#include <vector>

// The list of capture drivers behind driver indices 0 to 9: the cameras (Video4Linux nodes and
// PipeWire camera nodes as one list, PipeWireList.h), then the virtual cameras, by the rules of
// DeviceList.h.
namespace platform::vfw {

// Built afresh on every call; devices are opened only the first time their node is seen.
std::vector<DriverEntry> captureDrivers();

// Tests put a fake device layer here; nullptr restores the system's.
void setV4l2Io(std::shared_ptr<V4l2Io> io);

// Keeps the device now at a driver index at that index while it lives, also while the device is
// gone (DeviceList.h). Move-only; an empty pin holds nothing.
class DriverPin final
{
public:
    DriverPin() = default;
    ~DriverPin() { reset(); }
    DriverPin(DriverPin &&other) noexcept : m_id(std::exchange(other.m_id, 0)) { }
    DriverPin &operator=(DriverPin &&other) noexcept
    {
        if (this != &other) {
            reset();
            m_id = std::exchange(other.m_id, 0);
        }
        return *this;
    }
    DriverPin(const DriverPin &) = delete;
    DriverPin &operator=(const DriverPin &) = delete;

    // Pins the device at index; an empty pin when there is none.
    static DriverPin at(std::size_t index);
    bool holds(std::size_t index) const;
    void reset();

private:
    std::uint64_t m_id = 0;
};

struct CameraNode
{
    V4l2Node node;
    V4l2DeviceInfo info;
};

// Orders cameras by what names a camera the same way after a reboot or a re-plug: its
// /dev/v4l/by-id name, then its by-path name, then bus and card; never its /dev/videoN number,
// which the kernel hands out in the order devices appear.
void sortCameras(std::vector<CameraNode> &cameras);

} // namespace platform::vfw
