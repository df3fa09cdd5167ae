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
            g_statusSeenByTrace = g_observed->form()->WebCam()->m_TransmitStatus;
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
    EXPECT_TRUE(panel->picParticipant->isVisibleTo(panel));
    EXPECT_FALSE(panel->picWebCam->isVisibleTo(panel));
}

TEST_F(AutomationObject, WebcamTabWithoutDeviceHasNoCameraButtons)
{
    panel->DeviceIndex = -1;
    object->setCurrentTab(1);
    EXPECT_TRUE(panel->picWebCam->isVisibleTo(panel));
    EXPECT_TRUE(panel->picSettingsMain->isVisibleTo(panel));
    EXPECT_FALSE(panel->picParticipant->isVisibleTo(panel));
    EXPECT_FALSE(panel->imgCamOnMain->isVisibleTo(panel));
    EXPECT_FALSE(panel->imgCamOffMain->isVisibleTo(panel));
    EXPECT_EQ(panel->lblParticipant->ForeColor(), QColor(0x80, 0x80, 0x80));
    object->setCurrentTab(0);
    EXPECT_EQ(panel->lblParticipant->ForeColor(), QColor(0, 0, 0));
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
        EXPECT_EQ(panel->mnuRate2sec.Checked, c.two) << c.interval;
        EXPECT_EQ(panel->mnuRate5sec.Checked, c.five) << c.interval;
        EXPECT_EQ(panel->mnuRateFast.Checked, c.fast) << c.interval;
    }
}

TEST_F(AutomationObject, TransmitStatusWithoutDeviceClearsStatusButOffersNothing)
{
    std::vector<std::int32_t> snapshots;
    QObject::connect(object->events(), &zozEZUdeZidEvents::WebCamSnapShot,
                     [&](QByteArray &, std::int32_t n) { snapshots.push_back(n); });
    panel->DeviceIndex = -1;
    panel->lblStatus->setCaption(QStringLiteral("[ Preview ]"));
    object->setTransmitStatus(true);
    EXPECT_EQ(panel->lblStatus->Caption(), QString());
    EXPECT_FALSE(panel->TransmitNow->Enabled());
    panel->NewParticipant(); // nothing was held yet
    EXPECT_TRUE(snapshots.empty());
}

TEST_F(AutomationObject, PauseStartsNothingWhenTheCameraWasOff)
{
    object->setPause(true);
    EXPECT_FALSE(panel->m_ResumeCam);
    object->setPause(false);
    EXPECT_FALSE(panel->CameraOn);
}

TEST_F(AutomationObject, ReceiveCheckBoxFollowsThePropertyWithoutEvents)
{
    int events = 0;
    QObject::connect(object->events(), &zozEZUdeZidEvents::ReceiveCamImages,
                     [&](bool) { ++events; });
    object->RecieveWebCamImages(false);
    EXPECT_EQ(panel->imgChk->Tag, QStringLiteral("x"));
    EXPECT_TRUE(panel->lblDisable->isVisibleTo(panel));
    EXPECT_EQ(panel->imgChk->ToolTipText(), QStringLiteral("Enable receiving"));
    object->RecieveWebCamImages(true);
    EXPECT_TRUE(panel->imgChk->Tag.isEmpty());
    EXPECT_FALSE(panel->lblDisable->isVisibleTo(panel));
    EXPECT_EQ(events, 0);
    // The click does fire, and two clicks come back to where they started.
    std::vector<bool> clicks;
    QObject::connect(object->events(), &zozEZUdeZidEvents::ReceiveCamImages,
                     [&](bool yorn) { clicks.push_back(yorn); });
    panel->imgChk_Click();
    panel->imgChk_Click();
    EXPECT_EQ(clicks, (std::vector<bool> {false, true}));
    EXPECT_FALSE(panel->lblDisable->isVisibleTo(panel));
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
    std::vector<std::uint32_t> blocks;
    for (std::int32_t n : {7001, 7002, 7003})
        blocks.push_back(modImageMemMapFunctions::CreateImageBlock(n, 64));
    object->UpdateParticipant(7001, QStringLiteral("Ann"), QStringLiteral("Oslo"));
    EXPECT_TRUE(panel->tmrQueue->Enabled());
    panel->tmrQueue->setEnabled(false); // a second enable would show here
    object->UpdateParticipant(7002, QStringLiteral("Bo"), QStringLiteral("Rome"));
    object->UpdateParticipant(7003, QStringLiteral("Cy"), QStringLiteral("Lima"));
    object->UpdateParticipant(7999, QStringLiteral("Nobody"), QString());
    EXPECT_FALSE(panel->tmrQueue->Enabled());
    ASSERT_EQ(panel->ParticipantQueue.size(), 3u);
    EXPECT_EQ(panel->ParticipantQueue[2].PName, QStringLiteral("Cy"));
    for (std::uint32_t h : blocks)
        modImageMemMapFunctions::CloseHandle(h);
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
