#include "CaptureTestSupport.h"

#include "capture/DeviceChoice.h"
#include "platform/capture/DeviceList.h"
#include "platform/capture/PipeWireList.h"

#include <QTemporaryDir>

#include <linux/videodev2.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

namespace capturetest {
namespace {

// Which family a listed camera's driver comes from, told by the driver's own failure number.
class MarkedDriver final : public CaptureDriver
{
public:
    explicit MarkedDriver(int mark) : m_mark(mark) { }
    int connect() override { return m_mark; }
    void disconnect() override { }
    bool isConnected() const override { return false; }
    std::vector<VideoFormat> formats() const override { return {}; }
    VideoFormat format() const override { return {}; }
    int setFormat(const VideoFormat &) override { return 0; }
    GrabbedFrame grab() override { return {}; }
    std::vector<DriverControl> controls() const override { return {}; }
    std::optional<std::int32_t> control(std::uint32_t) const override { return std::nullopt; }
    int setControl(std::uint32_t, std::int32_t) override { return 0; }

private:
    int m_mark;
};

constexpr int kByV4l2 = -1001;
constexpr int kByPipeWire = -1002;

ListedV4l2Camera v4l2Camera(std::string name, std::string identity, std::string path,
                            PictureKind kind = PictureKind::Colour, bool standard = true)
{
    ListedV4l2Camera camera;
    camera.device.description = {std::move(name), "uvcvideo 6.1.0"};
    camera.device.identity = std::move(identity);
    camera.device.kind = kind;
    camera.device.standardCamera = standard;
    camera.device.open = [] { return std::make_unique<MarkedDriver>(kByV4l2); };
    camera.devicePath = std::move(path);
    return camera;
}

PipeWireCamera pipeWireCamera(std::string name, std::string description, std::string path = {},
                              bool decodable = true,
                              std::vector<PictureKind> kinds = {PictureKind::Colour})
{
    return {std::move(name), std::move(description), std::move(path), std::move(kinds), decodable};
}

// "caption=identity@family" for each entry, as the menu would list them.
std::string listed(const std::vector<DriverEntry> &list)
{
    std::string text;
    for (const DriverEntry &entry : list) {
        const int mark = entry.open()->connect();
        text += (text.empty() ? "" : " | ") + entry.description.name + "=" + entry.identity
            + (mark == kByPipeWire   ? "@pw"
                   : mark == kByV4l2 ? "@v4l2"
                                     : "@gone");
    }
    return text;
}

std::vector<std::string> openedNames;

std::vector<DriverEntry> merged(std::vector<ListedV4l2Camera> v4l2,
                                std::vector<PipeWireCamera> pipeWire,
                                std::span<const PinnedDevice> pins = {})
{
    const PipeWireOpener open = [](const std::string &name) -> std::unique_ptr<CaptureDriver> {
        openedNames.push_back(name);
        return std::make_unique<MarkedDriver>(kByPipeWire);
    };
    return buildDriverList(mergeCameraLists(std::move(v4l2), pipeWire, open), {}, pins);
}

TEST(PipeWireList, OneEntryPerCameraServedByPipeWireWhenItDecodesUnderTheV4l2Identity)
{
    struct Case
    {
        const char *what;
        std::vector<ListedV4l2Camera> v4l2;
        std::vector<PipeWireCamera> pipeWire;
        std::string expected;
    } cases[] = {
        {"a camera both families see is listed once, as the V4L2 node, served by PipeWire",
         {v4l2Camera("Webcam", "v4l2-id:usb-Webcam", "/dev/video0")},
         {pipeWireCamera("v4l2_input.pci-0000_00_14.0-usb-0_1.0", "Webcam (V4L2)", "/dev/video0")},
         "Webcam=v4l2-id:usb-Webcam@pw"},
        {"a node whose formats we do not decode leaves the camera to V4L2",
         {v4l2Camera("Webcam", "v4l2-id:usb-Webcam", "/dev/video0")},
         {pipeWireCamera("v4l2_input.a", "Webcam (V4L2)", "/dev/video0", false)},
         "Webcam=v4l2-id:usb-Webcam@v4l2"},
        {"without PipeWire the V4L2 cameras stand alone",
         {v4l2Camera("Webcam", "v4l2-id:w", "/dev/video0"),
          v4l2Camera("Other", "v4l2-id:o", "/dev/video2")},
         {},
         "Webcam=v4l2-id:w@v4l2 | Other=v4l2-id:o@v4l2"},
        {"a camera only PipeWire serves comes after the V4L2 ones, named by its node",
         {v4l2Camera("Webcam", "v4l2-id:w", "/dev/video0")},
         {pipeWireCamera("gst-cam", "GstCam"), pipeWireCamera("test-camera", "Test Camera")},
         "Webcam=v4l2-id:w@v4l2 | GstCam=pipewire:gst-cam@pw | "
         "Test Camera=pipewire:test-camera@pw"},
        {"a PipeWire-only node with nothing we decode is not listed",
         {},
         {pipeWireCamera("h264-cam", "H264 Cam", {}, false)},
         ""},
        {"a node of a device V4L2 does not list is a PipeWire camera",
         {v4l2Camera("Webcam", "v4l2-id:w", "/dev/video0")},
         {pipeWireCamera("v4l2_input.b", "Capture Card", "/dev/video4")},
         "Webcam=v4l2-id:w@v4l2 | Capture Card=pipewire:v4l2_input.b@pw"},
        {"identical captions from the two families are told apart",
         {v4l2Camera("Cam", "v4l2-id:a", "/dev/video0")},
         {pipeWireCamera("virtual", "Cam")},
         "Cam=v4l2-id:a@v4l2 | Cam #2=pipewire:virtual@pw"},
    };
    for (auto &c : cases)
        EXPECT_EQ(listed(merged(std::move(c.v4l2), std::move(c.pipeWire))), c.expected) << c.what;

    openedNames.clear();
    merged({v4l2Camera("Webcam", "v4l2-id:w", "/dev/video0")},
           {pipeWireCamera("v4l2_input.w", "W", "/dev/video0")})[0]
        .open();
    EXPECT_EQ(openedNames, std::vector<std::string> {"v4l2_input.w"});
}

TEST(PipeWireList, InfraredRuleAppliesToBothFamiliesAndPipeWireColourCountsAsStandard)
{
    using enum PictureKind;
    const std::vector<DriverEntry> list = merged(
        {v4l2Camera("Integrated IR Camera", "v4l2-id:ir", "/dev/video2", Infrared, false)},
        {pipeWireCamera("v4l2_input.ir", "Integrated IR Camera", "/dev/video2", true, {Infrared}),
         pipeWireCamera("grey", "Mono Sensor", {}, true, {Greyscale}),
         pipeWireCamera("ir-by-name", "Face IR", {}, true, {Colour}),
         pipeWireCamera("colour", "Test Camera", {}, true, {Greyscale, Colour})});
    EXPECT_EQ(listed(list),
              "Test Camera=pipewire:colour@pw | "
              "Integrated IR Camera (infrared)=v4l2-id:ir@pw | "
              "Mono Sensor (greyscale)=pipewire:grey@pw | "
              "Face IR (infrared)=pipewire:ir-by-name@pw");
    std::vector<bool> standard;
    for (const DriverEntry &entry : list)
        standard.push_back(entry.standardCamera);
    EXPECT_EQ(standard, (std::vector<bool> {true, false, false, false}));

    // With nothing chosen yet, a PipeWire-only colour camera is the one taken.
    std::vector<capture::DriverListing> listing;
    for (const DriverEntry &entry : list)
        listing.push_back({entry.description.name, entry.identity, entry.standardCamera});
    std::rotate(listing.begin(), listing.begin() + 1, listing.end());
    EXPECT_EQ(capture::chooseDevice(listing, -1, "").index, 3);
}

TEST(PipeWireList, PinnedCameraKeepsItsIndexWhileGoneAndReturnsToItWhicheverPathServesIt)
{
    const std::vector<PinnedDevice> pins
        = {{"pipewire:cam-b", 1, {"Cam B", "PipeWire"}}, {"v4l2-id:w", 0, {"Webcam", ""}}};
    auto cameras = [](bool bPresent, bool webcamOnPipeWire) {
        std::vector<PipeWireCamera> pw = {pipeWireCamera("cam-a", "Cam A")};
        if (bPresent)
            pw.push_back(pipeWireCamera("cam-b", "Cam B"));
        if (webcamOnPipeWire)
            pw.push_back(pipeWireCamera("v4l2_input.w", "Webcam node", "/dev/video0"));
        return pw;
    };
    EXPECT_EQ(listed(merged({v4l2Camera("Webcam", "v4l2-id:w", "/dev/video0")},
                            cameras(false, false), pins)),
              "Webcam=v4l2-id:w@v4l2 | Cam B=pipewire:cam-b@gone | Cam A=pipewire:cam-a@pw");
    EXPECT_EQ(listed(merged({v4l2Camera("Webcam", "v4l2-id:w", "/dev/video0")}, cameras(true, true),
                            pins)),
              "Webcam=v4l2-id:w@pw | Cam B=pipewire:cam-b@pw | Cam A=pipewire:cam-a@pw");
}

// The daemon is found through the environment; each test here points it at nothing.
class NoDaemon : public ::testing::Test
{
protected:
    NoDaemon()
    {
        for (const char *name : kNames) {
            if (const char *value = std::getenv(name))
                saved.emplace_back(name, value);
            unsetenv(name);
        }
        setenv("XDG_RUNTIME_DIR", qPrintable(runtime.path()), 1);
    }
    ~NoDaemon() override
    {
        for (const char *name : kNames)
            unsetenv(name);
        for (const auto &[name, value] : saved)
            setenv(name.c_str(), value.c_str(), 1);
        setPipeWireConnection({});
    }

