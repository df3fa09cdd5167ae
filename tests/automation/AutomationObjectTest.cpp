#include <gtest/gtest.h>

#include <QApplication>

#include <memory>
#include <vector>

#include "automation/frmWebCam.h"
#include "automation/zozEZUdeZid.h"
#include "base/DebugTrace.h"
#include "base/ExceptionFilter.h"
#include "exchange/modImageMemMapFunctions.h"
#include "panel/cveDerEve.h"
#include "platform/core/FaultGuard.h"
#include "platform/core/TraceSink.h"
#include "support/PanelTestAccess.h"

#include <QTest>

namespace {

struct Recorded
{
    bool minimized;
    std::int32_t height;
};

class AutomationObject : public ::testing::Test
{
protected:
    void SetUp() override
    {
        platform::TraceSink::startCapture();
        object = std::make_unique<zozEZUdeZid>();
        panel = object->form()->WebCam();
        view = std::make_unique<PanelTestAccess>(panel);
        QObject::connect(object->events(), &zozEZUdeZidEvents::MinMaxResize,
                         [this](bool m, std::int32_t h) {
                             objectMoves.push_back({m, h});
                         });
        QObject::connect(panel->events(), &WebCamEvents::MinMaxResize,
                         [this](bool m, std::int32_t h) {
                             panelEvents.push_back({m, h});
                         });
    }
    void TearDown() override
    {
        object.reset();
        DebugTrace::setDebugFlag(false);
        platform::TraceSink::stopCapture();
    }

