#include "platform/capture/Drivers.h"

#include "platform/capture/VirtualCamera.h"

#include <algorithm>
#include <map>
#include <optional>
#include <tuple>

namespace platform::vfw {

namespace {

struct DeviceLayer
{
    std::shared_ptr<V4l2Io> io;
    // What each node said about itself, by node identity: opening a camera can take a while, and
    // the list is asked for once per driver index.
    std::map<std::pair<std::uint64_t, std::string>, std::optional<V4l2DeviceInfo>> probes;
};

DeviceLayer &deviceLayer()
{
    static DeviceLayer layer;
    if (!layer.io)
        layer.io = linuxV4l2Io();
    return layer;
}

std::vector<CameraNode> listCameras(DeviceLayer &layer)
{
    std::vector<CameraNode> cameras;
    const std::vector<V4l2Node> nodes = layer.io->listNodes();
    // Nodes that come and go (re-plugging) must not make the cache grow without end.
    if (layer.probes.size() > 4 * nodes.size() + 64)
        layer.probes.clear();
    for (const V4l2Node &node : nodes) {
        const auto key = std::make_pair(node.identity, node.devicePath);
        auto it = layer.probes.find(key);
        if (it == layer.probes.end())
            it = layer.probes.emplace(key, probeV4l2Node(*layer.io, node.devicePath)).first;
        if (it->second && it->second->canCapture)
            cameras.push_back({node, *it->second});
    }
    sortCameras(cameras);
    return cameras;
}

} // namespace

void sortCameras(std::vector<CameraNode> &cameras)
{
    auto key = [](const CameraNode &c) {
        return std::make_tuple(c.node.byIdName.empty(), std::cref(c.node.byIdName),
                               c.node.byPathName.empty(), std::cref(c.node.byPathName),
                               std::cref(c.info.busInfo), std::cref(c.info.card),
                               std::cref(c.node.devicePath));
    };
    std::sort(cameras.begin(), cameras.end(),
              [&](const CameraNode &a, const CameraNode &b) { return key(a) < key(b); });
}

std::vector<DriverEntry> captureDrivers()
{
    DeviceLayer &layer = deviceLayer();
    std::vector<DriverEntry> drivers;
    const std::vector<CameraNode> cameras = listCameras(layer);
    for (const CameraNode &camera : cameras) {
        if (drivers.size() == kMaxDrivers)
            return drivers;
        DriverEntry entry;
        entry.description = describeV4l2Device(camera.info);
        entry.open = [io = layer.io, path = camera.node.devicePath] {
            return std::make_unique<V4l2Driver>(io, path);
        };
        drivers.push_back(std::move(entry));
    }
    for (VirtualCameras::Entry &virtualCamera : VirtualCameras::list(!cameras.empty())) {
        if (drivers.size() == kMaxDrivers)
            break;
        drivers.push_back({std::move(virtualCamera.description), std::move(virtualCamera.open)});
    }
    return drivers;
}

void setV4l2Io(std::shared_ptr<V4l2Io> io)
{
    DeviceLayer &layer = deviceLayer();
    layer.io = io ? std::move(io) : linuxV4l2Io();
    layer.probes.clear();
}

} // namespace platform::vfw
