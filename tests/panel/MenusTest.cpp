// The settings and context menus opened and chosen with the mouse, and the file dialogs answered.

#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>

#include "PanelDriver.h"
#include "receive/ParticipantBlocks.h"
#include "support/cDibSection.h"

namespace {

using paneltest::save;
using paneltest::setting;

// The picture in a saved file; null unless the file is a 24-bit Windows bitmap.
QImage savedBitmap(const QString &path)
{
    QFile file(path);
    const QByteArray head = file.open(QIODevice::ReadOnly) ? file.read(30) : QByteArray();
    if (head.size() < 30 || !head.startsWith("BM") || head[28] != 24 || head[29] != 0)
        return {};
    return QImage(path, "BMP").convertToFormat(QImage::Format_RGB32);
}

QImage rgb32(const QImage &image)
{
    return image.convertToFormat(QImage::Format_RGB32);
}

class Menus : public paneltest::PanelTest
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
    // Chooses path in the menu of control and answers the file dialog that follows with answer,
    // or cancels it; beforeAccept plays what happens while the dialog closes. Gives the dialog's
    // title, folder, proposed name and filter.
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
            // Named in full: whatever folder the dialog shows, the file lands among the test's.
            d.selectFile(QDir(pictures).filePath(answer));
            if (beforeAccept)
                beforeAccept(d);
            static_cast<QDialog &>(d).accept();
        };
        const auto modal
            = [] { return qobject_cast<QFileDialog *>(QApplication::activeModalWidget()); };
        EXPECT_TRUE(
            paneltest::whileShown<QFileDialog>([&] { command(control, path); }, modal, user));
        return seen;
    }
    QStringList load(const QString &path, const std::function<void(QFileDialog &)> &before = {})
    {
        return answer("picSettingsMain", {"Load a Picture.."}, path, before);
    }
    void participant()
    {
        const auto bytes
            = recvtest::rawBlock(recvtest::twoBandPicture(60, 40, 0xffc80000, 0xff0000c8));
        const auto block = modImageMemMapFunctions::ImageBlock::create(4321, qint64(bytes.size()));
        std::memcpy(block.MapView(), bytes.data(), bytes.size());
        object->UpdateParticipant(4321, "Ann", "Oslo");
        view->tickQueue();
    }
    QStringList stored() const
    {
        QStringList list;
        for (int k = 1; k <= 4; ++k)
            list << setting(QStringLiteral("WebCamPic%1").arg(k));
        return list;
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
    const QString copySave = "&Copy | - | &Save as..";
    // What a person does, then the menu a click on control opens, read whole ("" when none
    // opens), and whether the sending is held back afterwards.
    struct Step
    {
        std::function<void()> act;
        const char *control, *submenu;
        QString shown;
        bool menuOpen;
    };
    save("WebCamPic1", picture("a.bmp"));
    start(0);
    const Step steps[] = {
        {{}, "picParticipant", "", "", false},
        {[&] { participant(); }, "picParticipant", "", copySave, false},
        // The notice of disabled receiving over the picture keeps its clicks to itself.
        {[&] { click("imgChk"); }, "lblDisable", "", "", false},
        {[&] { object->setCurrentTab(1); }, "picWebCam", "", "", false},
        {{}, "picSettingsMain", "", top + dialogsOff, false},
        // Dismissed without a choice, the menu of the running camera still holds the sending.
        {[&] { click("imgCamOnMain"); }, "picSettingsMain", "", top + dialogs, true},
        {{},
         "picSettingsMain",
         "Destination area",
         "[x] Output to webcam &participant area (default) | Output to white board &bottom right "
         "| Output to white board &center",
         true},
        {{},
         "picSettingsMain",
         "Capture rate",
         "every &2 seconds | every &5 seconds | [x] as &fast as possible",
         true},
        {{},
         "picWebCam",
         "",
         copySave + " | - | C&lear (off: Pause the camera to clear the preview)",
         true},
        {[&] { click("imgCamOffMain"); }, "picWebCam", "", copySave + " | - | C&lear", false},
        {[&] {
             command("picSettingsMain", {"Device", "a.bmp"});
         },
         "picSettingsMain", "Device", "VEDerEve Virtual Camera 1 (176x144) | [x] a.bmp", false},
        {{},
         "picSettingsMain",
         "",
         "&Device > | - | &Load a Picture.. | &Remove Picture | - | Destination &area > | &Capture "
         "rate > (off: A picture is sent once; the capture rate applies to a camera)"
             + dialogsOff,
         false},
    };
    for (const Step &step : steps) {
        if (step.act)
            step.act();
        EXPECT_EQ(menuOf(step.control, step.submenu), step.shown) << step.control;
        EXPECT_EQ(view->menuOpen(), step.menuOpen) << step.control;
    }
}

