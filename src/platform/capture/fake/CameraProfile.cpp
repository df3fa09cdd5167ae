#include "platform/capture/fake/CameraProfile.h"

#include "platform/capture/Drivers.h"

#include <linux/videodev2.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <numeric>
#include <sstream>

namespace platform::vfw::fake {

namespace {

std::string_view trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

template<class T> bool number(std::string_view text, T &value)
{
    text = trimmed(text);
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

bool yesNo(std::string_view text, bool &value)
{
    value = text == "yes";
    return text == "yes" || text == "no";
}

// "640x480"
bool size(std::string_view text, std::pair<std::uint32_t, std::uint32_t> &value)
{
    const std::size_t x = text.find('x');
    return x != std::string_view::npos && number(text.substr(0, x), value.first)
        && number(text.substr(x + 1), value.second) && value.first > 0 && value.second > 0
        && value.first <= 8192 && value.second <= 8192;
}

// "'MJPG'" or "MJPG"; codes shorter than four characters are padded with spaces.
bool fourcc(std::string_view text, std::uint32_t &code)
{
    if (text.size() >= 2 && text.front() == '\'' && text.back() == '\'')
        text = text.substr(1, text.size() - 2);
    if (text.empty() || text.size() > 4)
        return false;
    char c[4] = {' ', ' ', ' ', ' '};
    std::copy(text.begin(), text.end(), c);
    code = v4l2_fourcc(c[0], c[1], c[2], c[3]);
    return true;
}

// "(30.000 fps)" as an interval in seconds: 1/30, 2/15 for 7.5, and so on.
bool interval(std::string_view line, FakeInterval &value)
{
    const std::size_t open = line.rfind('('), fps = line.find(" fps", open);
    if (open == std::string_view::npos || fps == std::string_view::npos)
        return false;
    double rate = 0;
    const std::string text(line.substr(open + 1, fps - open - 1));
    char *end = nullptr;
    rate = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || !(rate > 0.01 && rate < 10000))
        return false;
    const auto thousandths = std::uint32_t(std::lround(rate * 1000));
    const std::uint32_t divisor = std::gcd(1000u, thousandths);
    value = {1000 / divisor, thousandths / divisor};
    return true;
}

// "power_line_frequency" reads "Power Line Frequency", as the driver names it.
std::string controlName(std::string_view name)
{
    std::string out;
    bool start = true;
    for (const char c : name) {
        out += c == '_' ? ' ' : start ? char(std::toupper(static_cast<unsigned char>(c))) : c;
        start = c == '_';
    }
    return out;
}

struct Parser
{
    ParsedProfile result;
    enum class Mode { Keys, Formats, Controls } mode = Mode::Keys;
    int lineNumber = 0;
    bool metadata = false;

    FakeDeviceProfile *device()
    {
        return result.devices.empty() ? nullptr : &result.devices.back();
    }

    bool fail(std::string message)
    {
        if (!result.error)
            result.error = ProfileError {lineNumber, std::move(message)};
        return false;
    }

    void finishDevice()
    {
        FakeDeviceProfile *camera = device();
        if (!camera || !metadata)
            return;
        // The metadata node a USB video class camera brings: the next node, the next interface.
        FakeDeviceProfile node = *camera;
        auto next = [](std::string name) {
            if (!name.empty() && std::isdigit(static_cast<unsigned char>(name.back())))
                name.back() = char(name.back() + 1);
            return name;
        };
        std::size_t digits = node.devicePath.find_last_not_of("0123456789") + 1;
        std::uint32_t n = 0;
        number(std::string_view(node.devicePath).substr(digits), n);
        node.devicePath = node.devicePath.substr(0, digits) + std::to_string(n + 1);
        node.byIdName = next(node.byIdName);
        node.byPathName = next(node.byPathName);
        node.metadataNode = true;
        node.formats.clear();
        node.controls.clear();
        node.behaviour = {};
        result.devices.push_back(std::move(node));
        metadata = false;
    }

