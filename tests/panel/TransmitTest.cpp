// The capture timer's pipeline on virtual cameras, each frame handed to the parent as a block.

#include "PanelDriver.h"
#include "capture/FrameWatch.h"
#include "exchange/ImageBlock.h"
#include "exchange/modImageMemMapFunctions.h"
#include "platform/shm/HandleTable.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <thread>

namespace {

namespace vfw = platform::vfw;
namespace mm = modImageMemMapFunctions;

std::uint32_t g_now = 100000;

// One WebCamSnapShot as the parent saw it while it handled the event.
struct Snapshot
{
    std::int32_t number;
    mm::ImageHeader header;
    std::vector<std::uint8_t> jpeg;
    QImage decoded() const { return QImage::fromData(jpeg.data(), int(jpeg.size()), "JPG"); }
};

class Transmit : public paneltest::PanelTest
{
protected:
    void SetUp() override
    {
        PanelTest::SetUp();
        platform::setTickCountSource([] { return g_now; });
    }
    // Play pressed on the chosen one of as many cameras alike, transmitting.
    void play(const vfw::VirtualCameraConfig &camera = paneltest::camera(), std::size_t cameras = 1)
    {
        snapshots.clear();
        start(1, std::vector(cameras, camera));
        QObject::connect(
            object->events(), &zozEZUdeZidEvents::WebCamSnapShot,
            [this](QByteArray &picHdr, std::int32_t n) {
                const mm::ImageBlock block = mm::ImageBlock::open(n);
                const auto *header = reinterpret_cast<const std::uint8_t *>(picHdr.constData());
                Snapshot shot {
                    n, *mm::fromBytes(std::span(header, std::size_t(picHdr.size()))), {}};
                shot.jpeg.resize(block.size() > 24 ? block.size() - 24 : 0);
                block.read(24, shot.jpeg);
                snapshots.push_back(std::move(shot));
            });
        click("imgCamOnMain");
        ASSERT_TRUE(view->capture().CameraOn());
        object->setTransmitPost(true);
        object->setTransmitStatus(true);
    }
    // One capture cycle: the capture tick, then the start timer's, as the two timers hand over.
    void cycle()
    {
        g_now += 160;
        view->tickMain();
        if (view->tmrStart().Enabled())
            view->tickStart();
    }

