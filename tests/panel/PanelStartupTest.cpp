#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "automation/frmWebCam.h"
#include "automation/zozEZUdeZid.h"
#include "exchange/modImageMemMapFunctions.h"
#include "panel/cveDerEve.h"
#include "platform/shm/HandleTable.h"
#include "skin/SkinPictures.h"
#include "support/CRegSettings.h"
#include "support/PanelTestAccess.h"
#include "support/TestEnvironment.h"

namespace {

const QString kDefaults = QStringLiteral("Defaults");

class PanelStartup : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testenv::removeRegistry();
        cveDerEve::setScreenDpiSource({});
    }
    void TearDown() override { cveDerEve::setScreenDpiSource({}); }

    static void setSetting(const char *key, const QString &value)
    {
        CRegSettings().SaveSetting(kDefaults, QString::fromLatin1(key), value);
    }
    static QImage samplePicture(std::string_view name)
    {
        return QImage(QStringLiteral(SAMPLE_SKIN_PNGS "/")
                      + QString::fromLatin1(name.data(), qsizetype(name.size()))
                      + QStringLiteral(".png"))
            .convertToFormat(QImage::Format_ARGB32);
    }
    static QImage pictureOf(const QImage &picture)
    {
        return picture.convertToFormat(QImage::Format_ARGB32);
    }
};

TEST_F(PanelStartup, StartsCollapsedOnTheParticipantTabWithBuiltInPictures)
{
    zozEZUdeZid object;
    cveDerEve *panel = object.form()->WebCam();
    const PanelTestAccess v(panel);
    EXPECT_TRUE(v.initialized());
    EXPECT_FALSE(panel->Maximized());
    EXPECT_EQ(v.deviceIndex(), -1);
    EXPECT_EQ(v.windowPos(), 8);
    EXPECT_TRUE(v.menu(u"mnuParticipant")->Checked);
    EXPECT_FALSE(v.menu(u"mnuWBCenter")->Checked);
    EXPECT_TRUE(v.menu(u"mnuRateFast")->Checked);
    EXPECT_EQ(v.box("picMain")->height(), 17);
    EXPECT_EQ(pictureOf(v.box("picMain")->Picture()), pictureOf(v.box("picMainDown")->Picture()));
    EXPECT_EQ(pictureOf(v.box("picTabMain")->Picture()),
              pictureOf(v.image("picTabParticipant")->Picture()));
    EXPECT_EQ(pictureOf(v.image("imgBrand")->Picture()),
              pictureOf(QImage(skin::builtInSkinPath("imgBrand"))));
    for (const CcrpTimer *timer : {&v.tmrQueue(), &v.tmrMain(), &v.tmrStart(), &v.TransmitNow()}) {
        EXPECT_FALSE(timer->Enabled());
        EXPECT_EQ(timer->EventType(), 1);
    }
    EXPECT_EQ(v.tmrMain().Interval(), 120);
    EXPECT_EQ(v.tmrQueue().Interval(), 40);
    EXPECT_NE(modImageMemMapFunctions::pHeaderView, nullptr);
}

