#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <memory>

#include "automation/frmWebCam.h"
#include "automation/zozEZUdeZid.h"
#include "exchange/modImageMemMapFunctions.h"
#include "panel/cveDerEve.h"
#include "platform/shm/HandleTable.h"
#include "skin/SkinPictures.h"
#include "support/CRegSettings.h"

namespace {

const QString kDefaults = QStringLiteral("Defaults");

class PanelStartup : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QFile::remove(QString::fromLocal8Bit(qgetenv("VEDEREVE_REGISTRY")));
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
    EXPECT_TRUE(panel->m_Initialized);
    EXPECT_FALSE(panel->m_Maximized);
    EXPECT_EQ(panel->DeviceIndex, -1);
    EXPECT_EQ(panel->WindowPos, 8);
    EXPECT_TRUE(panel->mnuParticipant.Checked);
    EXPECT_FALSE(panel->mnuWBCenter.Checked);
    EXPECT_TRUE(panel->mnuRateFast.Checked);
    EXPECT_EQ(panel->picMain->height(), 17);
    EXPECT_EQ(pictureOf(panel->picMain->Picture()), pictureOf(panel->picMainDown->Picture()));
    EXPECT_EQ(pictureOf(panel->picTabMain->Picture()),
              pictureOf(panel->picTabParticipant->Picture()));
    EXPECT_EQ(pictureOf(panel->imgBrand->Picture()),
              pictureOf(QImage(skin::builtInSkinPath("imgBrand"))));
    for (CcrpTimer *timer : {panel->tmrQueue.get(), panel->tmrMain.get(), panel->tmrStart.get(),
                             panel->TransmitNow.get()}) {
        EXPECT_FALSE(timer->Enabled());
        EXPECT_EQ(timer->EventType(), 1);
    }
    EXPECT_EQ(panel->tmrMain->Interval(), 120);
    EXPECT_EQ(panel->tmrQueue->Interval(), 40);
    EXPECT_NE(modImageMemMapFunctions::pHeaderView, nullptr);
}

TEST_F(PanelStartup, ControlsSitWhereTheLayoutPutsThem)
{
    zozEZUdeZid object;
    cveDerEve *p = object.form()->WebCam();
    struct Case
    {
        QWidget *control;
        QRect geometry;
        QWidget *container;
    };
    const Case cases[] = {
        {p->picTabMain, {1, 19, 200, 191}, p->picMain},
        {p->picSettingsMain, {117, 169, 66, 18}, p->picTabMain},
        {p->picParticipant, {13, 22, 174, 144}, p->picTabMain},
        {p->imgChk, {156, 3, 13, 13}, p->picParticipant},
        {p->lblDisable, {15, 2, 138, 14}, p->picParticipant},
        {p->lblParticipant, {86, 3, 94, 13}, p->picTabMain},
        {p->lblLocation, {13, 167, 174, 22}, p->picTabMain},
        {p->imgCamOffMain, {37, 169, 19, 18}, p->picTabMain},
        {p->lblStatus, {104, 4, 78, 11}, p->picMain},
        {p->imgMinMax, {185, 3, 12, 12}, p->picMain},
        {p->picStopCam, {21, 237, 176, 144}, p},
        {p->imgUpArrow, {28, 410, 12, 12}, p},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(c.control->geometry(), c.geometry) << c.control->objectName().toStdString();
        EXPECT_EQ(c.control->parentWidget(), c.container) << c.control->objectName().toStdString();
    }
    EXPECT_FALSE(p->picStopCam->isVisibleTo(p));
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
        cveDerEve *panel = object.form()->WebCam();
        EXPECT_NEAR(panel->lblDisable->font().pointSizeF(), c.large, 0.01) << c.reported;
        EXPECT_NEAR(panel->lblParticipant->font().pointSizeF(), c.large, 0.01) << c.reported;
        EXPECT_NEAR(panel->lblStatus->font().pointSizeF(), c.small, 0.01) << c.reported;
        EXPECT_NEAR(panel->lblLocation->font().pointSizeF(), c.small, 0.01) << c.reported;
        EXPECT_EQ(panel->lblDisable->font().family(), QStringLiteral("Arial"));
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
        QFile::remove(QString::fromLocal8Bit(qgetenv("VEDEREVE_REGISTRY")));
        if (c.saved)
            setSetting("WebCamDevice", QString::fromLatin1(c.saved));
        zozEZUdeZid object;
        EXPECT_EQ(object.form()->WebCam()->DeviceIndex, c.expected)
            << (c.saved ? c.saved : "(none)");
    }
}