    static constexpr const char *kNames[]
        = {"XDG_RUNTIME_DIR", "PIPEWIRE_REMOTE", "PIPEWIRE_RUNTIME_DIR", "VEDEREVE_PIPEWIRE",
           "VEDEREVE_PIPEWIRE_FD"};
    QTemporaryDir runtime;
    std::vector<std::pair<std::string, std::string>> saved;
};

std::int64_t msSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now()
                                                                 - start)
        .count();
}

TEST_F(NoDaemon, NoCamerasAtOnceAndTheListStaysCheapWhileNothingAnswers)
{
    setPipeWireConnection({});
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(pipeWireCameras().empty());
    EXPECT_LT(msSince(start), 1000);
    // The device list is asked for once per driver index: a missing daemon is not looked for
    // again each time.
    start = std::chrono::steady_clock::now();
    for (int i = 0; i < 200; ++i)
        EXPECT_TRUE(pipeWireCameras().empty());
    EXPECT_LT(msSince(start), 50);
    EXPECT_EQ(openPipeWireCamera("test-camera")->connect(), -ENODEV);

    // A handed-in descriptor whose daemon hung up: no cameras, no wait beyond the list's bound.
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
    ::close(pair[1]);
    setPipeWireConnection({PipeWireConnection::Mode::Fd, pair[0]});
    start = std::chrono::steady_clock::now();
    EXPECT_TRUE(pipeWireCameras().empty());
    EXPECT_LT(msSince(start), 1500);
    ::close(pair[0]);
}

} // namespace
} // namespace capturetest
