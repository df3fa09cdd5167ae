#include "CaptureTestSupport.h"

#include "capture/DeviceChoice.h"
#include "platform/capture/DeviceList.h"
#include "platform/capture/PipeWireList.h"

#include <QTemporaryDir>

#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

namespace capturetest {
namespace {

std::string opened; // "v4l2", or the name of the PipeWire node opened

ListedV4l2Camera v4l2Camera(std::string name, std::string identity, std::string path,
                            PictureKind kind = PictureKind::Colour)
{
    ListedV4l2Camera camera;
    camera.device = {{std::move(name), "uvcvideo"},
                     std::move(identity),
                     {},
                     kind,
                     kind == PictureKind::Colour,
                     [] { return (opened = "v4l2", std::unique_ptr<CaptureDriver>()); }};
    camera.devicePath = std::move(path);
    return camera;
}

PipeWireCamera pipeWireCamera(std::string name, std::string description, std::string path = {},
                              bool decodable = true,
                              std::vector<PictureKind> kinds = {PictureKind::Colour})
{
    return {std::move(name), std::move(description), std::move(path), std::move(kinds), decodable};
}

// "caption=identity@what serves it" for each entry, as the menu lists them.
std::string listed(std::vector<ListedV4l2Camera> v4l2, std::vector<PipeWireCamera> pipeWire,
                   std::span<const PinnedDevice> pins = {})
{
    const PipeWireOpener open
        = [](const std::string &name) { return (opened = name, std::unique_ptr<CaptureDriver>()); };
    std::string text;
    for (const DriverEntry &entry :
         buildDriverList(mergeCameraLists(std::move(v4l2), pipeWire, open), {}, pins)) {
        opened = "gone";
        if (entry.present)
            entry.open();
        text += (text.empty() ? "" : " | ") + entry.description.name + "=" + entry.identity + "@"
            + opened;
    }
    return text;
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
         {v4l2Camera("Webcam", "v4l2-id:w", "/dev/video0"),
          v4l2Camera("Other", "v4l2-id:o", "/dev/video2")},
         {pipeWireCamera("v4l2_input.a", "Webcam (V4L2)", "/dev/video0")},
         "Webcam=v4l2-id:w@v4l2_input.a | Other=v4l2-id:o@v4l2"},
        {"a node whose formats we do not decode leaves the camera to V4L2",
         {v4l2Camera("Webcam", "v4l2-id:w", "/dev/video0")},
         {pipeWireCamera("v4l2_input.a", "Webcam (V4L2)", "/dev/video0", false)},
         "Webcam=v4l2-id:w@v4l2"},
        {"a camera only PipeWire serves comes after the V4L2 ones, named by its node; one we do "
         "not "
         "decode is left out",
         {v4l2Camera("Webcam", "v4l2-id:w", "/dev/video0")},
         {pipeWireCamera("gst", "GstCam"), pipeWireCamera("h264", "H264", {}, false),
          pipeWireCamera("test", "Test")},
         "Webcam=v4l2-id:w@v4l2 | GstCam=pipewire:gst@gst | Test=pipewire:test@test"},
        {"a node of a device V4L2 does not list is a PipeWire camera",
         {v4l2Camera("Webcam", "v4l2-id:w", "/dev/video0")},
         {pipeWireCamera("v4l2_input.b", "Capture Card", "/dev/video4")},
         "Webcam=v4l2-id:w@v4l2 | Capture Card=pipewire:v4l2_input.b@v4l2_input.b"},
        {"identical captions from the two families are told apart",
         {v4l2Camera("Cam", "v4l2-id:a", "/dev/video0")},
         {pipeWireCamera("virtual", "Cam")},
         "Cam=v4l2-id:a@v4l2 | Cam #2=pipewire:virtual@virtual"},
        {"the infrared rule applies to both families",
         {v4l2Camera("Integrated IR Camera", "v4l2-id:ir", "/dev/video2", PictureKind::Infrared)},
         {pipeWireCamera("v4l2_input.ir", "Integrated IR Camera", "/dev/video2", true,
                         {PictureKind::Infrared}),
          pipeWireCamera("grey", "Mono", {}, true, {PictureKind::Greyscale}),
          pipeWireCamera("ir-by-name", "Face IR"),
          pipeWireCamera("colour", "Test", {}, true,
                         {PictureKind::Greyscale, PictureKind::Colour})},
         "Test=pipewire:colour@colour | Integrated IR Camera (infrared)=v4l2-id:ir@v4l2_input.ir | "
         "Mono (greyscale)=pipewire:grey@grey | Face IR (infrared)=pipewire:ir-by-name@ir-by-name"},
    };
    for (auto &c : cases)
        EXPECT_EQ(listed(std::move(c.v4l2), std::move(c.pipeWire)), c.expected) << c.what;
}

