// The panel as it starts and ends: layout, skin, fonts, the saved choices, the handles it holds.

#include <QTemporaryDir>

#include <sys/stat.h>

#include <algorithm>

#include "PanelDriver.h"
#include "exchange/modImageMemMapFunctions.h"
#include "platform/shm/HandleTable.h"
#include "skin/SkinPictures.h"
#include "support/ScreenDpi.h"

namespace {

QImage argb(const QImage &picture)
{
    return picture.convertToFormat(QImage::Format_ARGB32);
}

using paneltest::save;

class PanelStartup : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testenv::removeRegistry();
        setScreenDpiSource({});
    }
    void TearDown() override { setScreenDpiSource({}); }
};

TEST_F(PanelStartup, StartsCollapsedOnTheParticipantTabWithControlsWhereTheLayoutPutsThem)
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
    // A control of each kind at each depth of the nesting, and stores.
    const Case cases[] = {
        {"picMain", {0, 0, 202, 17}, nullptr},
        {"picTabMain", {1, 19, 200, 191}, "picMain"},
        {"picSettingsMain", {117, 169, 66, 18}, "picTabMain"},
        {"imgChk", {156, 3, 13, 13}, "picParticipant"},
        {"lblStatus", {104, 4, 78, 11}, "picMain"},
        {"picStopCam", {21, 237, 176, 144}, nullptr},
        {"img(1)", {453, 374, 13, 13}, nullptr},
    };
    for (const Case &c : cases) {
        const QWidget *control = v.widget(c.control);
        ASSERT_NE(control, nullptr) << c.control;
        EXPECT_EQ(control->geometry(), c.geometry) << c.control;
        EXPECT_EQ(control->parentWidget(), c.container ? v.widget(c.container) : p) << c.control;
    }
    EXPECT_EQ(argb(v.box("picTabMain")->Picture()), argb(v.image("picTabParticipant")->Picture()));
    // The stores lie outside the panel's area and are never seen.
    EXPECT_FALSE(v.image("picStopCam")->isVisibleTo(p));
    EXPECT_FALSE(v.image("img(1)")->isVisibleTo(p));
}

TEST_F(PanelStartup, FontsKeepTheirPixelSizeOnDenserScreensAndAScreenWithoutAUsableDensityIs96)
{
    for (const auto &[dpi, large, small] :
         {std::tuple {120, 6.6, 5.4}, {0, 8.25, 6.75}, {-5, 8.25, 6.75}}) {
        const int reported = dpi;
        setScreenDpiSource([reported] { return reported; });
        zozEZUdeZid object;
        const PanelTestAccess v(object.form()->WebCam());
        for (const char *label : {"lblDisable", "lblParticipant", "lblStatus", "lblLocation"}) {
            const QFont font = v.label(label)->font();
            const bool isLarge = label[3] == 'D' || label[3] == 'P';
            EXPECT_NEAR(font.pointSizeF(), isLarge ? large : small, 0.01) << label << " " << dpi;
            EXPECT_EQ(font.family(), "Arial");
        }
    }
}

TEST_F(PanelStartup, DeviceIndexComesFromTheSavedChoice)
{
    // Numbers round half to even; text that is no number, or too large a number, gives 0.
    const std::pair<const char *, std::int32_t> cases[]
        = {{nullptr, -1}, {"2", 2},   {"-1", -1}, {"abc", 0},
           {"", 0},       {"2.5", 2}, {"3.5", 4}, {"1e30", 0}};
    for (const auto &[saved, expected] : cases) {
        testenv::removeRegistry();
        if (saved)
            save("WebCamDevice", saved);
        zozEZUdeZid object;
        EXPECT_EQ(PanelTestAccess(object.form()->WebCam()).deviceIndex(), expected)
            << (saved ? saved : "(none)");
    }
}