TEST_F(PanelStartup, ControlsSitWhereTheLayoutPutsThem)
{
    zozEZUdeZid object;
    cveDerEve *p = object.form()->WebCam();
    const PanelTestAccess v(p);
    struct Case
    {
        const char *control;
        QRect geometry;
        const char *container; // nullptr: the panel
    };
    const Case cases[] = {
        {"picTabMain", {1, 19, 200, 191}, "picMain"},
        {"picSettingsMain", {117, 169, 66, 18}, "picTabMain"},
        {"picParticipant", {13, 22, 174, 144}, "picTabMain"},
        {"imgChk", {156, 3, 13, 13}, "picParticipant"},
        {"lblDisable", {15, 2, 138, 14}, "picParticipant"},
        {"lblParticipant", {86, 3, 94, 13}, "picTabMain"},
        {"lblLocation", {13, 167, 174, 22}, "picTabMain"},
        {"imgCamOffMain", {37, 169, 19, 18}, "picTabMain"},
        {"lblStatus", {104, 4, 78, 11}, "picMain"},
        {"imgMinMax", {185, 3, 12, 12}, "picMain"},
        {"picStopCam", {21, 237, 176, 144}, nullptr},
        {"img(1)", {453, 374, 13, 13}, nullptr},
        {"imgUpArrow", {28, 410, 12, 12}, nullptr},
    };
    for (const Case &c : cases) {
        const QWidget *control = v.widget(c.control);
        ASSERT_NE(control, nullptr) << c.control;
        EXPECT_EQ(control->geometry(), c.geometry) << c.control;
        EXPECT_EQ(control->parentWidget(), c.container ? v.widget(c.container) : p) << c.control;
    }
    EXPECT_FALSE(v.image("picStopCam")->isVisibleTo(p));
    EXPECT_FALSE(v.image("img(1)")->isVisibleTo(p));
}

TEST_F(PanelStartup, FontsKeepTheirPixelSizeOnDenserScreens)
{
    struct Case
    {
        std::int32_t reported;
        double large;
        double small;
    };
    for (const Case &c : {Case {120, 6.6, 5.4}, Case {96, 8.25, 6.75}, Case {0, 8.25, 6.75},
                          Case {-5, 8.25, 6.75}}) {
        cveDerEve::setScreenDpiSource([&] { return c.reported; });
        zozEZUdeZid object;
        const PanelTestAccess v(object.form()->WebCam());
        EXPECT_NEAR(v.label("lblDisable")->font().pointSizeF(), c.large, 0.01) << c.reported;
        EXPECT_NEAR(v.label("lblParticipant")->font().pointSizeF(), c.large, 0.01) << c.reported;
        EXPECT_NEAR(v.label("lblStatus")->font().pointSizeF(), c.small, 0.01) << c.reported;
        EXPECT_NEAR(v.label("lblLocation")->font().pointSizeF(), c.small, 0.01) << c.reported;
        EXPECT_EQ(v.label("lblDisable")->font().family(), QStringLiteral("Arial"));
    }
}

TEST_F(PanelStartup, DeviceIndexComesFromTheSavedChoice)
{
    struct Case
    {
        const char *saved; // nullptr: not saved
        std::int32_t expected;
    };
    for (const Case &c : {Case {nullptr, -1}, Case {"2", 2}, Case {"-1", -1}, Case {"abc", 0},
                          Case {"", 0}, Case {"2.5", 2}, Case {"3.5", 4}, Case {"1e30", 0}}) {
        testenv::removeRegistry();
        if (c.saved)
            setSetting("WebCamDevice", QString::fromLatin1(c.saved));
        zozEZUdeZid object;
        EXPECT_EQ(PanelTestAccess(object.form()->WebCam()).deviceIndex(), c.expected)
            << (c.saved ? c.saved : "(none)");
    }
}

TEST_F(PanelStartup, ResourceFileReplacesThePicturesItHolds)
{
    struct Case
    {
        QString file;
        const char *control;
        std::string_view expected; // the sample picture, "" for none, "builtin" for the own one
    };
    const QString full = QStringLiteral(SAMPLE_SKIN_RCC);
    const QString noBrand = QStringLiteral(SAMPLE_SKIN_NOBRAND_RCC);
    const Case cases[] = {
        {full, "imgBrand", "imgBrand"},
        {full, "picMainUp", "picMainUp"},
        {full, "ImgCamOn(1)", "ImgCamOn1"},
        {full, "picMain", "picMainDown"},
        // A library without the brand mark leaves that control without a picture.
        {noBrand, "imgBrand", ""},
        {noBrand, "picStopCam", "picStopCam"},
        // A library that cannot be read keeps the built-in skin.
        {QStringLiteral("/nonexistent/skin.rcc"), "imgBrand", "builtin"},
    };
    for (const Case &c : cases) {
        testenv::removeRegistry();
        setSetting("ResourceFile", c.file);
        zozEZUdeZid object;
        const PanelTestAccess v(object.form()->WebCam());
        const QWidget *widget = v.widget(c.control);
        const QImage shown = qobject_cast<const vb::PictureBox *>(widget)
            ? qobject_cast<const vb::PictureBox *>(widget)->Picture()
            : qobject_cast<const vb::ImageControl *>(widget)->Picture();
        if (c.expected.empty())
            EXPECT_TRUE(shown.isNull()) << c.control;
        else if (c.expected == "builtin")
            EXPECT_EQ(pictureOf(shown), pictureOf(QImage(skin::builtInSkinPath("imgBrand"))));
        else
            EXPECT_EQ(pictureOf(shown), samplePicture(c.expected)) << c.control;
    }
}

