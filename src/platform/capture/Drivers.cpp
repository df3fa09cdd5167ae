#include "platform/capture/Drivers.h"

#include "platform/capture/PipeWireList.h"
#include "platform/capture/PipeWireSource.h"
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
    std::map<std::uint64_t, PinnedDevice> pins;
    std::uint64_t lastPin = 0;
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
    std::vector<ListedV4l2Camera> v4l2;
    for (const CameraNode &camera : listCameras(layer))
        v4l2.push_back(
            {describeV4l2Camera(layer.io, camera.node, camera.info), camera.node.devicePath});
    const std::vector<PipeWireCamera> pipeWire = pipeWireCameras();
    std::vector<DeviceDescriptor> cameras
        = mergeCameraLists(std::move(v4l2), pipeWire,
                           [](const std::string &name) { return openPipeWireCamera(name); });
    std::vector<PinnedDevice> pins;
    for (const auto &[id, pin] : layer.pins)
        pins.push_back(pin);
    return buildDriverList(std::move(cameras), VirtualCameras::list(), pins);
}

void setV4l2Io(std::shared_ptr<V4l2Io> io)
{
    DeviceLayer &layer = deviceLayer();
    layer.io = io ? std::move(io) : linuxV4l2Io();
    layer.probes.clear();
    layer.pins.clear();
}

DriverPin DriverPin::at(std::size_t index)
{
    const std::vector<DriverEntry> drivers = captureDrivers();
    DriverPin pin;
    if (index >= drivers.size() || drivers[index].identity.empty())
        return pin;
    DeviceLayer &layer = deviceLayer();
    pin.m_id = ++layer.lastPin;
    layer.pins.emplace(pin.m_id,
                       PinnedDevice {drivers[index].identity, index, drivers[index].description});
    return pin;
}

bool DriverPin::holds(std::size_t index) const
{
    const auto &pins = deviceLayer().pins;
    const auto it = pins.find(m_id);
    return it != pins.end() && it->second.index == index;
}

void DriverPin::reset()
{
    if (m_id != 0)
        deviceLayer().pins.erase(std::exchange(m_id, 0));
}

} // namespace platform::vfw
