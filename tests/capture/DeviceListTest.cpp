#include "CaptureTestSupport.h"

#include "capture/FrameWatch.h"
#include "platform/capture/DeviceList.h"
#include "platform/capture/PipeWireFormats.h"
#include "platform/capture/PipeWireList.h"
#include "platform/capture/fake/CameraProfile.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <linux/videodev2.h>
#include <spa/param/props.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>

namespace capturetest {
namespace {

DeviceDescriptor device(std::string name, std::string identity, std::string port = {},
                        PictureKind kind = PictureKind::Colour)
{
    return {{std::move(name), {}}, std::move(identity), std::move(port), kind, false, {}};
}

std::string captions(const std::vector<DriverEntry> &list)
{
    std::string text;
    for (const DriverEntry &entry : list)
        text += (text.empty() ? "" : " | ") + entry.description.name
            + (entry.present ? "" : " (gone)");
    return text;
}

TEST(DeviceList, ColourFirstCaptionsUniqueGoneDevicesKeepTheirPinnedIndex)
{
    struct Case
    {
        const char *what;
        std::vector<DeviceDescriptor> cameras;
        std::vector<PinnedDevice> pins;
        std::string expected;
    } cases[] = {
        {"infrared, depth and greyscale nodes after the colour cameras, marked",
         {device("IR", "i", "", PictureKind::Infrared), device("Cam", "c"),
          device("Depth", "d", "", PictureKind::Depth),
          device("Mono", "m", "", PictureKind::Greyscale)},
         {},
         "Cam | IR (infrared) | Depth (depth) | Mono (greyscale)"},
        {"identical names: the port, then a number where the ports agree too",
         {device("Cam", "a", "USB 1"), device("Cam", "b", "USB 2"), device("Solo", "s", "USB 3"),
          device("Node", "n1", "USB 4"), device("Node", "n2", "USB 4")},
         {},
         "Cam (USB 1) | Cam (USB 2) | Solo | Node (USB 4) | Node (USB 4) #2"},
        {"pinned beyond the list: at its end; pinned twice: once",
         {device("Cam A", "a")},
         {{"z", 0, {"Gone Cam", ""}}, {"y", 7, {"Far", ""}}, {"z", 3, {"Gone Cam", ""}}},
         "Gone Cam (gone) | Cam A | Far (gone)"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(captions(buildDriverList(c.cameras, {}, c.pins)), c.expected);
    }
    // At most ten, virtual cameras after every real one.
    std::vector<DeviceDescriptor> many;
    for (int i = 0; i < 12; ++i)
        many.push_back(device("Cam " + std::to_string(i), std::to_string(i)));
    const auto list = buildDriverList(many, {device("Virtual", "v")}, {});
    ASSERT_EQ(list.size(), kMaxDrivers);
    EXPECT_EQ(list.back().description.name, "Cam 9");
    EXPECT_EQ(captions(buildDriverList({device("IR", "i", "", PictureKind::Infrared)},
                                       {device("Virtual", "v")}, {})),
              "IR (infrared) | Virtual");
    const PinnedDevice gone {"b", 1, {"Cam B", ""}};
    EXPECT_EQ(buildDriverList({}, {}, {&gone, 1}).front().open()->connect(), -ENODEV);
}

TEST(DeviceList, KindFromTheNameOrFromEveryFormat)
{
    using enum PictureKind;
    const struct
    {
        const char *name;
        std::vector<PictureKind> formats;
        PictureKind kind;
    } cases[] = {
        {"Integrated IR Camera", {Colour}, Infrared},
        {"HD Camera: USB2.0 IR", {Greyscale, Colour}, Infrared},
        {"Infrared Camera", {}, Infrared},
        {"FIREWIRE Camera", {Colour}, Colour}, // "IR" inside a word is no mark
        {"Integrated Camera: Integrated I", {Greyscale}, Greyscale},
        {"Depth Sensor", {Depth, Greyscale}, Depth},
        {"Stereo Module", {Infrared, Depth}, Infrared},
        {"Webcam", {Greyscale, Colour}, Colour},
        {"Stream only", {}, Colour},
    };
    for (const auto &c : cases)
        EXPECT_EQ(deviceKind(c.name, c.formats), c.kind) << c.name;
    EXPECT_EQ(std::vector({pictureKindOf(V4L2_PIX_FMT_GREY), pictureKindOf(V4L2_PIX_FMT_Z16),
                           pictureKindOf(V4L2_PIX_FMT_SBGGR8), pictureKindOf(V4L2_PIX_FMT_H264)}),
              std::vector({Greyscale, Depth, Colour, Colour}));
}

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

// "caption=identity@what serves it" for each entry, as the menu lists them; ", not standard" after
// one the automatic choice passes over.
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
            + opened + (entry.standardCamera ? "" : ", not standard");
    }
    return text;
}

TEST(PipeWireList, OneEntryPerCameraServedByPipeWireWhenItDecodesUnderTheV4l2Identity)
{
    using enum PictureKind;
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
        {"a pinned camera returns to its index, whichever path serves it",
         {v4l2Camera("Webcam", "v4l2-id:w", "/dev/video0")},
         {pipeWireCamera("a", "Cam A"), pipeWireCamera("b", "Cam B"),
          pipeWireCamera("v4l2_input.w", "W", "/dev/video0")},
         "Webcam=v4l2-id:w@v4l2_input.w | Cam B=pipewire:b@b | Cam A=pipewire:a@a",
         {{"pipewire:b", 1, {"Cam B", "PipeWire"}}, {"v4l2-id:w", 0, {"Webcam", ""}}}},
        {"a camera only PipeWire serves has the kind its description or formats show",
         {},
         {pipeWireCamera("grey", "Mono", {}, true, {Greyscale}), pipeWireCamera("face", "Face IR"),
          pipeWireCamera("colour", "Test", {}, true, {Greyscale, Colour})},
         "Test=pipewire:colour@colour | Mono (greyscale)=pipewire:grey@grey, not standard | "
         "Face IR (infrared)=pipewire:face@face, not standard"},
    };
    for (auto &c : cases)
        EXPECT_EQ(listed(std::move(c.v4l2), std::move(c.pipeWire), c.pins), c.expected) << c.what;
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

// Parameters as camera nodes answer them, built by hand.
struct Pods
{
    std::array<std::uint8_t, 4096> buffer {};
    spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer.data(), std::uint32_t(buffer.size()));

