#pragma once

#include "platform/capture/CaptureDriver.h"
#include "platform/capture/DeviceList.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Built-in virtual cameras: a live test picture at the formats and sizes they are configured for,
// and the misbehaviours of real drivers on request, so that every capture path can be exercised
// without hardware. docs/camera-check.md describes VEDEREVE_VIRTUAL_CAMERAS.
namespace platform::vfw {

struct VirtualCameraConfig
{
    std::string name; // empty: "VEDerEve Virtual Camera <number>"
    std::vector<VideoFormat> formats; // empty: VirtualCameras::defaultFormats()
    bool refuseConnect = false; // connect fails as with a camera another program holds
    bool emptyFrames = false; // every grab is empty
    bool reportErrors = false; // every grab reports kVirtualErrorNumber with a 600-byte text
    bool faultInGrab = false; // every grab writes through a null pointer
    bool stall = false; // every grab waits kGrabWaitMs and is empty
    int unplugAfterGrabs = -1; // gone after this many grabs; -1 never
};

// Control ids of a virtual camera.
constexpr std::uint32_t kVirtualBrightness = 1; // -100..100, default 0
constexpr std::uint32_t kVirtualContrast = 2; // 0..200 percent, default 100
constexpr std::uint32_t kVirtualMirror = 3; // boolean
constexpr std::uint32_t kVirtualPattern = 4; // menu: 0 colour bars, 1 grey steps

constexpr std::int32_t kVirtualErrorNumber = 1;

class VirtualCameras
{
public:
    // Cameras for this process, listed after the real cameras. Overrides the environment until
    // reset(). Cameras connected before keep working on their own.
    static void configure(std::vector<VirtualCameraConfig> cameras);
    // Back to what the environment asks for (read again now).
    static void reset();
    // Virtual camera index (0-based, in configuration order) goes away as if unplugged.
    static void unplug(std::size_t index);

    // The syntax of VEDEREVE_VIRTUAL_CAMERAS; nothing when it is malformed.
    static std::optional<std::vector<VirtualCameraConfig>> parse(std::string_view text);
    static std::vector<VideoFormat> defaultFormats();

    // The cameras configured (by configure() or the environment), those unplugged left out.
    // Without configuration there are none: a machine without a camera has no camera, and no
    // test picture reaches anybody who did not ask for one.
    static std::vector<DeviceDescriptor> list();
};

} // namespace platform::vfw
