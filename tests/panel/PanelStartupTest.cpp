// The panel as it starts and ends: layout, skin, fonts, the saved choices, the handles it holds.

#include <QTemporaryDir>

#include <algorithm>

#include "PanelDriver.h"
#include "exchange/modImageMemMapFunctions.h"
#include "platform/shm/HandleTable.h"
#include "skin/SkinPictures.h"
#include "support/ScreenDpi.h"

namespace {

const auto argb
    = [](const QImage &picture) { return picture.convertToFormat(QImage::Format_ARGB32); };

class PanelStartup : public ::testing::Test
{
protected:
    void SetUp() override { testenv::removeRegistry(); }
    void TearDown() override { setScreenDpiSource({}); }
};

// The panel starts collapsed on the participant tab; a hide, then its end, close each handle once.
TEST_F(PanelStartup, StartsWithControlsWhereTheLayoutPutsThemAndHideThenEndCloseEachHandleOnce)
{
    const auto counts = [] {
        return std::pair(platform::shm::openHandleCount(), platform::shm::openViewCount());
    };
    const auto before = counts();
    auto object = std::make_unique<zozEZUdeZid>();
    cveDerEve *p = object->form()->WebCam();
    const PanelTestAccess v(p);
    // A control of each kind at each depth of the nesting, and stores; no container: the panel.
    const std::tuple<const char *, QRect, const char *> cases[] = {
        {"picMain", {0, 0, 202, 17}, nullptr},
        {"picTabMain", {1, 19, 200, 191}, "picMain"},
        {"picSettingsMain", {117, 169, 66, 18}, "picTabMain"},
        {"imgChk", {156, 3, 13, 13}, "picParticipant"},
        {"lblStatus", {104, 4, 78, 11}, "picMain"},
        {"picStopCam", {21, 237, 176, 144}, nullptr},
        {"img(1)", {453, 374, 13, 13}, nullptr},
    };
    for (const auto &[name, geometry, container] : cases) {
        const QWidget *control = v.widget(name);
        ASSERT_NE(control, nullptr) << name;
        EXPECT_EQ(control->geometry(), geometry) << name;
        EXPECT_EQ(control->parentWidget(), container ? v.widget(container) : p) << name;
    }
    EXPECT_EQ(argb(v.box("picTabMain")->Picture()), argb(v.image("picTabParticipant")->Picture()));
    // The stores lie outside the panel's area and are never seen.
    EXPECT_FALSE(v.image("picStopCam")->isVisibleTo(p) || v.image("img(1)")->isVisibleTo(p));

    ASSERT_TRUE(v.initialized());
    ASSERT_NE(modImageMemMapFunctions::pHeaderView, nullptr);
    { // a queued participant picture whose block the parent has let go of
        const auto parents = modImageMemMapFunctions::ImageBlock::create(8001, 64);
        object->UpdateParticipant(8001, QStringLiteral("Ann"), QString());
    }
    ASSERT_EQ(v.queueLength(), 1u);
    p->UserControl_Hide();
    EXPECT_EQ(v.queueLength(), 0u);
    EXPECT_EQ(std::tuple(modImageMemMapFunctions::hHeaderMutex, modImageMemMapFunctions::hHeaderMap,
                         v.initialized()),
              std::tuple(0u, 0u, false));
    EXPECT_EQ(counts(), before);
    object.reset(); // the end runs the hide steps again
    EXPECT_EQ(counts(), before);
}

TEST_F(PanelStartup, FontsKeepTheirPixelSizeOnDenserScreensAndAScreenWithoutAUsableDensityIs96)
{
    for (const auto &[dpi, large, small] :
         {std::tuple {120, 6.6, 5.4}, {0, 8.25, 6.75}, {-5, 8.25, 6.75}}) {
        setScreenDpiSource([reported = dpi] { return reported; });
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

TEST_F(PanelStartup, SavedChoicesSetTheDeviceIndexAndTheSkin)
{
    // Numbers round half to even; text that is no number, or too large a number, gives 0.
    const std::pair<const char *, std::int32_t> devices[]
        = {{nullptr, -1}, {"2", 2},   {"-1", -1}, {"abc", 0},
           {"", 0},       {"2.5", 2}, {"3.5", 4}, {"1e30", 0}};
    for (const auto &[saved, expected] : devices) {
        testenv::removeRegistry();
        if (saved)
            paneltest::save("WebCamDevice", saved);
        zozEZUdeZid object;
        EXPECT_EQ(PanelTestAccess(object.form()->WebCam()).deviceIndex(), expected)
            << (saved ? saved : "(none)");
    }

    // A library replaces the pictures it holds, the brand included; an unreadable one none.
    const QString full = QStringLiteral(SAMPLE_SKIN_RCC), noBrand = SAMPLE_SKIN_NOBRAND_RCC;
    const auto sample = [](const char *name) {
        return argb(QImage(QStringLiteral(SAMPLE_SKIN_PNGS "/%1.png").arg(name)));
    };
    const std::tuple<QString, const char *, QImage> skins[] = {
        {full, "imgBrand", sample("imgBrand")},
        {full, "ImgCamOn(1)", sample("ImgCamOn1")},
        {full, "picMain", sample("picMainDown")},
        {noBrand, "imgBrand", QImage()},
        {noBrand, "picStopCam", sample("picStopCam")},
        {"/nonexistent/skin.rcc", "imgBrand", argb(QImage(skin::builtInSkinPath("imgBrand")))},
    };
    for (const auto &[file, control, expected] : skins) {
        testenv::removeRegistry();
        paneltest::save("ResourceFile", file);
        zozEZUdeZid object;
        const PanelTestAccess v(object.form()->WebCam());
        const auto *box = qobject_cast<const vb::PictureBox *>(v.widget(control));
        const QImage shown = box ? box->Picture() : v.image(control)->Picture();
        EXPECT_EQ(argb(shown), expected) << control << " from " << file.toStdString();
    }
}

// Peak resident memory in bytes since the last reset; reset: start a new peak, or -1.
long peakResidentBytes(bool reset = false)
{
    QFile refs(QStringLiteral("/proc/self/clear_refs")),
        status(QStringLiteral("/proc/self/status"));
    if (reset && !(refs.open(QIODevice::WriteOnly) && refs.write("5") == 1))
        return -1;
    const QByteArray all = status.open(QIODevice::ReadOnly) ? status.readAll() : QByteArray();
    const qsizetype at = all.indexOf("VmHWM:");
    return at < 0 ? 0 : all.mid(at + 6).trimmed().split(' ').value(0).toLong() * 1024;
}

TEST_F(PanelStartup, DefaultPictureReadsChangeOnlyTheStoreAreBoundedAndTheNewestWins)
{
    QTemporaryDir dir;
    const auto picture = [&](int width, int height) {
        QImage image(width, height, QImage::Format_RGB32);
        for (int y = 0; y < height; ++y)
            std::fill_n(reinterpret_cast<QRgb *>(image.scanLine(y)), width, qRgb(y % 256, 90, 9));
        const QString path = dir.filePath(QStringLiteral("%1x%2.png").arg(width).arg(height));
        return image.save(path) ? path : QString();
    };
    zozEZUdeZid object;
    const PanelTestAccess v(object.form()->WebCam());
    const QImage shownBefore = v.box("picParticipant")->Picture();
    const auto stored = [&] { return v.image("picStopCam")->Picture().size(); };
    object.WebCamDefaultPic(picture(30, 20));
    EXPECT_TRUE(QTest::qWaitFor([&] { return stored() == QSize(30, 20); }));
    EXPECT_EQ(v.box("picParticipant")->Picture(), shownBefore);
    // The next reset of the participant area shows it.
    object.EraseWebCam();
    EXPECT_EQ(v.box("picParticipant")->Picture().size(), QSize(30, 20));

    // A path that cannot be read never completes.
    object.WebCamDefaultPic(dir.filePath("missing.png"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !v.readingDefaultPicture(); }));
    QCoreApplication::processEvents(); // what the read posted, if anything
    EXPECT_EQ(stored(), QSize(30, 20));

    // Twelve requests for 64 MB pictures: one read runs, the newest waits, the peak stays low.
    const QString older = picture(4000, 4000), newest = picture(4000, 3999);
    ASSERT_FALSE(older.isEmpty() || newest.isEmpty());
    const long before = peakResidentBytes(true);
    if (before < 0)
        GTEST_SKIP() << "the peak of resident memory cannot be reset here";
    for (int i = 0; i < 11; ++i)
        object.WebCamDefaultPic(older);
    object.WebCamDefaultPic(newest);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !v.readingDefaultPicture() && stored() == QSize(4000, 3999); }, 60000));
    const long grown = peakResidentBytes() - before;
    RecordProperty("peak_growth_mb", int(grown >> 20));
    EXPECT_LT(grown, 200L << 20) << (grown >> 20) << " MB";
}

} // namespace
