#pragma once

#include "platform/capture/CaptureDriver.h"
#include "platform/capture/V4l2Driver.h"
#include "platform/capture/V4l2Io.h"

#include <functional>
#include <memory>
#include <vector>

// The list of capture drivers behind driver indices 0 to 9: the cameras in a stable order, then
// the virtual cameras (VirtualCamera.h says when those are listed).
namespace platform::vfw {

constexpr std::size_t kMaxDrivers = 10;

struct DriverEntry
{
    DriverDescription description;
    std::function<std::unique_ptr<CaptureDriver>()> open;
};

// Built afresh on every call; devices are opened only the first time their node is seen.
std::vector<DriverEntry> captureDrivers();

// Tests put a fake device layer here; nullptr restores the system's.
void setV4l2Io(std::shared_ptr<V4l2Io> io);

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
