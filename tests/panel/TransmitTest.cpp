// The capture timer's pipeline on virtual cameras: grabs, the preview, the status text, the
// transmission of each frame as an image block announced to the parent.

#include <gtest/gtest.h>

#include <QFile>
#include <QTest>

#include <unistd.h>

#include <memory>
#include <vector>

#include "automation/frmWebCam.h"
#include "automation/zozEZUdeZid.h"
#include "base/DebugTrace.h"
#include "exchange/ImageBlock.h"
#include "exchange/modImageMemMapFunctions.h"
#include "platform/capture/FormatTable.h"
#include "platform/capture/VirtualCamera.h"
#include "platform/core/System.h"
#include "platform/core/TraceSink.h"
#include "support/CRegSettings.h"
#include "support/PanelTestAccess.h"
#include "support/TestEnvironment.h"
#include "support/cDibSection.h"

namespace {

namespace vfw = platform::vfw;
namespace mm = modImageMemMapFunctions;

std::uint32_t g_now = 100000;
std::uint32_t fakeNow()
{
    return g_now;
}

// One WebCamSnapShot as the parent saw it while it handled the event.
struct Snapshot
{
    std::int32_t number;
    mm::ImageHeader header;
    std::vector<std::uint8_t> jpeg;
};

class Transmit : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testenv::removeRegistry();
        platform::setTickCountSource(&fakeNow);
    }
    void TearDown() override
    {
        object.reset();
        vfw::VirtualCameras::reset();
        platform::setTickCountSource(nullptr);
        DebugTrace::setDebugFlag(false);
        platform::TraceSink::stopCapture();
    }

    // A panel on one virtual camera, expanded, on the webcam tab, with the camera started by
    // its Play button, transmitting.
    void start(vfw::VirtualCameraConfig camera)
    {
        vfw::VirtualCameras::configure({std::move(camera)});
        CRegSettings().SaveSetting("Defaults", "WebCamDevice", "0");
        object = std::make_unique<zozEZUdeZid>();
        panel = object->form()->WebCam();
        view = std::make_unique<PanelTestAccess>(panel);
        QObject::connect(object->events(), &zozEZUdeZidEvents::WebCamSnapShot,
                         [this](QByteArray &picHdr, std::int32_t n) {
                             // The parent reads the block while it handles the event.
                             const mm::ImageBlock block = mm::ImageBlock::open(n);
                             Snapshot shot {
                                 n,
                                 *mm::fromBytes(std::span(
                                     reinterpret_cast<const std::uint8_t *>(picHdr.constData()),
                                     std::size_t(picHdr.size()))),
                                 {}};
                             shot.jpeg.resize(block.size() > 24 ? block.size() - 24 : 0);
                             block.read(24, shot.jpeg);
                             snapshots.push_back(std::move(shot));
                         });
        QObject::connect(object->events(), &zozEZUdeZidEvents::EraseWebCam, [this] { ++erases; });
        object->Show();
        object->Maximize();
        object->setCurrentTab(1);
        QTest::mouseClick(view->widget("imgCamOnMain"), Qt::LeftButton, {}, QPoint(5, 5));
        ASSERT_TRUE(view->capture().CameraOn());
        object->setTransmitPost(true);
        object->setTransmitStatus(true);
    }
    // One capture cycle: the capture tick, then the start timer's, as the two timers hand over;
    // the clock moves on by the two timers' intervals.
    void cycle()
    {
        g_now += 160;
        view->tickMain();
        if (view->tmrStart().Enabled())
            view->tickStart();
    }
    QString status() const { return view->label("lblStatus")->Caption(); }
    QRgb preview(int x, int y) const { return view->box("picWebCam")->Image().pixel(x, y); }

    std::unique_ptr<zozEZUdeZid> object;
    cveDerEve *panel = nullptr;
    std::unique_ptr<PanelTestAccess> view;
    std::vector<Snapshot> snapshots;
    int erases = 0;
};

