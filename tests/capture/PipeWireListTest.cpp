#include "CaptureTestSupport.h"

#include "platform/capture/DeviceList.h"
#include "platform/capture/PipeWireList.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <sys/socket.h>
#include <unistd.h>

namespace capturetest {
namespace {

std::string opened; // "v4l2", or the name of the PipeWire node opened

ListedV4l2Camera v4l2Camera(std::string name, std::string identity, std::string path)
{
    const auto open = [] { return (opened = "v4l2", std::unique_ptr<CaptureDriver>()); };
    return {{{name, "uvcvideo"}, identity, {}, PictureKind::Colour, true, open}, path};
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
        std::vector<PinnedDevice> pins = {};
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
         "not decode is left out",
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
        {"a pinned camera keeps its index while gone",
         {v4l2Camera("Webcam", "v4l2-id:w", "/dev/video0")},
         {pipeWireCamera("a", "Cam A")},
         "Webcam=v4l2-id:w@v4l2 | Cam B=pipewire:b@gone | Cam A=pipewire:a@a",
         {{"pipewire:b", 1, {"Cam B", "PipeWire"}}, {"v4l2-id:w", 0, {"Webcam", ""}}}},
        {"and returns to it, whichever path serves it",
         {v4l2Camera("Webcam", "v4l2-id:w", "/dev/video0")},
         {pipeWireCamera("a", "Cam A"), pipeWireCamera("b", "Cam B"),
          pipeWireCamera("v4l2_input.w", "W", "/dev/video0")},
         "Webcam=v4l2-id:w@v4l2_input.w | Cam B=pipewire:b@b | Cam A=pipewire:a@a",
         {{"pipewire:b", 1, {"Cam B", "PipeWire"}}, {"v4l2-id:w", 0, {"Webcam", ""}}}},
    };
    for (auto &c : cases)
        EXPECT_EQ(listed(std::move(c.v4l2), std::move(c.pipeWire), c.pins), c.expected) << c.what;

    // A camera only PipeWire serves has the kind its description or formats show; only a colour
    // one is a standard camera for the automatic choice.
    using enum PictureKind;
    std::vector<std::pair<PictureKind, bool>> kinds;
    for (const DeviceDescriptor &camera : mergeCameraLists(
             {},
             std::vector {pipeWireCamera("grey", "Mono", {}, true, {Greyscale}),
                          pipeWireCamera("face", "Face IR"),
                          pipeWireCamera("colour", "Test", {}, true, {Greyscale, Colour})},
             {}))
        kinds.emplace_back(camera.kind, camera.standardCamera);
    EXPECT_EQ(kinds,
              (std::vector<std::pair<PictureKind, bool>> {
                  {Greyscale, false}, {Infrared, false}, {Colour, true}}));
}

// Without a daemon (the environment points at an empty folder): no cameras at once, and the
// list, asked for once per driver index, stays cheap; a handed-in descriptor whose daemon hung up
// gives none within the list's bound.
TEST(PipeWireList, NoCamerasAtOnceAndTheListStaysCheapWhileNothingAnswers)
{
    std::vector<std::pair<const char *, QByteArray>> saved;
    for (const char *name : {"XDG_RUNTIME_DIR", "PIPEWIRE_REMOTE", "PIPEWIRE_RUNTIME_DIR",
                             "VEDEREVE_PIPEWIRE", "VEDEREVE_PIPEWIRE_FD"}) {
        if (qEnvironmentVariableIsSet(name))
            saved.emplace_back(name, qgetenv(name));
        qunsetenv(name);
    }
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    setPipeWireConnection({});
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(pipeWireCameras().empty());
    EXPECT_LT(clock.restart(), 1000);
    for (int i = 0; i < 200; ++i)
        EXPECT_TRUE(pipeWireCameras().empty());
    EXPECT_LT(clock.restart(), 50);
    EXPECT_EQ(openPipeWireCamera("test-camera")->connect(), -ENODEV);

    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
    ::close(pair[1]);
    setPipeWireConnection({PipeWireConnection::Mode::Fd, pair[0]});
    clock.restart();
    EXPECT_TRUE(pipeWireCameras().empty());
    EXPECT_LT(clock.restart(), 1500);
    ::close(pair[0]);
    qunsetenv("XDG_RUNTIME_DIR");
    for (const auto &[name, value] : saved)
        qputenv(name, value);
    setPipeWireConnection({});
}

} // namespace
} // namespace capturetest
