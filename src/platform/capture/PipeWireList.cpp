#include "platform/capture/PipeWireList.h"

#include <algorithm>

namespace platform::vfw {

std::vector<DeviceDescriptor> mergeCameraLists(std::vector<ListedV4l2Camera> v4l2,
                                               std::span<const PipeWireCamera> pipeWire,
                                               const PipeWireOpener &open)
{
    const auto opener
        = [&open](const std::string &name) { return [open, name] { return open(name); }; };
    std::vector<DeviceDescriptor> cameras;
    std::vector<const PipeWireCamera *> only;
    for (const PipeWireCamera &camera : pipeWire) {
        const auto served = std::find_if(v4l2.begin(), v4l2.end(), [&](const ListedV4l2Camera &c) {
            return !camera.devicePath.empty() && c.devicePath == camera.devicePath;
        });
        if (served == v4l2.end()) {
            only.push_back(&camera);
        } else if (camera.decodable) {
            served->device.open = opener(camera.name);
        }
    }
    for (ListedV4l2Camera &camera : v4l2)
        cameras.push_back(std::move(camera.device));
    for (const PipeWireCamera *camera : only) {
        // Nothing we could show.
        if (!camera->decodable)
            continue;
        DeviceDescriptor device;
        device.description = {camera->description, "PipeWire"};
        device.identity = "pipewire:" + camera->name;
        device.kind = deviceKind(camera->description, camera->formatKinds);
        device.standardCamera = device.kind == PictureKind::Colour;
        device.open = opener(camera->name);
        cameras.push_back(std::move(device));
    }
    return cameras;
}

} // namespace platform::vfw