vfw::VirtualCameraConfig rgbCamera(int width, int height)
{
    vfw::VirtualCameraConfig camera;
    camera.formats = {{vfw::BI_RGB, 24, width, height}};
    return camera;
}

TEST_F(Transmit, EachFrameIsAnnouncedAsAJpegBlockThatIsGoneAfterTheEvent)
{
    start(rgbCamera(176, 144));
    cycle();
    ASSERT_EQ(snapshots.size(), 1u);
    const Snapshot &shot = snapshots.front();
    EXPECT_EQ(shot.header.Marker, 32);
    EXPECT_EQ(shot.header.PictureFormat, 2);
    EXPECT_EQ(shot.header.Destination, 8);
    EXPECT_EQ(shot.header.BitsPerPixel, 24);
    EXPECT_EQ(shot.header.ImageNumber, shot.number);
    EXPECT_EQ(shot.header.OrigSize, shot.header.DataLength);
    ASSERT_EQ(std::size_t(shot.header.DataLength), shot.jpeg.size());
    EXPECT_EQ(QSize(shot.header.Width, shot.header.Height), QSize(176, 144));
    // A complete JFIF stream of the frame the preview shows.
    EXPECT_EQ(shot.jpeg[0], 0xFF);
    EXPECT_EQ(shot.jpeg[1], 0xD8);
    const QImage decoded = QImage::fromData(shot.jpeg.data(), int(shot.jpeg.size()), "JPG");
    ASSERT_EQ(decoded.size(), QSize(176, 144));
    double error = 0;
    for (int y = 0; y < 144; ++y)
        for (int x = 0; x < 176; ++x) {
            const QRgb a = decoded.pixel(x, y), b = preview(x, y);
            error += std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b))
                + std::abs(qBlue(a) - qBlue(b));
        }
    EXPECT_LT(error / (176 * 144 * 3), 6.0); // within the losses of quality 70
    EXPECT_FALSE(mm::ImageBlock::open(shot.number));
    EXPECT_EQ(status(), QStringLiteral("[ Sending ]"));
    // Every cycle transmits again with a new number.
    cycle();
    ASSERT_EQ(snapshots.size(), 2u);
    EXPECT_GT(snapshots[1].number, snapshots[0].number);
}

TEST_F(Transmit, TraceLinesOfATickWordForWord)
{
    start(rgbCamera(176, 144));
    DebugTrace::setDebugFlag(true);
    platform::TraceSink::startCapture();
    view->tickMain();
    const std::string trace = platform::TraceSink::captured();
    const std::string lwndc = std::to_string(view->capture().lwndc());
    ASSERT_EQ(snapshots.size(), 1u);
    const std::string number = std::to_string(snapshots.front().number);
    const std::string expected[] = {
        "tmrMain_Timer Entry: DeviceIndex:0 lwndc:" + lwndc + " HardwareBusyFlag:False Pause:False",
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
        const std::size_t found = trace.find(line + "\n", at);
        ASSERT_NE(found, std::string::npos) << line << "\n---\n" << trace;
        at = found + line.size();
    }
}

TEST_F(Transmit, GuardsLeaveTheTimerRunningAndTouchNothing)
{
    start(rgbCamera(176, 144));
    object->setPause(false);
    // Paused by the parent: the camera stops, and a tick that still comes does nothing.
    object->setPause(true);
    EXPECT_EQ(erases, 1);
    const QString before = status();
    view->tickMain();
    EXPECT_TRUE(snapshots.empty());
    EXPECT_EQ(status(), before);
    // The end of the pause starts it again.
    object->setPause(false);
    EXPECT_TRUE(view->capture().CameraOn());
    EXPECT_TRUE(view->tmrMain().Enabled());
}

