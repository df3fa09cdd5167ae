// The panel on fake devices that behave as the cameras of tests/data/cameras, on a simulated clock.

#include <QFile>

#include "PanelDriver.h"
#include "capture/FrameWatch.h"
#include "platform/capture/fake/CameraProfile.h"

namespace {

namespace vfw = platform::vfw;
namespace fake = vfw::fake;

std::shared_ptr<fake::SimulatedClock> g_clock;
std::uint32_t nowMs()
{
    return std::uint32_t(g_clock->nowUs() / 1000);
}

class Profiles : public paneltest::PanelTest
{
protected:
    void SetUp() override
    {
        PanelTest::SetUp();
        g_clock = std::make_shared<fake::SimulatedClock>();
        platform::setTickCountSource(&nowMs);
        anotherMachine();
    }
    // The component ended; a machine without cameras or settings.
    void anotherMachine()
    {
        object.reset();
        sentAt.clear();
        io = std::make_shared<fake::FakeV4l2Io>(g_clock);
        vfw::setV4l2Io(io);
        testenv::removeRegistry();
    }
    // The profile's camera nodes (not their metadata nodes), each behaviour changed by change.
    std::vector<fake::FakeDevice *>
    load(const char *name, const std::function<void(fake::FakeBehaviour &)> &change = {})
    {
        QFile file(QStringLiteral(CAMERA_PROFILES_DIR "/") + QLatin1StringView(name));
        EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
        fake::ParsedProfile profile = fake::parseCameraProfile(file.readAll().toStdString());
        EXPECT_FALSE(profile.error)
            << name << ":" << profile.error->line << " " << profile.error->message;
        std::vector<fake::FakeDevice *> cameras;
        for (fake::FakeDeviceProfile &device : profile.devices) {
            if (!device.metadataNode && change)
                change(device.behaviour);
            fake::FakeDevice &added = io->addDevice(device);
            if (!device.metadataNode)
                cameras.push_back(&added);
        }
        return cameras;
    }
    // Started with the choice saved, Play pressed, transmitting; sentAt: times since Play.
    void play(const char *saved = nullptr, std::vector<vfw::VirtualCameraConfig> virtuals = {})
    {
        start(1, std::move(virtuals), saved);
        QObject::connect(
            object->events(), &zozEZUdeZidEvents::WebCamSnapShot,
            [this](QByteArray &, std::int32_t) { sentAt.push_back(nowMs() - playedAt); });
        playedAt = nowMs();
        click("imgCamOnMain");
        object->setTransmitPost(true);
        object->setTransmitStatus(true);
    }
    // The panel's two timers for ms of camera time, as they hand over.
    void run(std::uint32_t ms)
    {
        const std::uint32_t end = nowMs() + ms;
        while (nowMs() < end) {
            g_clock->advanceMs(120);
            view->tickMain();
            if (view->tmrStart().Enabled()) {
                g_clock->advanceMs(40);
                view->tickStart();
            }
        }
    }

