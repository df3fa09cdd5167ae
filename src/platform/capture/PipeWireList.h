#pragma once

#include "platform/capture/DeviceList.h"
#include "platform/capture/PipeWireSource.h"

#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

// One list of cameras from the Video4Linux nodes and the PipeWire daemon, no camera twice. A
// PipeWire node that serves a Video4Linux device (its device path matches the node's) is that
// camera: it keeps the Video4Linux identity, caption and kind, whichever path serves it. The
// daemon serves it when the node offers a format we decode; otherwise the Video4Linux node
// does, with its conversions. A camera only the daemon knows is described by the node, and
// counts as a standard camera for the automatic choice when its pictures are colour.
namespace platform::vfw {

struct ListedV4l2Camera
{
    DeviceDescriptor device;
    std::string devicePath; // "/dev/video0"
};

// A driver for the PipeWire camera node of that name.
using PipeWireOpener = std::function<std::unique_ptr<CaptureDriver>(const std::string &)>;

// The Video4Linux cameras in their order, then the cameras only the daemon serves in theirs.
std::vector<DeviceDescriptor> mergeCameraLists(std::vector<ListedV4l2Camera> v4l2,
                                               std::span<const PipeWireCamera> pipeWire,
                                               const PipeWireOpener &open);

} // namespace platform::vfw