TEST(PipeWireList, PipeWireColourCameraCountsAsStandardForTheAutomaticChoice)
{
    const std::vector<DriverEntry> list = buildDriverList(
        mergeCameraLists(
            {v4l2Camera("IR", "v4l2-id:ir", "/dev/video2", PictureKind::Infrared)},
            std::vector {pipeWireCamera("grey", "Mono", {}, true, {PictureKind::Greyscale}),
                         pipeWireCamera("colour", "Test")},
            {}),
        {}, {});
    std::vector<capture::DriverListing> listing;
    for (const DriverEntry &entry : list)
        listing.push_back({entry.description.name, entry.identity, entry.standardCamera});
    std::rotate(listing.begin(), listing.begin() + 1, listing.end()); // the colour camera last
    EXPECT_EQ(capture::chooseDevice(listing, -1, "").index, 2);
}

TEST(PipeWireList, PinnedCameraKeepsItsIndexWhileGoneAndReturnsToItWhicheverPathServesIt)
{
    const std::vector<PinnedDevice> pins
        = {{"pipewire:b", 1, {"Cam B", "PipeWire"}}, {"v4l2-id:w", 0, {"Webcam", ""}}};
    auto cameras = [](bool bPresent, bool webcamOnPipeWire) {
        std::vector<PipeWireCamera> pw = {pipeWireCamera("a", "Cam A")};
        if (bPresent)
            pw.push_back(pipeWireCamera("b", "Cam B"));
        if (webcamOnPipeWire)
            pw.push_back(pipeWireCamera("v4l2_input.w", "Webcam node", "/dev/video0"));
        return pw;
    };
    EXPECT_EQ(
        listed({v4l2Camera("Webcam", "v4l2-id:w", "/dev/video0")}, cameras(false, false), pins),
        "Webcam=v4l2-id:w@v4l2 | Cam B=pipewire:b@gone | Cam A=pipewire:a@a");
    EXPECT_EQ(listed({v4l2Camera("Webcam", "v4l2-id:w", "/dev/video0")}, cameras(true, true), pins),
              "Webcam=v4l2-id:w@v4l2_input.w | Cam B=pipewire:b@b | Cam A=pipewire:a@a");
}

// Without a daemon (the environment points at an empty folder): no cameras at once, and the
// list, asked for once per driver index, stays cheap; a handed-in descriptor whose daemon hung up
// gives none within the list's bound.
TEST(PipeWireList, NoCamerasAtOnceAndTheListStaysCheapWhileNothingAnswers)
{
    const char *names[] = {"XDG_RUNTIME_DIR", "PIPEWIRE_REMOTE", "PIPEWIRE_RUNTIME_DIR",
                           "VEDEREVE_PIPEWIRE", "VEDEREVE_PIPEWIRE_FD"};
    std::vector<std::pair<std::string, std::string>> saved;
    for (const char *name : names) {
        if (const char *value = std::getenv(name))
            saved.emplace_back(name, value);
        unsetenv(name);
    }
    QTemporaryDir runtime;
    setenv("XDG_RUNTIME_DIR", qPrintable(runtime.path()), 1);
    const auto msSince = [](auto start) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now() - start)
            .count();
    };

    setPipeWireConnection({});
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(pipeWireCameras().empty());
    EXPECT_LT(msSince(start), 1000);
    start = std::chrono::steady_clock::now();
    for (int i = 0; i < 200; ++i)
        EXPECT_TRUE(pipeWireCameras().empty());
    EXPECT_LT(msSince(start), 50);
    EXPECT_EQ(openPipeWireCamera("test-camera")->connect(), -ENODEV);

    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
    ::close(pair[1]);
    setPipeWireConnection({PipeWireConnection::Mode::Fd, pair[0]});
    start = std::chrono::steady_clock::now();
    EXPECT_TRUE(pipeWireCameras().empty());
    EXPECT_LT(msSince(start), 1500);
    ::close(pair[0]);

    for (const char *name : names)
        unsetenv(name);
    for (const auto &[name, value] : saved)
        setenv(name.c_str(), value.c_str(), 1);
    setPipeWireConnection({});
}

} // namespace
} // namespace capturetest
