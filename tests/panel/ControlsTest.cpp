// The panel's controls clicked, its menus and the file dialogs that follow them.

#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>

#include "PanelDriver.h"
#include "receive/ParticipantBlocks.h"
#include "support/cDibSection.h"

namespace {

using namespace paneltest;

// The picture in a saved file; null unless the file is a 24-bit Windows bitmap.
QImage savedBitmap(const QString &path)
{
    QFile file(path);
    const QByteArray head = file.open(QIODevice::ReadOnly) ? file.read(30) : QByteArray();
    if (head.size() < 30 || !head.startsWith("BM") || head[28] != 24 || head[29] != 0)
        return {};
    return QImage(path, "BMP").convertToFormat(QImage::Format_RGB32);
}

const auto rgb32 = [](const QImage &image) { return image.convertToFormat(QImage::Format_RGB32); };

using Tabs = PanelTest;

TEST_F(Tabs, HeaderAreasSwitchOnlyToTheOtherTabUpToTheirLastPixel)
{
    // From tab, x, y, to tab, button; the name at (100, 10) passes on only left clicks.
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
    // Running: Play is down, Pause is up, frames are grabbed every 120 ms, not transmitting.
    EXPECT_FALSE(view->image("imgCamOnMain")->isEnabled());
    EXPECT_EQ(view->image("imgCamOnMain")->Picture(), view->image("ImgCamOn(1)")->Picture());
    EXPECT_EQ(view->image("imgCamOffMain")->Picture(), view->image("imgCamStop(1)")->Picture());
    EXPECT_EQ(view->tmrMain().Enabled() ? view->tmrMain().Interval() : -1, 120);
    view->tickMain();
    EXPECT_EQ(caption("lblStatus"), "[ Preview ]");
    // A pause by the parent stops the camera and has the parent erase its picture; its end resumes.
    object->setPause(true);
    EXPECT_TRUE(!view->capture().CameraOn() && erased == 1);
    object->setPause(false);
    click("imgCamOffMain", Qt::RightButton);
    EXPECT_TRUE(view->capture().CameraOn());
    // Pause pressed by hand forgets the resume.
    click("imgCamOffMain");
    EXPECT_FALSE(view->capture().CameraOn() || view->resumeCam());
    EXPECT_EQ(view->image("imgCamOnMain")->Picture(), view->image("ImgCamOn(0)")->Picture());
    // Each start puts the frame size after the device's name, once.
    click("imgCamOnMain");
    EXPECT_EQ(view->menu(u"mnuDevices(0)")->Caption, "VEDerEve Virtual Camera 1 (176x144)");
    object->setCurrentTab(0);
    EXPECT_FALSE(view->image("imgCamOnMain")->isVisibleTo(panel));
}

TEST_F(Tabs, ArrowAndCheckBoxToggleAndTellTheParentEachTime)
{
    start(0);
    std::vector<std::pair<bool, std::int32_t>> resized;
    std::vector<bool> receiving;
    QObject::connect(
        panel->events(), &WebCamEvents::MinMaxResize,
        [&](bool minimized, std::int32_t height) { resized.emplace_back(minimized, height); });
    QObject::connect(panel->events(), &WebCamEvents::ReceiveCamImages,
                     [&](bool yes) { receiving.push_back(yes); });
    for (const char *arrow : {"imgUpArrow", "imgDArrow"}) {
        click("imgMinMax");
        EXPECT_EQ(view->image("imgMinMax")->Picture(), view->image(arrow)->Picture());
        EXPECT_EQ(view->box("picMain")->height(), object->Maximized() ? 215 : 17);
    }
    EXPECT_EQ(resized, (std::vector<std::pair<bool, std::int32_t>> {{true, 17}, {false, 215}}));
    for (const char *box : {"img(1)", "img(0)"}) {
        click("imgChk");
        EXPECT_EQ(view->label("lblDisable")->isVisibleTo(panel), box[4] == '1'); // the notice
        EXPECT_EQ(view->image("imgChk")->Picture(), view->image(box)->Picture());
    }
    EXPECT_EQ(receiving, (std::vector<bool> {false, true}));
}

class Menus : public PanelTest
{
protected:
    // The desktop's pictures folder, also the working folder so that relative names land there.
    void SetUp() override
    {
        PanelTest::SetUp();
        const QString config = QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME"));
        QDir().mkpath(pictures);
        QDir().mkpath(config);
        QFile dirs(config + QStringLiteral("/user-dirs.dirs"));
        ASSERT_TRUE(dirs.open(QIODevice::WriteOnly));
        dirs.write("XDG_PICTURES_DIR=\"" + pictures.toUtf8() + "\"\n");
        QDir::setCurrent(pictures);
    }
    QString picture(const QString &name)
    {
        QImage image(64, 48, QImage::Format_RGB32);
        image.fill(qRgb(30, 60, name.size() * 20));
        EXPECT_TRUE(image.save(QDir(pictures).filePath(name), "BMP"));
        return QDir(pictures).filePath(name);
    }
    // Answers (empty: cancels) the file dialog of path; gives its title, folder, name and filter.
    QStringList answer(const char *control, const QStringList &path, const QString &answer,
                       const std::function<void(QFileDialog &)> &beforeAccept = {})
    {
        QStringList seen;
        const auto user = [&](QFileDialog &d) {
            seen = {d.windowTitle(), d.directory().absolutePath(),
                    d.findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->text(),
                    d.findChild<QComboBox *>(QStringLiteral("fileTypeCombo"))->currentText()};
            if (answer.isEmpty())
                return d.reject();
            d.selectFile(QDir(pictures).filePath(answer));
            if (beforeAccept)
                beforeAccept(d);
            static_cast<QDialog &>(d).accept();
        };
        EXPECT_TRUE(whileShown<QFileDialog>([&] { command(control, path); }, user));
        return seen;
    }
    QStringList load(const QString &path, const std::function<void(QFileDialog &)> &before = {})
    {
        return answer("picSettingsMain", {"Load a Picture.."}, path, before);
    }
    void participant()
    {
        handOver(recvtest::rawBlock(recvtest::twoBandPicture(60, 40, 0xffc80000, 0xff0000c8)));
    }
    QStringList stored() const
    {
        return {setting("WebCamPic1"), setting("WebCamPic2"), setting("WebCamPic3"),
                setting("WebCamPic4")};
    }
    const QString pictures = testenv::tempDir() + QStringLiteral("/Pictures");
};

TEST_F(Menus, EachEntryShowsItsStateInTheMenuThatOpens)
{
    const QString top
        = "&Device > | - | &Load a Picture.. | - | Destination &area > | &Capture rate >";
    const QString dialogs = " | - | &Size && pixel depth | &Gamma, contrast, hue...";
    const QString dialogsOff
        = " | - | &Size && pixel depth (off: Start the camera to change its picture size and pixel "
          "depth) | &Gamma, contrast, hue... (off: Start the camera to change its brightness, "
          "contrast and colours)";
    const QString areas = "[x] Output to webcam &participant area (default) | Output to white "
                          "board &bottom right | Output to white board &center";
    const QString rates = "every &2 seconds | every &5 seconds | [x] as &fast as possible";
    const QString copySave = "&Copy | - | &Save as..", clear = copySave + " | - | C&lear";
    const QString pictureTop = "&Device > | - | &Load a Picture.. | &Remove Picture | - | "
                               "Destination &area > | &Capture rate > (off: A picture is sent "
                               "once; the capture rate applies to a camera)";
    const auto device = [&] { command("picSettingsMain", {"Device", "a.bmp"}); };
    save("WebCamPic1", picture("a.bmp"));
    start(0);
    // An action, the control clicked, its menu ("" when none opens), whether sending is held.
    const std::tuple<std::function<void()>, const char *, const char *, QString, bool> steps[] = {
        {{}, "picParticipant", "", "", false},
        {[&] { participant(); }, "picParticipant", "", copySave, false},
        // The notice of disabled receiving over the picture keeps its clicks to itself.
        {[&] { click("imgChk"); }, "lblDisable", "", "", false},
        {[&] { object->setCurrentTab(1); }, "picWebCam", "", "", false},
        {{}, "picSettingsMain", "", top + dialogsOff, false},
        // Dismissed without a choice, the menu of the running camera still holds the sending.
        {[&] { click("imgCamOnMain"); }, "picSettingsMain", "", top + dialogs, true},
        {{}, "picSettingsMain", "Destination area", areas, true},
        {{}, "picSettingsMain", "Capture rate", rates, true},
        {{}, "picWebCam", "", clear + " (off: Pause the camera to clear the preview)", true},
        {[&] { click("imgCamOffMain"); }, "picWebCam", "", clear, false},
        {device, "picSettingsMain", "Device", "VEDerEve Virtual Camera 1 (176x144) | [x] a.bmp",
         false},
        {{}, "picSettingsMain", "", pictureTop + dialogsOff, false},
    };
    for (const auto &[act, control, submenu, shown, menuOpen] : steps) {
        if (act)
            act();
        EXPECT_EQ(menuOf(control, submenu), shown) << control;
        EXPECT_EQ(view->menuOpen(), menuOpen) << control;
    }
}

// Destination and rate move their checks; they and the driver dialogs restart a running camera.
TEST_F(Menus, SettingsRestartARunningCameraAndDriverDialogsHoldTheGrabsMeanwhile)
{
    // Camera running, the entry, window position and interval after, the parent's erasures.
    const std::tuple<bool, const char *, const char *, std::int32_t, std::int32_t, int> cases[] = {
        {true, "Destination area", "Output to white board center", 40, 0, 1},
        {true, "Destination area", "Output to webcam participant area (default)", 8, 0, 0},
        {true, "Capture rate", "every 5 seconds", 8, 5000, 0},
        {false, "Destination area", "Output to white board bottom right", 24, 5000, 0},
        {false, "Capture rate", "as fast as possible", 24, 0, 0},
    };
    start();
    for (const auto &[running, submenu, entry, windowPos, interval, erasures] : cases) {
        SCOPED_TRACE(entry);
        if (running != view->capture().CameraOn())
            click(running ? "imgCamOnMain" : "imgCamOffMain");
        const std::int32_t window = view->capture().lwndc();
        command("picSettingsMain", {submenu, entry});
        EXPECT_EQ(std::tuple(view->windowPos(), object->CaptureInterval(), std::exchange(erased, 0),
                             view->capture().lwndc() != window, view->capture().CameraOn(),
                             view->menuOpen()),
                  std::tuple(windowPos, interval, erasures, running && submenu[0] == 'D', running,
                             false));
        const QString checks = plain(menuOf("picSettingsMain", submenu));
        EXPECT_TRUE(checks.count("[x] ") == 1 && checks.contains("[x] " + QString(entry)));
    }

    click("imgCamOnMain");
    for (const auto &dialog : {std::pair {"Size & pixel depth", "Video Format"},
                               {"Gamma, contrast, hue...", "Video Source"}}) {
        const std::int32_t window = view->capture().lwndc();
        const auto user = [&](QDialog &d) {
            EXPECT_EQ(d.windowTitle(), dialog.second);
            EXPECT_TRUE(view->hardwareBusy() && !view->tmrMain().Enabled());
            d.reject();
        };
        EXPECT_TRUE(whileShown<QDialog>([&] { command("picSettingsMain", {dialog.first}); }, user));
        EXPECT_TRUE(!view->hardwareBusy() && view->tmrMain().Enabled());
        EXPECT_NE(view->capture().lwndc(), window);
    }
}

TEST_F(Menus, StoredPicturesStayFourNewestFirstAndTheIndexNamesTheListedEntry)
{
    const QStringList four {picture("a.bmp"), picture("b.bmp"), picture("c.bmp"), picture("d.bmp")};
    const QString otherCase = picture("C.BMP"), fifth = picture("e.bmp");
    for (int k = 1; k <= 4; ++k)
        save(QStringLiteral("WebCamPic%1").arg(k), four[k - 1]);
    // Away from the pictures folder, so that the dialog can only have found that by its number.
    QDir::setCurrent(testenv::tempDir());
    start();
    std::vector<std::int32_t> announced;
    QObject::connect(object->events(), &zozEZUdeZidEvents::WebCamSnapShot,
                     [&](QByteArray &, std::int32_t n) { announced.push_back(n); });
    // The chosen entry's path, marked when it carries the check mark.
    const auto chosen = [&] {
        const vb::MenuEntry *entry
            = view->menu(QStringLiteral("mnuDevices(%1)").arg(view->deviceIndex()));
        return entry ? (entry->Checked ? "[x] " : "") + entry->Tag : QStringLiteral("none");
    };

    EXPECT_EQ(load(otherCase),
              (QStringList {"Select default webcam picture (cropped 176 x 144)", pictures, "",
                            "Picture files (*.bmp|*.gif|*.jpg)"}));
    EXPECT_EQ(stored() << setting("WebCamDevice") << chosen(),
              (four + QStringList {"3", "[x] " + four[2]}));
    EXPECT_FALSE(view->image("imgCamOnMain")->isVisibleTo(panel));
    // Held for the participant area, shown in the preview, announced only while transmitting.
    ASSERT_EQ(view->heldHeader().size(), 24);
    EXPECT_EQ(view->heldHeader().at(20), 8);
    EXPECT_TRUE(qBlue(view->box("picWebCam")->Image().pixel(88, 72)) == 100
                && caption("lblStatus").isEmpty());

    load(fifth);
    EXPECT_EQ(stored() << chosen(),
              (QStringList {fifth, four[0], four[1], four[2], "[x] " + fifth}));
    EXPECT_NE(view->heldBlock(), 0u);

    command("picSettingsMain", {"Device", "a.bmp"});
    command("picSettingsMain", {"Remove Picture"});
    EXPECT_EQ(stored(), (QStringList {fifth, "", four[1], four[2]}));
    EXPECT_EQ(std::tuple(setting("WebCamDevice"), view->deviceIndex(), erased, view->heldBlock()),
              std::tuple(QStringLiteral("-1"), -1, 1, 0u));
    EXPECT_FALSE(menuOf("picSettingsMain").contains("Remove Picture"));

    // The picture of slot 4 is listed one entry up, after the gap.
    load(otherCase);
    EXPECT_EQ(chosen(), "[x] " + four[2]);

    // A cancelled dialog, or a file gone before it could be read, changes nothing.
    load(QString());
    load(fifth, [&](QFileDialog &d) {
        QObject::connect(&d, &QDialog::accepted, [&] { QFile::remove(fifth); });
    });
    EXPECT_EQ(stored(), (QStringList {fifth, "", four[1], four[2]}));
    EXPECT_EQ(chosen(), "[x] " + four[2]);

    EXPECT_TRUE(announced.empty());
    object->setTransmitStatus(true);
    command("picSettingsMain", {"Device", "c.bmp"});
    EXPECT_EQ(announced, std::vector<std::int32_t> {view->heldImageNumber()});
    EXPECT_EQ(caption("lblStatus"), "[ Picture Sent ]");
    // Back to the camera: off, it stays off; running, it restarts.
    command("picSettingsMain", {"Device", "VEDerEve Virtual Camera 1"});
    EXPECT_TRUE(!view->capture().CameraOn() && view->image("imgCamOnMain")->isVisibleTo(panel));
    click("imgCamOnMain");
    const std::int32_t firstWindow = view->capture().lwndc();
    command("picSettingsMain", {"Device", "VEDerEve Virtual Camera 1 (176x144)"});
    EXPECT_TRUE(view->capture().CameraOn() && view->capture().lwndc() != firstWindow);
}

TEST_F(Menus, CopyAndSaveTakeWhatEachTabShows)
{
    save("WebCamPic1", QFileInfo(picture("C:\\pics\\me.jpg")).fileName());
    save("WebCamPic2", QFileInfo(picture("C:\\my.pics\\ann.jpg")).fileName());
    start(0);
    QClipboard *clipboard = QGuiApplication::clipboard();
    const auto copied = [&](const char *control) {
        command(control, {"Copy"});
        return rgb32(clipboard->image());
    };

    participant();
    const QImage area = rgb32(view->box("picParticipant")->Image());
    EXPECT_EQ(copied("picParticipant"), area);
    EXPECT_EQ(answer("picParticipant", {"Save as.."}, "saved.bmp"),
              (QStringList {"Save as..", pictures, "Ann.bmp", "*.bmp"}));
    EXPECT_EQ(savedBitmap(QStringLiteral("saved.bmp")), area);

    // A stored picture is offered under its own path, cut at the first dot.
    object->setCurrentTab(1);
    for (const auto &[entry, proposed] :
         {std::pair {"me.jpg", "C:\\pics\\me.bmp"}, {"ann.jpg", "C:\\my.bmp"}}) {
        command("picSettingsMain", {"Device", entry});
        EXPECT_EQ(answer("picWebCam", {"Save as.."}, proposed).value(2), proposed);
        EXPECT_EQ(savedBitmap(proposed), rgb32(view->box("picWebCam")->Picture()));
    }
    EXPECT_EQ(copied("picWebCam"), rgb32(view->box("picWebCam")->Picture()));
    // Clear lets go of the picture for now; the stored choice stays.
    command("picWebCam", {"Clear"});
    EXPECT_EQ(std::tuple(setting("WebCamDevice"), view->deviceIndex(), view->heldBlock()),
              std::tuple(QStringLiteral("2"), -1, 0u));
    EXPECT_FALSE(view->box("picWebCam")->hasPicture());

    // The running camera's frame; a cancelled save gives back the sending the menu held.
    command("picSettingsMain", {"Device", "VEDerEve Virtual Camera 1"});
    click("imgCamOnMain");
    view->tickMain();
    EXPECT_EQ(copied("picWebCam"), rgb32(view->capture().PrevCap()->DibPicture()));
    withMenu("picSettingsMain", [](QMenu &) {});
    EXPECT_EQ(answer("picWebCam", {"Save as.."}, QString()).value(2), "webcam.bmp");
    EXPECT_FALSE(view->menuOpen() || QFile::exists(QStringLiteral("webcam.bmp")));
}

} // namespace