    std::unique_ptr<zozEZUdeZid> object;
    cveDerEve *panel = nullptr;
    std::unique_ptr<PanelTestAccess> view;
    std::vector<Recorded> objectMoves;
    std::vector<Recorded> panelEvents;
};

TEST_F(AutomationObject, PanelStartsAt202By215InsideTheForm)
{
    EXPECT_EQ(panel->geometry(), QRect(0, 0, 202, 215));
    EXPECT_EQ(object->Height(), 215);
    EXPECT_EQ(object->MinHeight(), 17);
    EXPECT_EQ(object->MaxHeight(), 215);
    EXPECT_FALSE(object->Visible());
}

TEST_F(AutomationObject, HeightPutResizesFormAndPanelButNotWidth)
{
    object->setHeight(17);
    EXPECT_EQ(object->Height(), 17);
    EXPECT_EQ(panel->height(), 17);
    object->setHeight(100);
    EXPECT_EQ(object->Height(), 100);
    EXPECT_EQ(panel->height(), 100);
    EXPECT_EQ(panel->width(), 202);
}

TEST_F(AutomationObject, DebugFlagIsSharedByAllObjects)
{
    zozEZUdeZid second;
    second.setDebugFlag(true);
    object->setTransmitPost(true);
    second.setDebugFlag(false);
    object->setTransmitPost(false);
    EXPECT_EQ(platform::TraceSink::captured(),
              "cveDerEve TransmitStatus = True\nWebCam TransmitPost = True\n");
}

bool g_statusSeenByTrace = false;
zozEZUdeZid *g_observed = nullptr;

TEST_F(AutomationObject, TransmitStatusTraceFollowsTheValueReachingThePanel)
{
    object->setDebugFlag(true);
    g_observed = object.get();
    g_statusSeenByTrace = false;
    platform::TraceSink::setObserver([](std::string_view record) {
        if (record == "WebCam TransmitStatus = True")
            g_statusSeenByTrace = g_observed->form()->WebCam()->TransmitStatus();
    });
    object->setTransmitStatus(true);
    platform::TraceSink::setObserver(nullptr);
    EXPECT_TRUE(g_statusSeenByTrace);
    EXPECT_TRUE(object->TransmitStatus());
}

TEST_F(AutomationObject, MinimiseAndRestoreShiftTheTopBy198)
{
    object->SetPosition(400, 10);
    object->Maximize();
    ASSERT_EQ(objectMoves.size(), 1u);
    EXPECT_FALSE(objectMoves[0].minimized);
    EXPECT_EQ(objectMoves[0].height, -198);
    EXPECT_EQ(object->form()->pos(), QPoint(10, 202));
    EXPECT_EQ(object->Height(), 215);
    object->Minimize();
    object->Minimize();
    ASSERT_EQ(objectMoves.size(), 3u);
    EXPECT_TRUE(objectMoves[1].minimized);
    EXPECT_EQ(objectMoves[1].height, 198);
    EXPECT_EQ(object->form()->pos(), QPoint(10, 598));
    EXPECT_EQ(object->Height(), 17);
    // The panel itself reports heights, not shifts.
    ASSERT_EQ(panelEvents.size(), 3u);
    EXPECT_EQ(panelEvents[1].height, 17);
    EXPECT_EQ(panelEvents[0].height, 215);
}

TEST_F(AutomationObject, FormIsHiddenWhileTheParentHandlesTheResize)
{
    object->Show();
    std::vector<bool> visibleDuring;
    QObject::connect(object->events(), &zozEZUdeZidEvents::MinMaxResize,
                     [&](bool, std::int32_t) { visibleDuring.push_back(object->Visible()); });
    object->Maximize();
    object->Minimize();
    EXPECT_EQ(visibleDuring, (std::vector<bool> {false, false}));
    EXPECT_TRUE(object->Visible());
}

TEST_F(AutomationObject, MaximizeWhileMaximisedDoesNothing)
{
    object->Maximize();
    object->Maximize();
    EXPECT_EQ(panelEvents.size(), 1u);
    EXPECT_TRUE(object->Maximized());
}

TEST_F(AutomationObject, TabPutOfAnUnknownValueOnlyStoresIt)
{
    object->setCurrentTab(2);
    EXPECT_EQ(object->CurrentTab(), 2);
    EXPECT_TRUE(view->box("picParticipant")->isVisibleTo(panel));
    EXPECT_FALSE(view->box("picWebCam")->isVisibleTo(panel));
}

TEST_F(AutomationObject, WebcamTabWithoutDeviceHasNoCameraButtons)
{
    ASSERT_EQ(view->deviceIndex(), -1);
    object->setCurrentTab(1);
    EXPECT_TRUE(view->box("picWebCam")->isVisibleTo(panel));
    EXPECT_TRUE(view->box("picSettingsMain")->isVisibleTo(panel));
    EXPECT_FALSE(view->box("picParticipant")->isVisibleTo(panel));
    EXPECT_FALSE(view->image("imgCamOnMain")->isVisibleTo(panel));
    EXPECT_FALSE(view->image("imgCamOffMain")->isVisibleTo(panel));
    EXPECT_EQ(view->label("lblParticipant")->ForeColor(), QColor(0x80, 0x80, 0x80));
    object->setCurrentTab(0);
    EXPECT_EQ(view->label("lblParticipant")->ForeColor(), QColor(0, 0, 0));
}

TEST_F(AutomationObject, CaptureIntervalMovesTheRateCheckMark)
{
    struct Case
    {
        std::int32_t interval;
        bool two, five, fast;
    };
    for (const Case &c : {Case {2000, true, false, false}, Case {5000, false, true, false},
                          Case {1234, false, false, true}, Case {0, false, false, true}}) {
        object->setCaptureInterval(c.interval);
        EXPECT_EQ(object->CaptureInterval(), c.interval);
        EXPECT_EQ(view->menu(u"mnuRate2sec")->Checked, c.two) << c.interval;
        EXPECT_EQ(view->menu(u"mnuRate5sec")->Checked, c.five) << c.interval;
        EXPECT_EQ(view->menu(u"mnuRateFast")->Checked, c.fast) << c.interval;
    }
}

TEST_F(AutomationObject, TransmitStatusWithoutDeviceClearsStatusButOffersNothing)
{
    std::vector<std::int32_t> snapshots;
    QObject::connect(object->events(), &zozEZUdeZidEvents::WebCamSnapShot,
                     [&](QByteArray &, std::int32_t n) { snapshots.push_back(n); });
    ASSERT_EQ(view->deviceIndex(), -1);
    // A one-byte participant picture while collapsed puts "[ New Image ]" on the strip.
    auto block = modImageMemMapFunctions::ImageBlock::create(7100, 25);
    const auto header = modImageMemMapFunctions::BuildImageHeader(1, 1, 1, 1, 7100, 8, 24, 2, 32);
    const std::uint8_t one = 1;
    modImageMemMapFunctions::WriteImageBlock(block.MapView(), header, {&one, 1});
    object->UpdateParticipant(7100, {}, {});
    view->tickQueue();
    ASSERT_EQ(view->label("lblStatus")->Caption(), QStringLiteral("[ New Image ]"));
    object->setTransmitStatus(true);
    EXPECT_EQ(view->label("lblStatus")->Caption(), QString());
    EXPECT_FALSE(view->TransmitNow().Enabled());
    panel->NewParticipant(); // nothing was held yet
    EXPECT_TRUE(snapshots.empty());
}

TEST_F(AutomationObject, PauseStartsNothingWhenTheCameraWasOff)
{
    object->setPause(true);
    EXPECT_FALSE(view->resumeCam());
    object->setPause(false);
    EXPECT_FALSE(view->capture().CameraOn());
}

TEST_F(AutomationObject, ReceiveCheckBoxFollowsThePropertyWithoutEvents)
{
    int events = 0;
    QObject::connect(object->events(), &zozEZUdeZidEvents::ReceiveCamImages,
                     [&](bool) { ++events; });
    object->RecieveWebCamImages(false);
    EXPECT_EQ(view->image("imgChk")->Tag, QStringLiteral("x"));
    EXPECT_TRUE(view->label("lblDisable")->isVisibleTo(panel));
    EXPECT_EQ(view->image("imgChk")->ToolTipText(), QStringLiteral("Enable receiving"));
    object->RecieveWebCamImages(true);
    EXPECT_TRUE(view->image("imgChk")->Tag.isEmpty());
    EXPECT_FALSE(view->label("lblDisable")->isVisibleTo(panel));
    EXPECT_EQ(events, 0);
}

TEST_F(AutomationObject, SnapshotArrayReachesTheParentByReference)
{
    QByteArray header(24, '\x07');
    const QByteArray *seen = nullptr;
    QObject::connect(object->events(), &zozEZUdeZidEvents::WebCamSnapShot,
                     [&](QByteArray &picHdr, std::int32_t imgNumber) {
                         seen = &picHdr;
                         EXPECT_EQ(imgNumber, 42);
                         picHdr[0] = 'P'; // the parent may write into it
                     });
    Q_EMIT panel->events()->WebCamSnapShot(header, 42);
    EXPECT_EQ(seen, &header);
    EXPECT_EQ(header[0], 'P');
}

TEST_F(AutomationObject, UpdateParticipantQueuesOpenBlocksAndEnablesTheTimerOnce)
{
    // Blocks the parent wrote; a number nobody wrote is dropped.
    std::vector<modImageMemMapFunctions::ImageBlock> blocks;
    for (std::int32_t n : {7001, 7002, 7003})
        blocks.push_back(modImageMemMapFunctions::ImageBlock::create(n, 64));
    object->UpdateParticipant(7001, QStringLiteral("Ann"), QStringLiteral("Oslo"));
    EXPECT_TRUE(view->tmrQueue().Enabled());
    object->UpdateParticipant(7002, QStringLiteral("Bo"), QStringLiteral("Rome"));
    object->UpdateParticipant(7003, QStringLiteral("Cy"), QStringLiteral("Lima"));
    object->UpdateParticipant(7999, QStringLiteral("Nobody"), QString());
    ASSERT_EQ(view->queueLength(), 3u);
    EXPECT_EQ(view->queued(2).PName, QStringLiteral("Cy"));
    EXPECT_EQ(view->queued(0).Block.ImageNumber(), 7001);
}

TEST(AutomationLifetime, CreateReleaseCreateLeavesOneFilterInstalled)
{
    platform::TraceSink::startCapture();
    DebugTrace::setDebugFlag(true);
    {
        zozEZUdeZid first;
        EXPECT_EQ(ExceptionFilter::PrevExceptionFilter(), 1);
    }
    EXPECT_EQ(ExceptionFilter::PrevExceptionFilter(), 0);
    EXPECT_FALSE(platform::FaultGuard::isInstalled());
    {
        // One server serves several parents: the end of one object leaves the others guarded.
        zozEZUdeZid kept;
        {
            zozEZUdeZid ended;
        }
        EXPECT_TRUE(platform::FaultGuard::isInstalled());
    }
    EXPECT_FALSE(platform::FaultGuard::isInstalled());
    const std::string trace = platform::TraceSink::captured();
    EXPECT_NE(trace.find("WebCam Class_Terminate Entry\nWebCam BeforeUnload Entry\n"),
              std::string::npos);
    EXPECT_NE(trace.find("WebCam UserControl_Hide Exit\nWebCam Class_Terminate Exit\n"),
              std::string::npos);
    {
        zozEZUdeZid second;
        EXPECT_EQ(platform::FaultGuard::installCount(), 1);
        EXPECT_EQ(ExceptionFilter::PrevExceptionFilter(), 1);
    }
    DebugTrace::setDebugFlag(false);
    platform::TraceSink::stopCapture();
}

} // namespace