TEST_F(Transmit, EmptyGrabsRestartThenScaleThenReportThenOnlyRetry)
{
    vfw::VirtualCameraConfig empty = rgbCamera(176, 144);
    empty.emptyFrames = true;
    start(empty);
    platform::TraceSink::startCapture(); // the LastAttempt line is written whatever the flag says
    std::vector<bool> mustScale;
    for (int i = 0; i < 7; ++i) {
        cycle();
        mustScale.push_back(view->capture().MustScale());
    }
    const std::string trace = platform::TraceSink::captured();
    EXPECT_NE(trace.find("LastAttempt:1 UseScaling:False WindowPos:8 MustScale:False\n"),
              std::string::npos)
        << trace;
    EXPECT_NE(trace.find("LastAttempt:3 UseScaling:False WindowPos:8 MustScale:False\n"),
              std::string::npos);
    // From the third on the restarts stop asking for sizes; this camera's frames fit, so the
    // new negotiation needs no scaling.
    EXPECT_NE(trace.find("LastAttempt:4 UseScaling:False WindowPos:8 MustScale:True\n"),
              std::string::npos);
    EXPECT_EQ(trace.find("LastAttempt:6"), std::string::npos);
    EXPECT_EQ(mustScale, (std::vector<bool> {false, false, true, true, true, true, true}));
    EXPECT_EQ(view->lastAttempt(), 6);
    // The sixth tick painted the I/O message, the seventh only retried.
    const QImage shown = view->box("picWebCam")->Image();
    int ink = 0;
    for (int y = 5; y < 40; ++y)
        for (int x = 5; x < 170; ++x)
            ink += qGray(shown.pixel(x, y)) < 128;
    EXPECT_GT(ink, 20);
    EXPECT_TRUE(view->tmrMain().Enabled() || view->tmrStart().Enabled());
    EXPECT_TRUE(snapshots.empty());
}

TEST_F(Transmit, FramesAreCentredInThePreviewHalvesToEven)
{
    struct Case
    {
        int width, height;
        QPoint at;
    };
    for (const Case &c :
         {Case {176, 144, {0, 0}}, Case {160, 120, {8, 12}}, Case {175, 143, {0, 0}}}) {
        start(rgbCamera(c.width, c.height));
        cycle();
        const QString what = QString("%1x%2").arg(c.width).arg(c.height);
        EXPECT_FALSE(view->capture().UseScaling()) << what.toStdString();
        if (c.at != QPoint(0, 0)) {
            EXPECT_EQ(preview(c.at.x() - 1, c.at.y() - 1), qRgb(255, 255, 255))
                << what.toStdString();
        }
        EXPECT_NE(preview(c.at.x(), c.at.y()), qRgb(255, 255, 255)) << what.toStdString();
        EXPECT_NE(preview(c.at.x() + c.width - 1, c.at.y() + c.height - 1), qRgb(255, 255, 255))
            << what.toStdString();
        object.reset();
        snapshots.clear();
    }
}

TEST_F(Transmit, ScaledCaptureIsSentAt176By144AndPrevCapGetsItsSizeBack)
{
    start(rgbCamera(320, 240));
    ASSERT_TRUE(view->capture().UseScaling());
    cycle();
    ASSERT_EQ(snapshots.size(), 1u);
    EXPECT_EQ(QSize(snapshots[0].header.Width, snapshots[0].header.Height), QSize(176, 144));
    const QImage decoded
        = QImage::fromData(snapshots[0].jpeg.data(), int(snapshots[0].jpeg.size()), "JPG");
    EXPECT_EQ(decoded.size(), QSize(176, 144));
    // The preview's background around the scaled frame at 8, 8 is part of the picture sent.
    EXPECT_GT(qGray(decoded.pixel(2, 2)), 230);
    EXPECT_EQ(QSize(view->capture().PrevCap()->Width(), view->capture().PrevCap()->Height()),
              QSize(320, 240));
    // The next frame fits its bitmap again.
    cycle();
    EXPECT_EQ(snapshots.size(), 2u);
}