    bool key(std::string_view name, std::string_view value)
    {
        FakeDeviceProfile *d = device();
        if (!d)
            return fail("a key before the first [device]");
        FakeBehaviour &b = d->behaviour;
        using Text = std::string FakeDeviceProfile::*;
        static const std::pair<std::string_view, Text> kTexts[] = {
            {"node", &FakeDeviceProfile::devicePath}, {"card", &FakeDeviceProfile::card},
            {"driver", &FakeDeviceProfile::driver},   {"bus", &FakeDeviceProfile::busInfo},
            {"by-id", &FakeDeviceProfile::byIdName},  {"by-path", &FakeDeviceProfile::byPathName},
        };
        using Time = std::uint32_t FakeBehaviour::*;
        static const std::pair<std::string_view, Time> kTimes[] = {
            {"first-frame-ms", &FakeBehaviour::firstFrameMs},
            {"frame-interval-ms", &FakeBehaviour::frameIntervalMs},
            {"damaged-every", &FakeBehaviour::damagedEvery},
            {"stall-after-ms", &FakeBehaviour::stallAfterMs},
            {"unplug-after-ms", &FakeBehaviour::unplugAfterMs},
        };
        for (const auto &[key, field] : kTexts) {
            if (name == key) {
                d->*field = value;
                return true;
            }
        }
        for (const auto &[key, field] : kTimes) {
            if (name == key)
                return number(value, b.*field) || fail("bad value for " + std::string(name));
        }
        if (name == "damaged-at-start")
            return (number(value, b.damagedAtStart) && b.damagedAtStart >= 0)
                || fail("bad value for damaged-at-start");
        if (name == "metadata")
            return yesNo(value, metadata) || fail("metadata is yes or no");
        if (name == "busy")
            return yesNo(value, d->busy) || fail("busy is yes or no");
        if (name == "version") {
            std::uint32_t major = 0, minor = 0, patch = 0;
            const std::string text(value);
            if (std::sscanf(text.c_str(), "%u.%u.%u", &major, &minor, &patch) != 3)
                return fail("version is major.minor.patch");
            d->version = major << 16 | (minor & 0xFF) << 8 | (patch & 0xFF);
            return true;
        }
        if (name == "current") {
            const std::size_t space = value.find(' ');
            return (space != std::string_view::npos
                    && fourcc(value.substr(0, space), d->currentFormat)
                    && size(trimmed(value.substr(space + 1)), d->currentSize))
                || fail("current is a code and a size, as MJPG 640x480");
        }
        if (name == "jitter") {
            const std::string text(value);
            char *end = nullptr;
            b.jitter = std::strtod(text.c_str(), &end);
            return (end != text.c_str() && *end == '\0' && b.jitter >= 0 && b.jitter < 1)
                || fail("jitter is a fraction below 1");
        }
        return fail("unknown key " + std::string(name));
    }

    // One line pasted from v4l2-ctl --list-formats-ext.
    bool formatLine(std::string_view line)
    {
        FakeDeviceProfile &d = *device();
        if (line.starts_with("[")) {
            const std::size_t quote = line.find('\'');
            std::uint32_t code = 0;
            if (quote == std::string_view::npos || !fourcc(line.substr(quote, 6), code))
                return fail("a format line names its code in quotes");
            d.formats.push_back({code, {}, {}});
        } else if (line.starts_with("Size: Discrete ")) {
            std::pair<std::uint32_t, std::uint32_t> s;
            if (d.formats.empty() || !size(trimmed(line.substr(15)), s))
                return fail("a size needs a format before it and W x H");
            d.formats.back().sizes.push_back(s);
            d.formats.back().intervals.emplace_back();
        } else if (line.starts_with("Interval: Discrete ")) {
            FakeInterval i;
            if (d.formats.empty() || d.formats.back().intervals.empty() || !interval(line, i))
                return fail("an interval needs a size before it and its frame rate");
            d.formats.back().intervals.back().push_back(i);
        }
        // "ioctl:", "Type:", stepwise sizes and intervals: not modelled.
        return true;
    }

