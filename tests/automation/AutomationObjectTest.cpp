#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "automation/frmWebCam.h"
#include "automation/zozEZUdeZid.h"
#include "base/ExceptionFilter.h"
#include "panel/cveDerEve.h"
#include "platform/core/FaultGuard.h"
#include "support/PanelTestAccess.h"
#include "support/TraceCapture.h"

namespace {

class AutomationObject : public testenv::TraceCaptureTest
{
protected:
    void SetUp() override
    {
        TraceCaptureTest::SetUp();
        DebugTrace::setDebugFlag(false);
        object = std::make_unique<zozEZUdeZid>();
        panel = object->form()->WebCam();
    }

    std::unique_ptr<zozEZUdeZid> object;
    cveDerEve *panel = nullptr;
};

TEST_F(AutomationObject, DebugFlagIsSharedByAllObjectsAndTracesPutsWordForWord)
{
    zozEZUdeZid second;
    second.setDebugFlag(true);
    object->setTransmitPost(true);
    object->setTransmitStatus(true);
    second.setDebugFlag(false);
    object->setTransmitPost(false);
    // The panel's line says TransmitStatus for the TransmitPost value; parents' logs rely on it.
    EXPECT_EQ(platform::TraceSink::captured(),
              "cveDerEve TransmitStatus = True\n"
              "WebCam TransmitPost = True\n"
              "WebCam TransmitStatus = True\n");
}

TEST_F(AutomationObject, HeightPutResizesButNotTheWidthAndMinimiseAndRestoreShiftTheTopBy198)
{
    EXPECT_EQ(panel->geometry(), QRect(0, 0, 202, 215));
    EXPECT_EQ(std::vector({object->Height(), object->MinHeight(), object->MaxHeight()}),
              std::vector({215, 17, 215}));
    for (const std::int32_t height : {17, 100, 215}) {
        object->setHeight(height);
        EXPECT_EQ(std::pair(object->Height(), panel->size()),
                  std::pair(height, QSize(202, height)));
    }
    std::vector<std::pair<bool, std::int32_t>> told;
    std::vector<bool> visibleDuring;
    QObject::connect(object->events(), &zozEZUdeZidEvents::MinMaxResize,
                     [&](bool m, std::int32_t shift) {
                         told.emplace_back(m, shift);
                         visibleDuring.push_back(object->Visible());
                     });
    object->Show();
    object->SetPosition(400, 10); // top, then left
    EXPECT_EQ(object->form()->geometry(), QRect(10, 400, 202, 215));
    EXPECT_NE(object->hWndCam(), 0);
    object->Maximize();
    object->Maximize(); // already maximised: nothing happens
    EXPECT_EQ(std::pair(object->form()->geometry(), object->Height()),
              std::pair(QRect(10, 202, 202, 215), 215));
    object->Minimize();
    // The bottom edge stays where it was.
    EXPECT_EQ(std::pair(object->form()->geometry(), object->Height()),
              std::pair(QRect(10, 400, 202, 17), 17));
    // The parent hears shifts of its window's top, not the panel's heights.
    EXPECT_EQ(told, (std::vector<std::pair<bool, std::int32_t>> {{false, -198}, {true, 198}}));
    EXPECT_TRUE(visibleDuring == std::vector<bool>({false, false}) && object->Visible());
}

TEST_F(AutomationObject, ReceivePutSetsTheCheckBoxWithoutTellingTheParent)
{
    const PanelTestAccess view(panel);
    int told = 0;
    QObject::connect(object->events(), &zozEZUdeZidEvents::ReceiveCamImages, [&] { ++told; });
    // The tag is what the next click toggles from.
    for (const bool on : {false, true}) {
        object->RecieveWebCamImages(on);
        EXPECT_EQ(view.image("imgChk")->Tag, on ? QString() : QStringLiteral("x"));
        EXPECT_EQ(view.label("lblDisable")->isVisibleTo(panel), !on);
        EXPECT_TRUE(on || view.image("imgChk")->ToolTipText() == u"Enable receiving");
    }
    EXPECT_EQ(told, 0);
}

using AutomationLifetime = testenv::TraceCaptureTest;

TEST_F(AutomationLifetime, FilterStaysWhileAnyObjectLivesAndTerminateIsTraced)
{
    {
        // One server serves several parents: the end of one object leaves the others guarded.
        zozEZUdeZid kept;
        {
            zozEZUdeZid ended;
            EXPECT_EQ(platform::FaultGuard::installCount(), 1);
        }
        EXPECT_EQ(platform::FaultGuard::installCount(), 1);
    }
    EXPECT_EQ(platform::FaultGuard::installCount(), 0); // the handlers are really gone
    EXPECT_EQ(ExceptionFilter::PrevExceptionFilter(), 0);
    {
        zozEZUdeZid again;
        EXPECT_EQ(ExceptionFilter::PrevExceptionFilter(), 1);
    }
    const std::string trace = captured();
    EXPECT_NE(trace.find("WebCam Class_Terminate Entry\nWebCam BeforeUnload Entry\n"),
              std::string::npos);
    EXPECT_NE(trace.find("WebCam UserControl_Hide Exit\nWebCam Class_Terminate Exit\n"),
              std::string::npos);
}

} // namespace