    template<class... Props> const spa_pod *format(std::uint32_t subtype, Props... props)
    {
        return static_cast<const spa_pod *>(
            spa_pod_builder_add_object(&b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat,
                                       SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
                                       SPA_FORMAT_mediaSubtype, SPA_POD_Id(subtype), props...));
    }
    template<class... Props>
    const spa_pod *control(std::uint32_t prop, const char *name, Props... props)
    {
        return static_cast<const spa_pod *>(spa_pod_builder_add_object(
            &b, SPA_TYPE_OBJECT_PropInfo, SPA_PARAM_PropInfo, SPA_PROP_INFO_id, SPA_POD_Id(prop),
            SPA_PROP_INFO_name, SPA_POD_String(name), props...));
    }
};

std::string offered(const PipeWireFormats &formats)
{
    std::string text;
    for (const PipeWireOffer &offer : formats.offers)
        text += (text.empty() ? "" : " ") + std::string(formatInfo(offer.format)->name) + ":"
            + std::to_string(offer.format.width) + "x" + std::to_string(offer.format.height);
    return text;
}

TEST(PipeWireFormats, OffersEachDecodedFormatAtListedOrCommonSizesDefaultFirst)
{
    Pods pods;
    spa_rectangle qvga {320, 240}, qcif {176, 144}, svga {800, 600}, hd {1280, 720}, vga {640, 480};
    // RGB or UYVY (or grey, which we do not decode) from 176x144 to 800x600.
    PipeWireFormats formats;
    addEnumFormat(pods.format(SPA_MEDIA_SUBTYPE_raw, SPA_FORMAT_VIDEO_format,
                              SPA_POD_CHOICE_ENUM_Id(4, SPA_VIDEO_FORMAT_RGB, SPA_VIDEO_FORMAT_RGB,
                                                     SPA_VIDEO_FORMAT_UYVY, SPA_VIDEO_FORMAT_GRAY8),
                              SPA_FORMAT_VIDEO_size,
                              SPA_POD_CHOICE_RANGE_Rectangle(&qvga, &qcif, &svga)),
                  formats);
    EXPECT_EQ(offered(formats),
              "rgb24:320x240 rgb24:176x144 rgb24:352x288 rgb24:640x480 rgb24:800x600 "
              "uyvy:320x240 uyvy:176x144 uyvy:352x288 uyvy:640x480 uyvy:800x600");
    EXPECT_EQ(formats.kinds,
              (std::vector {PictureKind::Colour, PictureKind::Colour, PictureKind::Greyscale}));
    EXPECT_EQ(formats.offers[0].spaFormat, std::uint32_t(SPA_VIDEO_FORMAT_RGB));

    // A camera's JPEG stream at listed sizes, the default repeated among them.
    PipeWireFormats jpeg;
    addEnumFormat(pods.format(SPA_MEDIA_SUBTYPE_mjpg, SPA_FORMAT_VIDEO_size,
                              SPA_POD_CHOICE_ENUM_Rectangle(3, &hd, &vga, &hd)),
                  jpeg);
    EXPECT_EQ(offered(jpeg), "mjpg:1280x720 mjpg:640x480");
    EXPECT_TRUE(jpeg.offers[0].mjpg);

    // Grey only: nothing offered, but the pictures are known to be greyscale; settled on: refused.
    PipeWireFormats grey;
    const spa_pod *greyPod = pods.format(SPA_MEDIA_SUBTYPE_raw, SPA_FORMAT_VIDEO_format,
                                         SPA_POD_Id(SPA_VIDEO_FORMAT_GRAY8), SPA_FORMAT_VIDEO_size,
                                         SPA_POD_Rectangle(&vga));
    addEnumFormat(greyPod, grey);
    EXPECT_TRUE(grey.offers.empty());
    EXPECT_EQ(grey.kinds, std::vector {PictureKind::Greyscale});
    EXPECT_FALSE(negotiatedFormat(greyPod));

    // The format asked for, into a builder too small for it: none.
    std::array<std::uint8_t, 16> tiny {};
    spa_pod_builder small = SPA_POD_BUILDER_INIT(tiny.data(), std::uint32_t(tiny.size()));
    EXPECT_EQ(fixedFormatPod(
                  {formatInfo(FOURCC_YUY2, 16)->at(640, 480), SPA_VIDEO_FORMAT_YUY2, false}, small),
              nullptr);
}