    // One line pasted from v4l2-ctl --list-ctrls-menus.
    bool controlLine(std::string_view line)
    {
        FakeDeviceProfile &d = *device();
        std::istringstream words {std::string(line)};
        std::string name, id, type;
        words >> name >> id >> type;
        std::uint32_t menuValue = 0;
        if (const std::size_t colon = line.find(':');
            colon != std::string_view::npos && number(line.substr(0, colon), menuValue)) {
            if (d.controls.empty() || d.controls.back().type != V4L2_CTRL_TYPE_MENU
                || menuValue > 255)
                return fail("a menu item needs a menu control before it");
            auto &items = d.controls.back().items;
            items.resize(std::max<std::size_t>(items.size(), menuValue + 1));
            items[menuValue] = trimmed(line.substr(colon + 1));
            return true;
        }
        if (!id.starts_with("0x"))
            return true; // a category ("User Controls")
        FakeControl control;
        control.name = controlName(name);
        control.id = std::uint32_t(std::strtoul(id.c_str(), nullptr, 16));
        control.type = type == "(int)" ? V4L2_CTRL_TYPE_INTEGER
            : type == "(bool)"         ? V4L2_CTRL_TYPE_BOOLEAN
            : type == "(menu)"         ? V4L2_CTRL_TYPE_MENU
                                       : 0;
        if (control.type == 0)
            return true; // kinds the driver does not offer
        control.maximum = control.type == V4L2_CTRL_TYPE_BOOLEAN ? 1 : 0;
        std::string item;
        while (words >> item) {
            const std::size_t equals = item.find('=');
            if (equals == std::string::npos)
                continue;
            const std::string_view key = std::string_view(item).substr(0, equals);
            const std::string_view value = std::string_view(item).substr(equals + 1);
            if (key == "min")
                number(value, control.minimum);
            else if (key == "max")
                number(value, control.maximum);
            else if (key == "step")
                number(value, control.step);
            else if (key == "default")
                number(value, control.defaultValue);
            else if (key == "flags" && value.find("read-only") != std::string_view::npos)
                control.flags |= V4L2_CTRL_FLAG_READ_ONLY;
        }
        d.controls.push_back(std::move(control));
        return true;
    }

    bool line(std::string_view raw)
    {
        ++lineNumber;
        const std::string_view text = trimmed(raw);
        if (text.empty() || text.starts_with('#'))
            return true;
        if (text == "[device]") {
            finishDevice();
            result.devices.emplace_back();
            result.devices.back().behaviour.timed = true;
            mode = Mode::Keys;
            return true;
        }
        if (const std::size_t equals = text.find(" = "); equals != std::string_view::npos) {
            mode = Mode::Keys;
            return key(trimmed(text.substr(0, equals)), trimmed(text.substr(equals + 3)));
        }
        if (text == "formats:" || text == "controls:") {
            if (!device())
                return fail("a list before the first [device]");
            mode = text == "formats:" ? Mode::Formats : Mode::Controls;
            return true;
        }
        switch (mode) {
        case Mode::Formats:
            return formatLine(text);
        case Mode::Controls:
            return controlLine(text);
        case Mode::Keys:
            break;
        }
        return fail("neither a key nor a pasted list");
    }
};

} // namespace

ParsedProfile parseCameraProfile(std::string_view text)
{
    Parser parser;
    while (!text.empty() && !parser.result.error) {
        const std::size_t end = text.find('\n');
        parser.line(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    }
    parser.finishDevice();
    for (const FakeDeviceProfile &d : parser.result.devices) {
        if (!parser.result.error && !d.metadataNode && (d.devicePath.empty() || d.formats.empty()))
            parser.result.error
                = ProfileError {parser.lineNumber, "a device needs a node and formats"};
    }
    return std::move(parser.result);
}

bool installCameraProfilesFromEnvironment()
{
    const char *paths = std::getenv("VEDEREVE_CAMERA_PROFILES");
    if (!paths)
        return true;
    auto io = std::make_shared<FakeV4l2Io>();
    std::istringstream list {std::string(paths)};
    std::string path;
    while (std::getline(list, path, ':')) {
        if (path.empty())
            continue;
        std::ifstream file(path);
        std::stringstream text;
        text << file.rdbuf();
        const ParsedProfile profile = parseCameraProfile(text.str());
        if (!file || profile.error) {
            std::fprintf(stderr, "VEDEREVE_CAMERA_PROFILES: %s:%d: %s\n", path.c_str(),
                         profile.error ? profile.error->line : 0,
                         profile.error ? profile.error->message.c_str() : "cannot be read");
            return false;
        }
        for (const FakeDeviceProfile &device : profile.devices)
            io->addDevice(device);
    }
    setV4l2Io(io);
    return true;
}

} // namespace platform::vfw::fake