TEST_F(PanelStartup, HideThenEndClosesEachHandleOnce)
{
    const std::size_t handlesBefore = platform::shm::openHandleCount();
    const std::size_t viewsBefore = platform::shm::openViewCount();
    {
        zozEZUdeZid object;
        cveDerEve *panel = object.form()->WebCam();
        const PanelTestAccess v(panel);
        // A queued participant picture whose block the parent has let go of.
        {
            const auto parents = modImageMemMapFunctions::ImageBlock::create(8001, 64);
            object.UpdateParticipant(8001, QStringLiteral("Ann"), QString());
        }
        ASSERT_EQ(v.queueLength(), 1u);

        panel->UserControl_Hide();
        EXPECT_EQ(v.queueLength(), 0u);
        EXPECT_EQ(modImageMemMapFunctions::hHeaderMutex, 0u);
        EXPECT_EQ(modImageMemMapFunctions::hHeaderMap, 0u);
        EXPECT_FALSE(v.initialized());
        EXPECT_EQ(platform::shm::openHandleCount(), handlesBefore);
        EXPECT_EQ(platform::shm::openViewCount(), viewsBefore);
    } // the end runs the hide steps again
    EXPECT_EQ(platform::shm::openHandleCount(), handlesBefore);
    EXPECT_EQ(platform::shm::openViewCount(), viewsBefore);
}

// Waits for the default picture read, which completes on the event loop.
bool waitFor(const std::function<bool()> &done, int ms = 5000)
{
    QElapsedTimer waited;
    waited.start();
    while (!done() && waited.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

TEST_F(PanelStartup, CompletedDefaultPictureReadChangesOnlyTheStore)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("me.png"));
    QImage picture(30, 20, QImage::Format_RGB32);
    picture.fill(QColor(10, 200, 30));
    ASSERT_TRUE(picture.save(path));

    zozEZUdeZid object;
    const PanelTestAccess v(object.form()->WebCam());
    const QImage shownBefore = v.box("picParticipant")->Picture();
    object.WebCamDefaultPic(path);
    EXPECT_TRUE(waitFor([&] { return v.image("picStopCam")->Picture().size() == QSize(30, 20); }));
    EXPECT_EQ(v.box("picParticipant")->Picture(), shownBefore);
    // The next reset of the participant area shows it.
    object.EraseWebCam();
    EXPECT_EQ(v.box("picParticipant")->Picture().size(), QSize(30, 20));

    // Paths that cannot be read never complete: a missing file, a folder, a FIFO without a
    // writer (which must not park a thread in open() either: see the server's exit test).
    const QString fifo = dir.filePath(QStringLiteral("pipe.png"));
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    for (const QString &unreadable :
         {dir.filePath(QStringLiteral("missing.png")), dir.path(), fifo})
        object.WebCamDefaultPic(unreadable);
    QCoreApplication::processEvents(QEventLoop::AllEvents, 200);
    EXPECT_EQ(v.image("picStopCam")->Picture().size(), QSize(30, 20));
}

} // namespace