// "id kind minimum..maximum/step default [value:item...]", or "none".
std::string described(const std::optional<DriverControl> &c)
{
    if (!c)
        return "none";
    std::string text = std::to_string(c->id) + " " + "ibm"[int(c->kind)] + " "
        + std::to_string(c->minimum) + ".." + std::to_string(c->maximum) + "/"
        + std::to_string(c->step) + " " + std::to_string(c->defaultValue);
    for (const DriverControl::MenuItem &item : c->items)
        text += " " + std::to_string(item.value) + ":" + item.name;
    return text;
}

TEST(PipeWireFormats, PropInfoBecomesV4l2ControlsAndPropsCarryThemBack)
{
    Pods pods;
    EXPECT_EQ(described(controlFromPropInfo(pods.control(SPA_PROP_brightness, "Brightness",
                                                         SPA_PROP_INFO_type,
                                                         SPA_POD_CHOICE_STEP_Int(128, 0, 255, 2)))),
              std::to_string(V4L2_CID_BRIGHTNESS) + " i 0..255/2 128");
    // Controls without a property of their own come as the custom range plus the V4L2 id.
    const auto *labels = static_cast<const spa_pod *>(spa_pod_builder_add_struct(
        &pods.b, SPA_POD_Int(0), SPA_POD_String("Off"), SPA_POD_Int(1), SPA_POD_String("50 Hz"),
        SPA_POD_Int(2), SPA_POD_String("60 Hz")));
    EXPECT_EQ(
        described(controlFromPropInfo(pods.control(
            SPA_PROP_START_CUSTOM + V4L2_CID_POWER_LINE_FREQUENCY, "Power Line", SPA_PROP_INFO_type,
            SPA_POD_CHOICE_ENUM_Int(4, 1, 0, 1, 2), SPA_PROP_INFO_labels, SPA_POD_Pod(labels)))),
        std::to_string(V4L2_CID_POWER_LINE_FREQUENCY) + " m 0..2/1 1 0:Off 1:50 Hz 2:60 Hz");
    EXPECT_EQ(described(controlFromPropInfo(
                  pods.control(SPA_PROP_START_CUSTOM + V4L2_CID_AUTO_WHITE_BALANCE, "Auto White",
                               SPA_PROP_INFO_type, SPA_POD_CHOICE_Bool(true)))),
              std::to_string(V4L2_CID_AUTO_WHITE_BALANCE) + " b 0..1/1 1");

    for (const std::uint32_t id : {V4L2_CID_GAIN, V4L2_CID_HUE, V4L2_CID_POWER_LINE_FREQUENCY})
        EXPECT_EQ(controlIdOfProp(propOfControlId(id)), id);
    EXPECT_EQ(propOfControlId(V4L2_CID_SHARPNESS), std::uint32_t(SPA_PROP_sharpness));

    // Setting a control sends the node's property with the value.
    const spa_pod *props = propsPod(SPA_PROP_brightness, DriverControl::Kind::Integer, 77, pods.b);
    const spa_pod_prop *prop
        = props ? spa_pod_find_prop(props, nullptr, SPA_PROP_brightness) : nullptr;
    std::int32_t value = 0;
    ASSERT_TRUE(prop && spa_pod_get_int(&prop->value, &value) == 0);
    EXPECT_EQ(value, 77);
}

