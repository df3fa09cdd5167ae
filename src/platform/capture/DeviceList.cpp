#include "platform/capture/DeviceList.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <map>

namespace platform::vfw {

namespace {

// What a caption adds for the pictures of a device that is not a colour camera.
std::string_view kindSuffix(PictureKind kind)
{
    switch (kind) {
    case PictureKind::Infrared:
        return " (infrared)";
    case PictureKind::Depth:
        return " (depth)";
    case PictureKind::Greyscale:
        return " (greyscale)";
    case PictureKind::Colour:
        break;
    }
    return {};
}

bool sameText(std::string_view a, std::string_view b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x))
            == std::tolower(static_cast<unsigned char>(y));
    });
}

// Face-login cameras name themselves "Integrated IR Camera", "...: USB2.0 IR", "Infrared
// Camera": the word IR or infrared on its own, never inside another word.
bool nameMarksInfrared(std::string_view name)
{
    std::size_t start = 0;
    while (start < name.size()) {
        std::size_t end = start;
        while (end < name.size() && std::isalnum(static_cast<unsigned char>(name[end])))
            ++end;
        const std::string_view word = name.substr(start, end - start);
        if (sameText(word, "IR") || sameText(word, "infrared"))
            return true;
        start = end + 1;
    }
    return false;
}

// A device that is gone: listed under its last caption, failing to connect.
class GoneDriver final : public CaptureDriver
{
public:
    int connect() override { return -ENODEV; }
    void disconnect() override { }
    bool isConnected() const override { return false; }
    std::vector<VideoFormat> formats() const override { return {}; }
    VideoFormat format() const override { return {}; }
    int setFormat(const VideoFormat &) override { return -ENODEV; }
    GrabbedFrame grab() override { return {}; }
    bool lost() const override { return true; }
    std::vector<DriverControl> controls() const override { return {}; }
    std::optional<std::int32_t> control(std::uint32_t) const override { return std::nullopt; }
    int setControl(std::uint32_t, std::int32_t) override { return -ENODEV; }
};

// Identical captions get the device's port, and where ports agree too (two nodes of one device),
// a number from the second on.
void makeCaptionsUnique(std::vector<DeviceDescriptor> &devices)
{
    std::map<std::string, int> count;
    for (const DeviceDescriptor &device : devices)
        ++count[device.description.name];
    for (DeviceDescriptor &device : devices) {
        if (count[device.description.name] > 1 && !device.port.empty())
            device.description.name += " (" + device.port + ")";
    }
    std::map<std::string, int> seen;
    for (DeviceDescriptor &device : devices) {
        const int n = ++seen[device.description.name];
        if (n > 1)
            device.description.name += " #" + std::to_string(n);
    }
}

} // namespace

PictureKind deviceKind(std::string_view name, std::span<const PictureKind> formatKinds)
{
    if (nameMarksInfrared(name))
        return PictureKind::Infrared;
    auto any = [&](PictureKind kind) {
        return std::find(formatKinds.begin(), formatKinds.end(), kind) != formatKinds.end();
    };
    if (formatKinds.empty() || any(PictureKind::Colour))
        return PictureKind::Colour;
    if (any(PictureKind::Infrared))
        return PictureKind::Infrared;
    return any(PictureKind::Depth) ? PictureKind::Depth : PictureKind::Greyscale;
}

std::vector<DriverEntry> buildDriverList(std::vector<DeviceDescriptor> cameras,
                                         std::vector<DeviceDescriptor> virtualCameras,
                                         std::span<const PinnedDevice> pins)
{
    std::stable_partition(cameras.begin(), cameras.end(),
                          [](const DeviceDescriptor &d) { return d.kind == PictureKind::Colour; });
    for (DeviceDescriptor &camera : cameras)
        camera.description.name += kindSuffix(camera.kind);
    std::move(virtualCameras.begin(), virtualCameras.end(), std::back_inserter(cameras));
    makeCaptionsUnique(cameras);

    std::vector<DriverEntry> list;
    list.reserve(cameras.size() + pins.size());
    for (DeviceDescriptor &device : cameras)
        list.push_back({std::move(device.description), std::move(device.identity), device.kind,
                        device.standardCamera, true, std::move(device.open)});

    // Pinned devices leave their place in the order and take the index they are pinned to, in
    // the order of those indices, so that each lands where it was.
    std::vector<const PinnedDevice *> ordered;
    for (const PinnedDevice &pin : pins)
        ordered.push_back(&pin);
    std::stable_sort(
        ordered.begin(), ordered.end(),
        [](const PinnedDevice *a, const PinnedDevice *b) { return a->index < b->index; });
    std::vector<DriverEntry> pinned;
    // A device pinned twice keeps its first place.
    std::erase_if(ordered, [&](const PinnedDevice *pin) {
        return std::find_if(
                   ordered.begin(), ordered.end(),
                   [&](const PinnedDevice *other) { return other->identity == pin->identity; })
            != std::find(ordered.begin(), ordered.end(), pin);
    });
    for (const PinnedDevice *pin : ordered) {
        const auto it = std::find_if(list.begin(), list.end(), [&](const DriverEntry &entry) {
            return entry.identity == pin->identity;
        });
        if (it == list.end()) {
            pinned.push_back({pin->description, pin->identity, PictureKind::Colour, false, false,
                              [] { return std::make_unique<GoneDriver>(); }});
            continue;
        }
        pinned.push_back(std::move(*it));
        list.erase(it);
    }
    for (std::size_t i = 0; i < pinned.size(); ++i) {
        const std::size_t at = std::min(ordered[i]->index, list.size());
        list.insert(list.begin() + std::ptrdiff_t(at), std::move(pinned[i]));
    }
    if (list.size() > kMaxDrivers)
        list.resize(kMaxDrivers);
    return list;
}

} // namespace platform::vfw
