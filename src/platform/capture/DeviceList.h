#pragma once

#include "platform/capture/CaptureDriver.h"
#include "platform/capture/FormatTable.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

// The rules that turn the capture devices the driver families found into the list behind driver
// indices 0 to 9, whichever family found them (Video4Linux nodes, the virtual cameras, any later
// source). A family describes each device it found in a DeviceDescriptor, in its own stable
// order; buildDriverList() then
//   - lists colour cameras first, then devices whose pictures are infrared, depth or greyscale
//     (never chosen automatically, their caption says what they show), then the virtual cameras;
//   - makes identical captions unique by the device's port, or by a number when the ports agree;
//   - keeps a pinned device at its index while it is gone, as an entry that fails to connect, and
//     puts it back at that index when it returns, so that no other device takes its place.
namespace platform::vfw {

constexpr std::size_t kMaxDrivers = 10;

struct DriverDescription
{
    std::string name;
    std::string version;
};

struct DeviceDescriptor
{
    DriverDescription description; // as the device names itself; version: driver and release
    // Names the same device after re-plugging, at another port or node, and after a reboot
    // (a persistent device name, a serial number); never a node number. Unique in the list.
    std::string identity;
    std::string port; // where it is attached, short; tells identical devices apart
    PictureKind kind = PictureKind::Colour;
    // A standard USB video class camera: the one a person means when nothing was chosen.
    bool standardCamera = false;
    std::function<std::unique_ptr<CaptureDriver>()> open;
};

// One driver index: the device with its caption as the menu shows it.
struct DriverEntry
{
    DriverDescription description;
    std::string identity;
    PictureKind kind = PictureKind::Colour;
    bool standardCamera = false;
    bool present = true; // false: a pinned device that is gone
    std::function<std::unique_ptr<CaptureDriver>()> open;
};

// A device held at a driver index while it is gone.
struct PinnedDevice
{
    std::string identity;
    std::size_t index = 0;
    DriverDescription description; // as it was last listed
};

// cameras and virtualCameras each in their family's order; at most kMaxDrivers entries.
std::vector<DriverEntry> buildDriverList(std::vector<DeviceDescriptor> cameras,
                                         std::vector<DeviceDescriptor> virtualCameras,
                                         std::span<const PinnedDevice> pins);

// Infrared, depth or greyscale from a device's name ("Integrated IR Camera", "...: USB2.0 IR")
// and the kinds of all the formats it offers; a device offering any colour format is a colour
// camera unless its name marks it as infrared.
PictureKind deviceKind(std::string_view name, std::span<const PictureKind> formatKinds);

} // namespace platform::vfw
