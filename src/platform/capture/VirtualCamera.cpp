#include "platform/capture/VirtualCamera.h"

#include "platform/capture/CaptureLog.h"
#include "platform/capture/FrameCodec.h"
#include "platform/capture/TestPicture.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace platform::vfw {

namespace {

struct CameraState
{
    int number = 1;
    VirtualCameraConfig config;
    VideoFormat format;
    PictureSettings settings;
    std::uint32_t grabs = 0;
    bool unplugged = false;
};

struct Registry
{
    bool loaded = false;
    std::vector<std::shared_ptr<CameraState>> cameras;
};

Registry &registry()
{
    static Registry instance;
    return instance;
}

void install(std::vector<VirtualCameraConfig> configs)
{
    Registry &r = registry();
    r.loaded = true;
    r.cameras.clear();
    for (VirtualCameraConfig &config : configs) {
        auto state = std::make_shared<CameraState>();
        state->number = int(r.cameras.size()) + 1;
        if (config.name.empty())
            config.name = "VEDerEve Virtual Camera " + std::to_string(state->number);
        if (config.formats.empty())
            config.formats = VirtualCameras::defaultFormats();
        state->format = config.formats.front();
        state->config = std::move(config);
        r.cameras.push_back(std::move(state));
    }
}

void loadFromEnvironment()
{
    const char *text = std::getenv("VEDEREVE_VIRTUAL_CAMERAS");
    if (text) {
        if (auto configs = VirtualCameras::parse(text)) {
            install(std::move(*configs));
            return;
        }
        qCWarning(lcCapture, "VEDEREVE_VIRTUAL_CAMERAS=\"%s\" is not understood; ignored", text);
    }
    install({});
}

Registry &loadedRegistry()
{
    if (!registry().loaded)
        loadFromEnvironment();
    return registry();
}

bool parseNumber(std::string_view text, int &value)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

// "rgb24@176x144" and the like.
std::optional<VideoFormat> parseFormat(std::string_view item)
{
    const std::size_t at = item.find('@'), x = item.find('x', at);
    if (at == std::string_view::npos || x == std::string_view::npos)
        return std::nullopt;
    const FormatInfo *info = formatNamed(item.substr(0, at));
    VideoFormat format;
    if (!info || !parseNumber(item.substr(at + 1, x - at - 1), format.width)
        || !parseNumber(item.substr(x + 1), format.height))
        return std::nullopt;
    format.compression = info->compression;
    format.bitCount = info->bitCount;
    // Odd sizes would need chroma rules of their own; a camera does not offer them.
    if (!frameBytes(format) || format.width % 2 || format.height % 2)
        return std::nullopt;
    return format;
}

std::optional<VirtualCameraConfig> parseCamera(std::string_view text)
{
    VirtualCameraConfig config;
    while (!text.empty()) {
        const std::size_t comma = text.find(',');
        const std::string_view item = text.substr(0, comma);
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
        if (item == "refuse")
            config.refuseConnect = true;
        else if (item == "empty")
            config.emptyFrames = true;
        else if (item == "errors")
            config.reportErrors = true;
        else if (item == "fault")
            config.faultInGrab = true;
        else if (item == "stall")
            config.stall = true;
        else if (item.substr(0, 7) == "unplug=") {
            if (!parseNumber(item.substr(7), config.unplugAfterGrabs)
                || config.unplugAfterGrabs < 0)
                return std::nullopt;
        } else if (item.substr(0, 5) == "name=" && item.size() > 5)
            config.name = std::string(item.substr(5));
        else if (auto format = parseFormat(item))
            config.formats.push_back(*format);
        else
            return std::nullopt;
    }
    return config;
}

std::string longErrorText(const std::string &name)
{
    std::string text;
    while (text.size() < 600)
        text += name + ": simulated driver error. ";
    text.resize(600);
    return text;
}

// A write through a null address the compiler cannot see: a real access violation, as a
// misbehaving driver would cause inside a grab. The undefined-behaviour checker is told that it
// is meant.
__attribute__((no_sanitize("null"))) void faultHere()
{
    static int *volatile nowhere = nullptr;
    *nowhere = 1; // NOLINT(clang-analyzer-core.NullDereference): the fault is the point
}

class VirtualCameraDriver final : public CaptureDriver
{
public:
    explicit VirtualCameraDriver(std::shared_ptr<CameraState> state)
        : m_state(std::move(state)), m_picture(m_state->number, m_state->config.name)
    { }