    std::shared_ptr<fake::FakeV4l2Io> io;
    std::uint32_t playedAt = 0;
    std::vector<std::uint32_t> sentAt;
};

// Colour cameras, a second late or slow and jittery: pictures from the first frame, no restart.
TEST_F(Profiles, ColourCamerasSendFromTheirFirstFrameOnAndNeverRestart)
{
    // The profile, the choice saved, the colour camera among the profile's nodes.
    const std::tuple<const char *, const char *, std::size_t> cases[] = {
        {"usb-1080p-webcam.profile", nullptr, 0}, {"laptop-ir-first.profile", nullptr, 1},
        {"bayer-old-camera.profile", "0", 0},     {"hdmi-capture.profile", nullptr, 0},
        {"4k-mjpg-camera.profile", nullptr, 0},
    };
    const std::pair<const char *, std::function<void(fake::FakeBehaviour &)>> variants[] = {
        {"first frame after 1 s", [](fake::FakeBehaviour &b) { b.firstFrameMs = 1000; }},
        {"5 frames a second with jitter",
         [](fake::FakeBehaviour &b) {
             b.frameIntervalMs = 200;
             b.jitter = 0.5;
         }},
    };
    for (const auto &[profile, saved, colour] : cases) {
        for (const auto &[what, change] : variants) {
            SCOPED_TRACE(std::string(profile) + ", " + what);
            anotherMachine();
            const std::vector<fake::FakeDevice *> cameras = load(profile, change);
            ASSERT_GT(cameras.size(), colour);
            fake::FakeDevice &camera = *cameras[colour];
            play(saved);
            ASSERT_EQ(view->deviceIndex(), 0);
            ASSERT_TRUE(view->capture().CameraOn());
            const std::uint32_t starts = camera.streamStarts;
            run(2500);
            // The first whole frame reaches the parent within 400 ms.
            ASSERT_FALSE(sentAt.empty());
            ASSERT_NE(camera.firstGoodFrameUs, 0u);
            EXPECT_LE(sentAt.front(),
                      std::uint32_t(camera.firstGoodFrameUs / 1000) - playedAt + 400);
            EXPECT_GE(sentAt.size(), 5u);
            // Not restarted, not scaled, never asked for H.264.
            EXPECT_EQ(std::tuple(camera.streamStarts, view->capture().MustScale(),
                                 view->lastAttempt(),
                                 std::ranges::count(camera.formatRequests, V4L2_PIX_FMT_H264)),
                      std::tuple(starts, false, 0, 0));
            if (std::string_view(profile).starts_with("usb")) { // it offers 15 frames a second
                const auto &asked = camera.frameRateRequests;
                EXPECT_TRUE(!asked.empty() && asked.back().numerator == 1
                            && asked.back().denominator == 15);
            }
        }
    }
}

// The infrared node of laptop-ir-first.profile sorts after the colour camera (above).
TEST_F(Profiles, GreyscaleNodeIsMarkedAndNeverChosen)
{
    fake::FakeDevice &grey = *load("ir-grey-480.profile").front();
    play();
    EXPECT_EQ(view->menu(u"mnuDevices(0)")->Caption, "Integrated Camera: Integrated I (greyscale)");
    EXPECT_TRUE(view->deviceIndex() == -1 && grey.streamStarts == 0);
}

// A stall or unplug is handled on that camera alone; nothing reaches the parent after.
TEST_F(Profiles, StallOrUnplugIsHandledOnThatCameraAlone)
{
    for (const bool unplug : {false, true}) {
        SCOPED_TRACE(unplug ? "unplugged" : "stalled");
        anotherMachine();
        // The 4K camera sorts first (by its persistent name) and is chosen.
        fake::FakeDevice &camera = *load("4k-mjpg-camera.profile", [&](fake::FakeBehaviour &b) {
                                        (unplug ? b.unplugAfterMs : b.stallAfterMs) = 3000;
                                    }).front();
        fake::FakeDevice &other = *load("usb-1080p-webcam.profile").front();
        // Both profiles start at /dev/video0; a machine gives the second camera other nodes.
        io->renumber(2, "/dev/video4");
        io->renumber(3, "/dev/video5");
        play(nullptr, {paneltest::camera()});
        ASSERT_EQ(view->deviceIndex(), 0);
        while (view->lastAttempt() == 0 && nowMs() - playedAt < 10000)
            run(1);
        const std::uint32_t detectedAt = nowMs() - playedAt;
        EXPECT_TRUE(detectedAt >= 3000
                    && detectedAt <= 3000 + (unplug ? 200 : capture::kStallBoundMs + 200))
            << detectedAt;
        const std::size_t sent = sentAt.size();
        run(20000);
        EXPECT_TRUE(sent > 0 && sentAt.size() == sent) << "a picture after the camera failed";
        EXPECT_EQ(view->menu(u"mnuDevices(0)")->Caption.left(13), "4K USB Camera");
        // Unplugged: the retry cannot reach it; stalled: "I/O problem with webcam."
        EXPECT_FALSE(unplug && (view->capture().CameraOn() || view->capture().lwndc() != 0));
        EXPECT_EQ(std::pair(inkedLines(), view->lastAttempt()),
                  unplug ? std::pair(std::string(".##.#"), 1) : std::pair(std::string(".##"), 6));
        if (unplug) { // plugged in again at another node, it comes back under its index
            camera.profile.behaviour.unplugAfterMs = 0;
            io->renumber(0, "/dev/video9");
            const std::uint32_t starts = camera.streamStarts;
            click("imgCamOnMain");
            run(2000);
            EXPECT_GT(camera.streamStarts, starts);
            EXPECT_GT(sentAt.size(), sent);
        }
        EXPECT_EQ(other.streamStarts, 0u);
    }
}

TEST_F(Profiles, SavedCameraIsFoundByItsIdentityWhenItsIndexMovedElseTheSavedIndexStands)
{
    io->addDevice(fake::uvcCamera("Cam B", 2));
    io->addDevice(fake::uvcCamera("Cam C", 3));
    start(1, {}, "1");
    command("picSettingsMain", {"Device", "Cam C"});
    ASSERT_EQ(view->deviceIndex(), 1);
    object.reset();
    // Another camera sorts first now; the saved index names Cam B.
    io->addDevice(fake::uvcCamera("Cam A", 1));
    start(1, {}, nullptr);
    EXPECT_EQ(std::tuple(view->deviceIndex(), paneltest::setting("WebCamDevice"),
                         view->menu(u"mnuDevices(2)")->Checked,
                         view->menu(u"mnuDevices(2)")->Caption),
              std::tuple(2, QStringLiteral("2"), true, QStringLiteral("Cam C")));
    // An identity not listed (a picture's, a camera's elsewhere): the index stands, beyond the
    // menu here, marking and sending nothing.
    paneltest::save("WebCamDeviceId", "v4l2-id:gone");
    paneltest::save("WebCamDevice", "5");
    start(1, {}, nullptr);
    EXPECT_EQ(std::pair(view->deviceIndex(), view->deviceCount()), std::pair(5, 3));
    EXPECT_FALSE(view->menu(u"mnuDevices(0)")->Checked || view->heldBlock() != 0
                 || view->image("imgCamOnMain")->isVisibleTo(panel));
}

// As installed (no virtual cameras asked for), with the choice of an earlier machine saved.
TEST_F(Profiles, WithoutAnyCameraPlayPaintsTheNoHardwareTextAndSendsNothing)
{
    play("0");
    run(1000);
    EXPECT_EQ(view->menu(u"mnuDevices(0)")->Caption, "webcam driver not found");
    EXPECT_EQ(std::tuple(view->deviceCount(), inkedLines(), sentAt.size()),
              std::tuple(0, ".###", std::size_t(0)));
}

} // namespace