TEST_F(Menus, DestinationAndRateRestartARunningCameraAndMoveTheirChecks)
{
    struct Case
    {
        bool running;
        const char *submenu, *entry;
        std::int32_t windowPos, interval;
        int erased; // the parent clears what it showed once frames go to the white board
    };
    const Case cases[] = {
        {true, "Destination area", "Output to white board center", 40, 0, 1},
        {true, "Destination area", "Output to webcam participant area (default)", 8, 0, 0},
        {true, "Capture rate", "every 5 seconds", 8, 5000, 0},
        {false, "Destination area", "Output to white board bottom right", 24, 5000, 0},
        {false, "Capture rate", "as fast as possible", 24, 0, 0},
    };
    start();
    int erased = 0;
    QObject::connect(panel->events(), &WebCamEvents::EraseWebCam, [&] { ++erased; });
    for (const Case &c : cases) {
        SCOPED_TRACE(c.entry);
        if (c.running != view->capture().CameraOn())
            click(c.running ? "imgCamOnMain" : "imgCamOffMain");
        const std::int32_t window = view->capture().lwndc();
        command("picSettingsMain", {c.submenu, c.entry});
        EXPECT_EQ(view->windowPos(), c.windowPos);
        EXPECT_EQ(object->CaptureInterval(), c.interval);
        EXPECT_EQ(std::exchange(erased, 0), c.erased);
        EXPECT_EQ(view->capture().lwndc() != window, c.running && c.submenu[0] == 'D');
        EXPECT_EQ(view->capture().CameraOn(), c.running);
        EXPECT_FALSE(view->menuOpen());
        const QString checks = paneltest::plain(menuOf("picSettingsMain", c.submenu));
        EXPECT_TRUE(checks.count("[x] ") == 1 && checks.contains("[x] " + QString(c.entry)));
    }
}

TEST_F(Menus, DriverDialogsHoldTheGrabsAndRestartTheCamera)
{
    start();
    click("imgCamOnMain");
    for (const auto &dialog : {std::pair {"Size & pixel depth", "Video Format"},
                               {"Gamma, contrast, hue...", "Video Source"}}) {
        const std::int32_t window = view->capture().lwndc();
        const auto user = [&](QDialog &d) {
            EXPECT_EQ(d.windowTitle(), dialog.second);
            EXPECT_TRUE(view->hardwareBusy());
            EXPECT_FALSE(view->tmrMain().Enabled());
            d.reject();
        };
        const auto modal
            = [] { return qobject_cast<QDialog *>(QApplication::activeModalWidget()); };
        EXPECT_TRUE(paneltest::whileShown<QDialog>(
            [&] { command("picSettingsMain", {dialog.first}); }, modal, user));
        EXPECT_FALSE(view->hardwareBusy());
        EXPECT_NE(view->capture().lwndc(), window);
        EXPECT_TRUE(view->tmrMain().Enabled());
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
    int erased = 0;
    QObject::connect(panel->events(), &WebCamEvents::EraseWebCam, [&] { ++erased; });
    // The chosen entry's path, marked when it carries the check mark.
    const auto chosen = [&] {
        const vb::MenuEntry *entry
            = view->menu(QStringLiteral("mnuDevices(%1)").arg(view->deviceIndex()));
        return entry ? (entry->Checked ? "[x] " : "") + entry->Tag : QStringLiteral("none");
    };

    EXPECT_EQ(load(otherCase),
              (QStringList {"Select default webcam picture (cropped 176 x 144)", pictures, "",
                            "Picture files (*.bmp|*.gif|*.jpg)"}));
    EXPECT_EQ(stored(), four);
    EXPECT_EQ(setting("WebCamDevice"), "3");
    EXPECT_EQ(chosen(), "[x] " + four[2]);
    EXPECT_FALSE(view->image("imgCamOnMain")->isVisibleTo(panel));

    load(fifth);
    EXPECT_EQ(stored(), (QStringList {fifth, four[0], four[1], four[2]}));
    EXPECT_EQ(chosen(), "[x] " + fifth);
    EXPECT_NE(view->heldBlock(), 0u);

    command("picSettingsMain", {"Device", "a.bmp"});
    command("picSettingsMain", {"Remove Picture"});
    EXPECT_EQ(stored(), (QStringList {fifth, "", four[1], four[2]}));
    EXPECT_EQ(setting("WebCamDevice"), "-1");
    EXPECT_EQ(view->deviceIndex(), -1);
    EXPECT_EQ(erased, 1);
    EXPECT_EQ(view->heldBlock(), 0u);
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
    EXPECT_EQ(view->deviceIndex(), -1);
    EXPECT_EQ(setting("WebCamDevice"), "2");
    EXPECT_FALSE(view->box("picWebCam")->hasPicture());
    EXPECT_EQ(view->heldBlock(), 0u);

    // The running camera: the capture window copies its frame. A cancelled save gives the
    // sending that the open menu held back.
    command("picSettingsMain", {"Device", "VEDerEve Virtual Camera 1"});
    click("imgCamOnMain");
    view->tickMain();
    EXPECT_EQ(copied("picWebCam"), rgb32(view->capture().PrevCap()->DibPicture()));
    withMenu("picSettingsMain", [](QMenu &) {});
    EXPECT_EQ(answer("picWebCam", {"Save as.."}, QString()).value(2), "webcam.bmp");
    EXPECT_FALSE(view->menuOpen());
    EXPECT_FALSE(QFile::exists(QStringLiteral("webcam.bmp")));
}

} // namespace