    int connect() override
    {
        if (m_state->unplugged)
            return -ENODEV;
        if (m_state->config.refuseConnect)
            return -EBUSY;
        m_connected = true;
        m_frameNumber = 0;
        m_connectedAt = std::chrono::steady_clock::now();
        return 0;
    }
    void disconnect() override { m_connected = false; }
    bool isConnected() const override { return m_connected; }
    bool lost() const override { return m_connected && m_state->unplugged; }

    std::vector<VideoFormat> formats() const override
    {
        return m_connected ? m_state->config.formats : std::vector<VideoFormat>();
    }
    VideoFormat format() const override { return m_state->format; }
    int setFormat(const VideoFormat &wanted) override
    {
        if (!m_connected || m_state->unplugged)
            return m_connected ? -ENODEV : -ENOTCONN;
        m_state->format = nearestFormat(m_state->config.formats, wanted, m_state->format)
                              .value_or(m_state->format);
        return 0;
    }

    GrabbedFrame grab() override;

    std::vector<DriverControl> controls() const override
    {
        if (!m_connected)
            return {};
        using Kind = DriverControl::Kind;
        return {
            {kVirtualBrightness, "Brightness", Kind::Integer, -100, 100, 1, 0, {}},
            {kVirtualContrast, "Contrast", Kind::Integer, 0, 200, 1, 100, {}},
            {kVirtualMirror, "Mirror", Kind::Boolean, 0, 1, 1, 0, {}},
            {kVirtualPattern,
             "Pattern",
             Kind::Menu,
             0,
             1,
             1,
             0,
             {{0, "Colour bars"}, {1, "Grey steps"}}},
        };
    }
    std::optional<std::int32_t> control(std::uint32_t id) const override
    {
        const PictureSettings &s = m_state->settings;
        switch (id) {
        case kVirtualBrightness:
            return s.brightness;
        case kVirtualContrast:
            return s.contrast;
        case kVirtualMirror:
            return s.mirror ? 1 : 0;
        case kVirtualPattern:
            return s.pattern;
        default:
            return std::nullopt;
        }
    }
    int setControl(std::uint32_t id, std::int32_t value) override
    {
        if (!m_connected)
            return -ENOTCONN;
        PictureSettings &s = m_state->settings;
        switch (id) {
        case kVirtualBrightness:
            s.brightness = std::clamp(value, -100, 100);
            return 0;
        case kVirtualContrast:
            s.contrast = std::clamp(value, 0, 200);
            return 0;
        case kVirtualMirror:
            s.mirror = value != 0;
            return 0;
        case kVirtualPattern:
            s.pattern = std::clamp(value, 0, 1);
            return 0;
        default:
            return -EINVAL;
        }
    }

private:
    std::shared_ptr<CameraState> m_state;
    TestPicture m_picture;
    bool m_connected = false;
    std::uint32_t m_frameNumber = 0;
    std::chrono::steady_clock::time_point m_connectedAt;