    std::vector<Snapshot> snapshots;
};

TEST_F(Transmit, EachFrameGoesOutAsAJpegBlockThatIsGoneAfterTheEventAndTracesEveryStep)
{
    paneltest::save("WebCamDevice", "9"); // the last of the ten drivers is grabbed like the first
    play(paneltest::camera(), 10);
    DebugTrace::setDebugFlag(true);
    platform::TraceSink::startCapture();
    view->tickMain();
    const std::string trace = platform::TraceSink::captured();
    ASSERT_EQ(snapshots.size(), 1u);
    const Snapshot &shot = snapshots.front();
    const mm::ImageHeader &h = shot.header;
    // Marker, picture file, participant area, 24 bits, at the frame's size.
    EXPECT_EQ(std::tuple(int(h.Marker), int(h.PictureFormat), int(h.Destination),
                         int(h.BitsPerPixel), h.Width, h.Height, h.ImageNumber, h.OrigSize),
              std::tuple(32, 2, 8, 24, 176, 144, shot.number, h.DataLength));
    ASSERT_EQ(std::size_t(h.DataLength), shot.jpeg.size());
    EXPECT_TRUE(!mm::ImageBlock::open(shot.number) && caption("lblStatus") == "[ Sending ]");

    const std::string number = std::to_string(shot.number);
    const std::string expected[] = {
        "tmrMain_Timer Entry: DeviceIndex:9 lwndc:" + std::to_string(view->capture().lwndc())
            + " HardwareBusyFlag:False Pause:False",
        "WebCam MyFrameCallBack size is 76032",
        "WebCam tmrMain - JPG Convert Start",
        "WebCam tmrMain - JPG Convert End",
        "WebCam tmrMain - Compress Transport Start",
        "WebCam tmrMain - Aquired image number " + number,
        "WebCam tmrMain - Map written, calling parent WebCamSnapShot",
        "WebCam tmrMain - Compress Transport End, address unmapped, handle closed for image "
            + number + ", exiting",
    };
    std::size_t at = 0;
    for (const std::string &line : expected) {
        at = trace.find(line + "\n", at);
        ASSERT_NE(at, std::string::npos) << line << "\n---\n" << trace;
    }
}

TEST_F(Transmit, EmptyOrFaultingGrabsRestartThenScaleThenReportThenOnlyRetry)
{
    for (const bool faulting : {false, true}) {
        SCOPED_TRACE(faulting ? "faulting" : "empty");
        vfw::VirtualCameraConfig camera = paneltest::camera();
        (faulting ? camera.faultInGrab : camera.emptyFrames) = true;
        play(camera);
        platform::TraceSink::startCapture(); // these lines are written whatever the flag says
        for (int i = 0; i < 7; ++i) {
            // A camera without frames fails once its start bound has passed; a fault at once.
            g_now += faulting ? 0 : capture::kStartBoundMs;
            cycle();
        }
        const std::string trace = platform::TraceSink::captured();
        // A fault inside the driver's grab is traced and skipped, and counts as an empty grab.
        EXPECT_EQ(trace.find("WebCam Exception encountered: -2147220991 Ecode:-1073741819")
                      != std::string::npos,
                  faulting);
        // From the third restart on no sizes are asked for; these frames fit unscaled.
        for (const char *line : {"LastAttempt:1 UseScaling:False WindowPos:8 MustScale:False\n",
                                 "LastAttempt:3 UseScaling:False WindowPos:8 MustScale:False\n",
                                 "LastAttempt:4 UseScaling:False WindowPos:8 MustScale:True\n"})
            EXPECT_NE(trace.find(line), std::string::npos) << line << trace;
        EXPECT_EQ(trace.find("LastAttempt:6"), std::string::npos);
        EXPECT_EQ(std::pair(view->lastAttempt(), view->capture().MustScale()), std::pair(6, true));
        EXPECT_EQ(inkedLines(), ".##"); // the sixth tick's two lines; the seventh only retried
        EXPECT_TRUE(view->tmrMain().Enabled() || view->tmrStart().Enabled());
        EXPECT_TRUE(snapshots.empty());
    }
}

TEST_F(Transmit, FramesThatFitAreCentredLargerOnesScaledAndSentAt176By144)
{
    // Frames, whether scaled, where the frame starts in the preview, the size sent.
    for (const auto &[frames, scaled, at, sent] :
         {std::tuple {QSize(160, 120), false, QPoint(8, 12), QSize(160, 120)},
          {QSize(320, 240), true, QPoint(8, 8), QSize(176, 144)}}) {
        SCOPED_TRACE(scaled ? "scaled" : "centred");
        play(paneltest::camera(frames.width(), frames.height()));
        cycle();
        const QImage shown = view->box("picWebCam")->Image();
        const auto white = [&](QPoint p) { return shown.pixel(at + p) == qRgb(255, 255, 255); };
        EXPECT_TRUE(white({-1, -1}) && !white({0, 0}) && !white({159, 119}));
        cycle(); // the next frame fits PrevCap again: the picture sent took it only for a while
        ASSERT_EQ(snapshots.size(), 2u);
        EXPECT_EQ(QSize(snapshots[0].header.Width, snapshots[0].header.Height), sent);
        const QImage decoded = snapshots[0].decoded();
        EXPECT_EQ(decoded.size(), sent);
        // Scaled, the preview's background around the frame is part of the picture sent.
        EXPECT_TRUE(!scaled || qGray(decoded.pixel(2, 2)) > 230);
    }
}

TEST_F(Transmit, WhiteBoardGetsEveryFrameWhileBlocksGoOutAtTheIntervalNamingItsArea)
{
    play();
    command("picSettingsMain", {"Destination area", "Output to white board center"});
    // Any interval but the menu's two checks "as fast as possible", yet paces by its own value.
    object->setCaptureInterval(1234);
    for (const auto &[entry, checked] :
         {std::pair {u"mnuRate2sec", false}, {u"mnuRate5sec", false}, {u"mnuRateFast", true}})
        EXPECT_EQ(view->menu(entry)->Checked, checked);
    std::vector<std::vector<std::int32_t>> pictures; // size, OrigSize, wd, ht, bits, position
    QObject::connect(
        object->events(), &zozEZUdeZidEvents::WebCamClientPicture,
        [&](QByteArray &bytes, std::int32_t orig, std::int32_t wd, std::int32_t ht,
            std::int32_t bits, std::int32_t position) {
            pictures.push_back({std::int32_t(bytes.size()), orig, wd, ht, bits, position});
        });
    const QImage before = view->box("picWebCam")->Image();
    // 160 ms cycles: slots on the first and ninth, "[ Sending ]" for a second after a posted one.
    std::string labels, sent;
    for (int i = 0; i < 9; ++i) {
        object->setTransmitPost(i > 0);
        cycle();
        labels += caption("lblStatus").isEmpty() ? '-' : 'S';
        sent += char('0' + snapshots.size());
    }
    EXPECT_EQ(labels + sent, "-SSSSSS--000000001");
    ASSERT_EQ(pictures.size(), 9u);
    EXPECT_EQ(pictures[1], (std::vector<std::int32_t> {76032, 76032, 176, 144, 24, 40}));
    EXPECT_EQ(snapshots[0].header.Destination, 40);
    EXPECT_EQ(view->box("picWebCam")->Image(), before); // the preview is left alone
}

// The header cut while a tick waits for the counter's mutex: that tick faults, the mutex is freed.
TEST_F(Transmit, HeaderCutUnderATickWaitingForTheCounterCostsThatTickOnly)
{
    play();
    cycle();
    ASSERT_EQ(snapshots.size(), 1u);
    const int objects = testenv::shmObjectCount();
    const std::string header = "/dev/shm" + testenv::shmPrefix() + mm::kHeaderBlockName;
    DebugTrace::setDebugFlag(true);
    platform::TraceSink::startCapture();
    // A peer holds the mutex and cuts the header once the tick sleeps on it (in a futex wait).
    const pid_t tick = pid_t(::syscall(SYS_gettid));
    const auto tickWaits = [tick] {
        QFile syscall(QStringLiteral("/proc/self/task/%1/syscall").arg(tick));
        return syscall.open(QIODevice::ReadOnly)
            && syscall.readAll().split(' ').value(0).toLong() == SYS_futex;
    };
    std::atomic<bool> holding = false;
    std::thread peer([&] {
        holding = platform::shm::lockMutex(mm::hHeaderMutex, 1000) == 0;
        holding.notify_one();
        for (int i = 0; i < 2000 && !tickWaits(); ++i)
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        EXPECT_EQ(::truncate(header.c_str(), 0), 0);
        platform::shm::unlockMutex(mm::hHeaderMutex);
    });
    holding.wait(false);
    ASSERT_TRUE(holding);
    g_now += 160;
    view->tickMain();
    peer.join();
    EXPECT_NE(platform::TraceSink::captured().find("WebCam Exception encountered"),
              std::string::npos);
    // The camera ticks on and nobody holds the mutex.
    EXPECT_TRUE(view->tmrStart().Enabled() && platform::shm::lockMutex(mm::hHeaderMutex, 0) == 0);
    platform::shm::unlockMutex(mm::hHeaderMutex);
    view->tickStart();
    cycle();
    ASSERT_EQ(snapshots.size(), 2u);
    EXPECT_TRUE(snapshots.back().number == 1 && testenv::shmObjectCount() == objects);
}

// 10000 frames (or VEDEREVE_SOAK_FRAMES), one a cycle; descriptors and memory stay flat.
TEST_F(Transmit, SoakLeavesNothingBehind)
{
    const int frames = qEnvironmentVariableIsSet("VEDEREVE_SOAK_FRAMES")
        ? qEnvironmentVariableIntValue("VEDEREVE_SOAK_FRAMES")
        : 10000;
    play();
    for (int i = 0; i < 100; ++i) // warm up caches, pools and the allocator
        cycle();
    snapshots.clear();
    const int descriptors = testenv::openDescriptorCount();
    const long resident = paneltest::residentBytes();
    std::size_t sent = 0;
    for (int i = 0; i < frames; ++i) {
        cycle();
        sent += std::exchange(snapshots, {}).size();
    }
    EXPECT_EQ(sent, std::size_t(frames));
    EXPECT_LE(testenv::openDescriptorCount(), descriptors);
    EXPECT_LT(paneltest::residentBytes() - resident, 8L << 20) << frames << " frames";
}

} // namespace