TEST_F(Transmit, IntervalPacesTransmissionsAndTheStatusBlinks)
{
    start(rgbCamera(176, 144));
    object->setCaptureInterval(2000);
    struct Step
    {
        std::uint32_t advance;
        std::size_t sent;
        const char *status;
    };
    // The first tick is a slot: sent. The label reads "[ Sending ]" for a second after each
    // slot, then nothing until the tick after the next slot.
    const Step steps[] = {
        {0, 1, ""},   {500, 1, "[ Sending ]"}, {600, 1, ""}, {800, 1, ""},
        {200, 2, ""}, {800, 2, "[ Sending ]"}, {300, 2, ""},
    };
    for (const Step &s : steps) {
        g_now += s.advance - 160; // cycle() adds the 160
        cycle();
        EXPECT_EQ(snapshots.size(), s.sent) << g_now;
        EXPECT_EQ(status(), QString::fromLatin1(s.status)) << g_now;
    }
}

TEST_F(Transmit, NotAllowedToPostStillShowsSendingAndMovesTheSlotOn)
{
    start(rgbCamera(176, 144));
    object->setTransmitPost(false);
    object->setCaptureInterval(2000);
    cycle();
    cycle();
    EXPECT_TRUE(snapshots.empty());
    EXPECT_EQ(status(), QStringLiteral("[ Sending ]"));
    object->setTransmitPost(true);
    g_now += 1500;
    cycle(); // the slot was used at the first tick: nothing before 2000 ms
    EXPECT_TRUE(snapshots.empty());
    g_now += 600;
    cycle();
    EXPECT_EQ(snapshots.size(), 1u);

    object->setTransmitStatus(false);
    cycle();
    EXPECT_EQ(status(), QStringLiteral("[ Preview ]"));
    EXPECT_EQ(snapshots.size(), 1u);
}

TEST_F(Transmit, TickCountsWrapWithoutStoppingTheSlots)
{
    g_now = 0xFFFFFD00u;
    start(rgbCamera(176, 144));
    object->setCaptureInterval(2000);
    cycle(); // a slot, 0x260 ms before the count wraps
    cycle(); // just before the wrap: a comparison that wraps too early would send here
    EXPECT_EQ(snapshots.size(), 1u);
    g_now += 0x200; // past the wrap, about 800 ms after the slot
    cycle();
    EXPECT_EQ(snapshots.size(), 1u);
    EXPECT_EQ(status(), QStringLiteral("[ Sending ]"));
    g_now += 1500;
    cycle();
    EXPECT_EQ(snapshots.size(), 2u);
}

long residentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    return statm.readAll().split(' ').value(1).toLong() * ::sysconf(_SC_PAGESIZE);
}

// Ten thousand frames out: descriptors, resident memory and shared-memory objects stay flat.
// VEDEREVE_SOAK_FRAMES sets another length; at about 0.15 ms a frame the full soak is short
// enough to run every time.
TEST_F(Transmit, SoakOfManyFramesLeavesNothingBehind)
{
    const int frames = qEnvironmentVariableIsSet("VEDEREVE_SOAK_FRAMES")
        ? qEnvironmentVariableIntValue("VEDEREVE_SOAK_FRAMES")
        : 10000;
    start(rgbCamera(176, 144));
    for (int i = 0; i < 100; ++i) // warm up caches, pools and the allocator
        cycle();
    snapshots.clear();
    int sent = 0;
    const int descriptors = testenv::openDescriptorCount();
    const int objects = testenv::shmObjectCount();
    const long resident = residentBytes();
    for (int i = 0; i < frames; ++i) {
        cycle();
        sent += int(snapshots.size());
        snapshots.clear();
    }
    EXPECT_EQ(sent, frames);
    EXPECT_EQ(testenv::openDescriptorCount(), descriptors);
    EXPECT_EQ(testenv::shmObjectCount(), objects);
    EXPECT_LT(residentBytes() - resident, 8L << 20) << frames << " frames";
}

} // namespace