    std::vector<std::uint32_t> m_pixels;
    std::vector<std::uint8_t> m_frame;
    // The format m_frame holds a whole frame of, and the areas of the last frame that changed.
    VideoFormat m_lastFormat {0, 0, 0, 0};
    std::vector<TestPicture::Area> m_changed;
    FrameEncoder m_encoder;
};

GrabbedFrame VirtualCameraDriver::grab()
{
    if (!m_connected)
        return {};
    const VirtualCameraConfig &config = m_state->config;
    // Before anything is touched, so that nothing is left half-done when the fault is caught.
    if (config.faultInGrab)
        faultHere();
    if (m_state->unplugged)
        return {};
    if (config.unplugAfterGrabs >= 0 && m_state->grabs >= std::uint32_t(config.unplugAfterGrabs)) {
        m_state->unplugged = true;
        reportError(ENODEV, "The camera " + config.name + " was disconnected.");
        return {};
    }
    ++m_state->grabs;
    if (config.reportErrors)
        reportError(kVirtualErrorNumber, longErrorText(config.name));
    if (config.stall) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kGrabWaitMs));
        return {};
    }
    if (config.emptyFrames)
        return {};

    const VideoFormat format = m_state->format;
    m_pixels.resize(std::size_t(format.width) * std::size_t(format.height));
    m_picture.renderChanges(m_pixels.data(), format.width, format.height, m_state->settings,
                            m_frameNumber++, m_changed);
    const PictureView picture {reinterpret_cast<const std::uint8_t *>(m_pixels.data()),
                               format.width, format.height, format.width * 4};
    // Where the format's pixels stand alone, a frame changes only where the picture moves: the
    // rest of the last frame stays as it is, and only the areas that changed are encoded.
    bool updated = format == m_lastFormat;
    for (std::size_t i = 0; updated && i < m_changed.size(); ++i) {
        const TestPicture::Area &area = m_changed[i];
        updated = m_encoder.encodeArea(format, picture, area.x, area.y, area.width, area.height,
                                       m_frame);
    }
    if (!updated) {
        m_lastFormat = {0, 0, 0, 0};
        if (!m_encoder.encode(format, picture, m_frame))
            return {};
        m_lastFormat = format;
    }
    GrabbedFrame frame;
    frame.bytes = m_frame;
    frame.timeCapturedMs = std::uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(
                                             std::chrono::steady_clock::now() - m_connectedAt)
                                             .count());
    return frame;
}

} // namespace

void VirtualCameras::configure(std::vector<VirtualCameraConfig> cameras)
{
    install(std::move(cameras));
}

void VirtualCameras::reset()
{
    loadFromEnvironment();
}

void VirtualCameras::unplug(std::size_t index)
{
    Registry &r = loadedRegistry();
    if (index < r.cameras.size())
        r.cameras[index]->unplugged = true;
}

std::optional<std::vector<VirtualCameraConfig>> VirtualCameras::parse(std::string_view text)
{
    std::vector<VirtualCameraConfig> cameras;
    int count = 0;
    if (parseNumber(text, count)) {
        if (count < 0 || count > 10)
            return std::nullopt;
        cameras.resize(std::size_t(count));
        return cameras;
    }
    for (;;) {
        const std::size_t semicolon = text.find(';');
        auto camera = parseCamera(text.substr(0, semicolon));
        if (!camera || cameras.size() >= 10)
            return std::nullopt;
        cameras.push_back(std::move(*camera));
        if (semicolon == std::string_view::npos)
            return cameras;
        text = text.substr(semicolon + 1);
    }
}

std::vector<VideoFormat> VirtualCameras::defaultFormats()
{
    return {
        {BI_RGB, 24, 176, 144},       {BI_RGB, 24, 320, 240},      {BI_RGB, 24, 640, 480},
        {FOURCC_YUY2, 16, 320, 240},  {FOURCC_YUY2, 16, 640, 480}, {FOURCC_MJPG, 24, 640, 480},
        {FOURCC_MJPG, 24, 1280, 720},
    };
}

std::vector<DeviceDescriptor> VirtualCameras::list()
{
    Registry &r = loadedRegistry();
    std::vector<DeviceDescriptor> entries;
    for (const std::shared_ptr<CameraState> &state : r.cameras) {
        if (state->unplugged)
            continue;
        DeviceDescriptor entry;
        entry.description = {state->config.name, "vedereve-virtual 1.0"};
        entry.identity = "virtual:" + std::to_string(state->number);
        entry.port = "virtual " + std::to_string(state->number);
        entry.open = [state] { return std::make_unique<VirtualCameraDriver>(state); };
        entries.push_back(std::move(entry));
    }
    return entries;
}

} // namespace platform::vfw
