#pragma once

#include "platform/capture/CaptureDriver.h"
#include "platform/capture/FormatTable.h"

#include <memory>
#include <string>
#include <vector>

// Cameras served by a PipeWire daemon: how the component reaches the daemon, and the cameras it
// lists. One session per process, connected on first use:
//   - Automatic: VEDEREVE_PIPEWIRE=off means no PipeWire at all; VEDEREVE_PIPEWIRE_FD=<n> is a
//     descriptor already connected to the daemon (what the desktop portal hands out); otherwise
//     a direct connection (found through PIPEWIRE_REMOTE, PIPEWIRE_RUNTIME_DIR or
//     XDG_RUNTIME_DIR), or the camera portal inside a sandbox or when the daemon refuses us.
//   - Off: no PipeWire cameras.
//   - Fd: the given connected descriptor (duplicated; the caller keeps its own).
// No daemon means no PipeWire cameras, quickly and quietly.
namespace platform::vfw {

struct PipeWireConnection
{
    enum class Mode { Automatic, Off, Fd } mode = Mode::Automatic;
    int fd = -1;
};

// Drops the current PipeWire session (streams of open drivers end: their grabs are empty); the
// next captureDrivers() connects anew with these settings.
void setPipeWireConnection(PipeWireConnection connection);

// A camera node as the daemon lists it.
struct PipeWireCamera
{
    // node.name: names the camera across re-plugs and daemon restarts. A second node of a name
    // already listed (programs name their nodes after themselves) gets "#2", and so on.
    std::string name;
    std::string description; // node.description, else node.name
    std::string devicePath; // the Video4Linux device the node serves ("/dev/video0"), if any
    std::vector<PictureKind> formatKinds; // what the pictures of each offered format show
    bool decodable = false; // offers a format at a size we decode
};

// The camera nodes the daemon lists now, ordered by name. The first call after connecting waits
// (about a second at most) for the daemon's list; later calls answer from the list the daemon's
// events keep up to date. Empty without PipeWire.
std::vector<PipeWireCamera> pipeWireCameras();

// A driver for the camera node of that name; it connects through the session current then.
std::unique_ptr<CaptureDriver> openPipeWireCamera(std::string name);

} // namespace platform::vfw