TEST_F(PanelStartup, ResourceFileReplacesEveryPicture)
{
    setSetting("ResourceFile", QStringLiteral(SAMPLE_SKIN_RCC));
    zozEZUdeZid object;
    cveDerEve *p = object.form()->WebCam();
    EXPECT_EQ(pictureOf(p->imgBrand->Picture()), samplePicture("imgBrand"));
    EXPECT_EQ(pictureOf(p->picMainUp->Picture()), samplePicture("picMainUp"));
    EXPECT_EQ(pictureOf(p->ImgCamOn[1]->Picture()), samplePicture("ImgCamOn1"));
    EXPECT_EQ(pictureOf(p->picMain->Picture()), samplePicture("picMainDown"));
}

TEST_F(PanelStartup, MissingResourceLeavesItsControlWithoutPicture)
{
    setSetting("ResourceFile", QStringLiteral(SAMPLE_SKIN_NOBRAND_RCC));
    zozEZUdeZid object;
    cveDerEve *p = object.form()->WebCam();
    EXPECT_TRUE(p->imgBrand->Picture().isNull());
    EXPECT_EQ(pictureOf(p->imgChk->Picture()), samplePicture("imgChk"));
    EXPECT_EQ(pictureOf(p->picStopCam->Picture()), samplePicture("picStopCam"));
}

TEST_F(PanelStartup, UnreadableResourceFileKeepsTheBuiltInSkin)
{
    setSetting("ResourceFile", QStringLiteral("/nonexistent/skin.rcc"));
    zozEZUdeZid object;
    EXPECT_EQ(pictureOf(object.form()->WebCam()->imgBrand->Picture()),
              pictureOf(QImage(skin::builtInSkinPath("imgBrand"))));
}

TEST_F(PanelStartup, HideThenEndClosesEachHandleOnce)
{
    const std::size_t handlesBefore = platform::shm::openHandleCount();
    const std::size_t viewsBefore = platform::shm::openViewCount();
    {
        zozEZUdeZid object;
        cveDerEve *panel = object.form()->WebCam();
        // A held still picture and a queued participant picture.
        const std::int32_t n = modImageMemMapFunctions::NextImageNumber();
        panel->m_hMapOut
            = static_cast<std::int32_t>(modImageMemMapFunctions::CreateImageBlock(n, 64));
        panel->m_MapViewOut = modImageMemMapFunctions::MapImageBlock(panel->m_hMapOut);
        panel->m_ImgNumberOut = n;
        const std::uint32_t parents = modImageMemMapFunctions::CreateImageBlock(n + 1000, 64);
        object.UpdateParticipant(n + 1000, QStringLiteral("Ann"), QString());
        ASSERT_EQ(panel->ParticipantQueue.size(), 1u);

        panel->UserControl_Hide();
        EXPECT_EQ(panel->m_hMapOut, 0);
        EXPECT_EQ(panel->m_MapViewOut, nullptr);
        EXPECT_TRUE(panel->ParticipantQueue.empty());
        EXPECT_EQ(modImageMemMapFunctions::hHeaderMutex, 0u);
        EXPECT_EQ(modImageMemMapFunctions::hHeaderMap, 0u);
        EXPECT_FALSE(panel->m_Initialized);
        modImageMemMapFunctions::CloseHandle(parents);
        EXPECT_EQ(platform::shm::openHandleCount(), handlesBefore);
        EXPECT_EQ(platform::shm::openViewCount(), viewsBefore);
    } // the end runs the hide steps again
    EXPECT_EQ(platform::shm::openHandleCount(), handlesBefore);
    EXPECT_EQ(platform::shm::openViewCount(), viewsBefore);
}

TEST_F(PanelStartup, CompletedDefaultPictureReadChangesOnlyTheStore)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("me.png"));
    QImage picture(30, 20, QImage::Format_RGB32);
    picture.fill(QColor(10, 200, 30));
    ASSERT_TRUE(picture.save(path));

    zozEZUdeZid object;
    cveDerEve *panel = object.form()->WebCam();
    const QImage shownBefore = panel->picParticipant->Picture();
    object.WebCamDefaultPic(path);
    QElapsedTimer waited;
    waited.start();
    while (panel->picStopCam->Picture().size() != QSize(30, 20) && waited.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(panel->picStopCam->Picture().size(), QSize(30, 20));
    EXPECT_EQ(panel->picParticipant->Picture(), shownBefore);
    // The next reset of the participant area shows it.
    object.EraseWebCam();
    EXPECT_EQ(panel->picParticipant->Picture().size(), QSize(30, 20));

    // A path that cannot be read never completes.
    object.WebCamDefaultPic(dir.filePath(QStringLiteral("missing.png")));
    QCoreApplication::processEvents(QEventLoop::AllEvents, 200);
    EXPECT_EQ(panel->picStopCam->Picture().size(), QSize(30, 20));
}

} // namespace
