// The tab headers, Play and Pause, collapse and expand and the receive check box, clicked.

#include "PanelDriver.h"

namespace {

using paneltest::mouseAt;

class Tabs : public paneltest::PanelTest
{ };

TEST_F(Tabs, HeaderAreasSwitchOnlyToTheOtherTabUpToTheirLastPixel)
{
    // From tab, x, y, to tab, with the left, right or middle button. (100, 10) lies on the
    // participant's name, which stands for its header with a left click and keeps the other
    // buttons to itself; the header areas themselves take any button.
    const int cases[][5]
        = {{0, 78, 16, 1, 0},  {0, 4, 3, 1, 1},    {0, 79, 16, 0, 0},  {0, 50, 17, 0, 0},
           {0, 100, 10, 0, 0}, {1, 100, 10, 0, 0}, {1, 100, 10, 1, 1}, {1, 100, 10, 1, 2},
           {1, 94, 16, 0, 1},  {1, 93, 16, 1, 0},  {1, 178, 16, 1, 0}};
    const Qt::MouseButton buttons[] = {Qt::LeftButton, Qt::RightButton, Qt::MiddleButton};
    start();
    for (const auto &[from, x, y, to, button] : cases) {
        object->setCurrentTab(from);
        mouseAt(QTest::MouseClick, view->widget("picTabMain"), {x, y}, buttons[button]);
        EXPECT_EQ(object->CurrentTab(), to) << from << " at " << x << "," << y << " " << button;
    }
}

TEST_F(Tabs, PlayAndPauseAnswerOnlyTheLeftButtonAndFollowTheCamera)
{
    start();
    for (const Qt::MouseButton button : {Qt::RightButton, Qt::LeftButton}) {
        mouseAt(QTest::MousePress, view->widget("imgCamOnMain"), {5, 5}, button);
        EXPECT_EQ(view->image("imgCamOnMain")->BorderStyle, button == Qt::LeftButton ? 1 : 0);
        mouseAt(QTest::MouseRelease, view->widget("imgCamOnMain"), {5, 5}, button);
        EXPECT_EQ(view->image("imgCamOnMain")->BorderStyle, 0);
        EXPECT_EQ(view->capture().CameraOn(), button == Qt::LeftButton);
    }
    // Running: Play is down, Pause is up, frames are grabbed every 120 ms.
    EXPECT_FALSE(view->image("imgCamOnMain")->isEnabled());
    EXPECT_EQ(view->image("imgCamOnMain")->Picture(), view->image("ImgCamOn(1)")->Picture());
    EXPECT_EQ(view->image("imgCamOffMain")->Picture(), view->image("imgCamStop(1)")->Picture());
    EXPECT_TRUE(view->tmrMain().Enabled());
    EXPECT_EQ(view->tmrMain().Interval(), 120);
    view->tickMain(); // not transmitting
    EXPECT_EQ(caption("lblStatus"), "[ Preview ]");
    // A pause by the parent stops the camera and has the parent erase its picture; the end of
    // the pause resumes it.
    int erased = 0;
    QObject::connect(object->events(), &zozEZUdeZidEvents::EraseWebCam, [&] { ++erased; });
    object->setPause(true);
    EXPECT_FALSE(view->capture().CameraOn());
    EXPECT_EQ(erased, 1);
    object->setPause(false);
    click("imgCamOffMain", Qt::RightButton);
    EXPECT_TRUE(view->capture().CameraOn());
    // Pause pressed by hand forgets the resume.
    click("imgCamOffMain");
    EXPECT_FALSE(view->capture().CameraOn());
    EXPECT_FALSE(view->resumeCam());
    EXPECT_EQ(view->image("imgCamOnMain")->Picture(), view->image("ImgCamOn(0)")->Picture());
    // Each start puts the frame size after the device's name, once.
    click("imgCamOnMain");
    EXPECT_EQ(view->menu(u"mnuDevices(0)")->Caption, "VEDerEve Virtual Camera 1 (176x144)");
    object->setCurrentTab(0);
    EXPECT_FALSE(view->image("imgCamOnMain")->isVisibleTo(panel));
}

TEST_F(Tabs, ArrowCollapsesThenExpandsAndTellsTheParentEachTime)
{
    start();
    std::vector<std::pair<bool, std::int32_t>> resized;
    QObject::connect(
        panel->events(), &WebCamEvents::MinMaxResize,
        [&](bool minimized, std::int32_t height) { resized.emplace_back(minimized, height); });
    for (const char *arrow : {"imgUpArrow", "imgDArrow"}) {
        click("imgMinMax");
        EXPECT_EQ(view->image("imgMinMax")->Picture(), view->image(arrow)->Picture());
        EXPECT_EQ(view->box("picMain")->height(), object->Maximized() ? 215 : 17);
    }
    EXPECT_EQ(resized, (std::vector<std::pair<bool, std::int32_t>> {{true, 17}, {false, 215}}));
    EXPECT_TRUE(object->Maximized());
}

TEST_F(Tabs, CheckBoxTogglesReceivingAndItsNotice)
{
    start(0);
    std::vector<bool> told;
    QObject::connect(panel->events(), &WebCamEvents::ReceiveCamImages,
                     [&](bool yes) { told.push_back(yes); });
    for (const int picture : {1, 0}) {
        click("imgChk");
        EXPECT_EQ(view->label("lblDisable")->isVisibleTo(panel), picture == 1);
        EXPECT_EQ(view->image("imgChk")->Picture(),
                  view->image(picture ? "img(1)" : "img(0)")->Picture());
    }
    EXPECT_EQ(told, (std::vector<bool> {false, true}));
}

} // namespace