TEST_F(PanelStartup, ResourceFileReplacesThePicturesItHolds)
{
    const QString full = QStringLiteral(SAMPLE_SKIN_RCC);
    const QString noBrand = QStringLiteral(SAMPLE_SKIN_NOBRAND_RCC);
    const auto sample = [](const char *name) {
        return argb(QImage(QStringLiteral(SAMPLE_SKIN_PNGS "/%1.png").arg(name)));
    };
    const QImage builtInBrand = argb(QImage(skin::builtInSkinPath("imgBrand")));
    const std::tuple<QString, const char *, QImage> cases[] = {
        {full, "imgBrand", sample("imgBrand")},
        {full, "ImgCamOn(1)", sample("ImgCamOn1")},
        {full, "picMain", sample("picMainDown")},
        // A library without the brand mark leaves that control without a picture.
        {noBrand, "imgBrand", QImage()},
        {noBrand, "picStopCam", sample("picStopCam")},
        // A library that cannot be read keeps the built-in skin.
        {QStringLiteral("/nonexistent/skin.rcc"), "imgBrand", builtInBrand},
    };
    for (const auto &[file, control, expected] : cases) {
        testenv::removeRegistry();
        save("ResourceFile", file);
        zozEZUdeZid object;
        const PanelTestAccess v(object.form()->WebCam());
        const auto *box = qobject_cast<const vb::PictureBox *>(v.widget(control));
        const QImage shown = box ? box->Picture() : v.image(control)->Picture();
        EXPECT_EQ(argb(shown), expected) << control << " from " << file.toStdString();
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
        ASSERT_TRUE(v.initialized());
        ASSERT_NE(modImageMemMapFunctions::pHeaderView, nullptr);
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

TEST_F(PanelStartup, CompletedDefaultPictureReadChangesOnlyTheStore)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("me.png");
    QImage picture(30, 20, QImage::Format_RGB32);
    picture.fill(QColor(10, 200, 30));
    ASSERT_TRUE(picture.save(path));

    zozEZUdeZid object;
    const PanelTestAccess v(object.form()->WebCam());
    const QImage shownBefore = v.box("picParticipant")->Picture();
    object.WebCamDefaultPic(path);
    // The read completes on the event loop.
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return v.image("picStopCam")->Picture().size() == QSize(30, 20); }));
    EXPECT_EQ(v.box("picParticipant")->Picture(), shownBefore);
    // The next reset of the participant area shows it.
    object.EraseWebCam();
    EXPECT_EQ(v.box("picParticipant")->Picture().size(), QSize(30, 20));

    // Paths that cannot be read never complete: a missing file, a folder, a FIFO without a
    // writer (which must not park a thread in open() either: see the server's exit test).
    const QString fifo = dir.filePath("pipe.png");
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    for (const QString &unreadable : {dir.filePath("missing.png"), dir.path(), fifo})
        object.WebCamDefaultPic(unreadable);
    QCoreApplication::processEvents(QEventLoop::AllEvents, 200);
    EXPECT_EQ(v.image("picStopCam")->Picture().size(), QSize(30, 20));
}

namespace {
// Peak resident memory since the last reset, in bytes.
long peakResidentBytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong() * 1024;
    return 0;
}
// Makes the peak the resident memory of now.
bool resetPeakResident()
{
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    return refs.open(QIODevice::WriteOnly) && refs.write("5") == 1;
}
} // namespace

// Twelve requests at once for a picture that decodes to 64 MB: one read runs, one waits, the
// newest wins, and the peak memory stays near one decoded picture in flight and one shown, not
// twelve.
TEST_F(PanelStartup, ConcurrentDefaultPictureReadsAreBoundedAndTheNewestWins)
{
    QTemporaryDir dir;
    const auto bigPicture = [&](int height) {
        QImage picture(4000, height, QImage::Format_RGB32);
        for (int y = 0; y < height; ++y)
            std::fill_n(reinterpret_cast<QRgb *>(picture.scanLine(y)), 4000, qRgb(y % 256, 90, 9));
        const QString path = dir.filePath(QStringLiteral("big%1.png").arg(height));
        return picture.save(path) ? path : QString();
    };
    const QString older = bigPicture(4000), newest = bigPicture(3999);
    ASSERT_FALSE(older.isEmpty() || newest.isEmpty());
    zozEZUdeZid object;
    const PanelTestAccess v(object.form()->WebCam());
    if (!resetPeakResident())
        GTEST_SKIP() << "the peak of resident memory cannot be reset here";
    const long before = peakResidentBytes();
    for (int i = 0; i < 11; ++i)
        object.WebCamDefaultPic(older);
    object.WebCamDefaultPic(newest);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return !v.readingDefaultPicture()
                && v.image("picStopCam")->Picture().size() == QSize(4000, 3999);
        },
        60000));
    const long grown = peakResidentBytes() - before;
    RecordProperty("peak_growth_mb", int(grown >> 20));
    EXPECT_LT(grown, 200L << 20) << (grown >> 20) << " MB";
}

} // namespace