TEST(FrameWatch, StartingAndSlowCamerasWaitStalledGoneOrFaultingOnesFail)
{
    using enum capture::GrabVerdict;
    const std::uint32_t t0 = 0xFFFFF000, start = capture::kStartBoundMs; // the tick count wraps
    capture::FrameWatch watch;
    watch.started(t0);
    // Once running, the shorter bound counts from the last good frame.
    const std::uint32_t stall = t0 + 3000 + capture::kStallBoundMs;
    std::vector verdicts {
        watch.grabbed(false, false, t0 + start - 1), watch.grabbed(false, false, t0 + start),
        watch.grabbed(true, false, t0 + 3000), watch.grabbed(false, false, stall - 1),
        watch.grabbed(false, false, stall)};
    watch.started(t0 + 9000);
    verdicts.push_back(watch.grabbed(false, true, t0 + 9001));
    EXPECT_EQ(verdicts, (std::vector {Waiting, Failed, Frame, Waiting, Failed, Failed}));
    static_assert(capture::kStartBoundMs >= 2000 && capture::kStallBoundMs <= 3000);
}

TEST(FrameRate, LongestIntervalThatKeepsFifteenFramesElseTheShortest)
{
    const struct
    {
        std::vector<FrameInterval> offered;
        FrameInterval chosen;
    } cases[] = {
        {{{1, 30}, {1, 15}, {2, 15}, {1, 5}}, {1, 15}},
        {{{1, 10}, {1, 5}, {2, 15}}, {1, 10}},
        {{{0, 1}, {1, 0}, {1, 24}}, {1, 24}},
    };
    for (const auto &c : cases) {
        const FrameInterval chosen = preferredInterval(c.offered).value_or(FrameInterval {});
        EXPECT_EQ(std::pair(chosen.numerator, chosen.denominator),
                  std::pair(c.chosen.numerator, c.chosen.denominator));
    }
    EXPECT_FALSE(preferredInterval({}));
}

TEST(CameraProfile, PastedListsAndKeysMakeDevicesAndErrorsNameTheirLine)
{
    const fake::ParsedProfile profile = fake::parseCameraProfile(R"(# comment
[device]
node = /dev/video4
card = Cam
by-id = usb-Cam-video-index0
metadata = yes
current = MJPG 640x480
first-frame-ms = 800
jitter = 0.5
formats:
ioctl: VIDIOC_ENUM_FMT
	Type: Video Capture

	[0]: 'MJPG' (Motion-JPEG, compressed)
		Size: Discrete 640x480
			Interval: Discrete 0.033s (30.000 fps)
			Interval: Discrete 0.133s (7.500 fps)
	[1]: 'Y16 ' (16-bit Greyscale)
		Size: Discrete 320x240
controls:
User Controls
           power_line_frequency 0x00980918 (menu)   : min=0 max=2 default=2 value=2
				0: Disabled
				2: 60 Hz
         white_balance_automatic 0x0098090c (bool)   : default=1 value=1
)");
    ASSERT_FALSE(profile.error) << profile.error->line << " " << profile.error->message;
    ASSERT_EQ(profile.devices.size(), 2u);
    const fake::FakeDeviceProfile &camera = profile.devices[0], &metadata = profile.devices[1];
    EXPECT_EQ(std::tuple(camera.devicePath, metadata.devicePath, metadata.byIdName,
                         metadata.metadataNode, camera.currentFormat, camera.behaviour.firstFrameMs,
                         camera.behaviour.timed),
              std::tuple("/dev/video4", "/dev/video5", "usb-Cam-video-index1", true,
                         V4L2_PIX_FMT_MJPEG, 800u, true));
    ASSERT_TRUE(camera.formats.size() == 2 && camera.controls.size() == 2);
    ASSERT_EQ(camera.formats[0].intervals.at(0).size(), 2u);
    const auto slow = camera.formats[0].intervals[0][1];
    EXPECT_EQ(std::tuple(camera.formats[1].pixelFormat, slow.numerator, slow.denominator,
                         camera.controls[0].name, camera.controls[1].maximum),
              std::tuple(V4L2_PIX_FMT_Y16, 2u, 15u, "Power Line Frequency", 1));
    EXPECT_EQ(camera.controls[0].items, (std::vector<std::string> {"Disabled", "", "60 Hz"}));

    for (const auto &[text, line] : {std::pair {"[device]\nnode = /dev/video0\nspeed = 3\n", 3},
                                     {"card = x\n", 1},
                                     {"[device]\njitter = 2\n", 2},
                                     {"[device]\nformats:\n\tSize: Discrete 1x1\n", 3},
                                     {"[device]\ncard = no formats\n", 2}}) {
        EXPECT_EQ(fake::parseCameraProfile(text).error.value_or(fake::ProfileError {}).line, line)
            << text;
    }
}

} // namespace
} // namespace capturetest
