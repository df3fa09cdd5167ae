#include "CaptureTestSupport.h"

#include "platform/capture/dialogs/DriverDialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QListWidget>
#include <QSlider>
#include <QTimer>

#include <linux/videodev2.h>

#include <functional>

namespace capturetest {
namespace {

class DriverDialogsTest : public CaptureTest
{
protected:
    DriverDialogsTest() : camera(addCamera("Cam", 0)), hwnd(connected()) { installDriverDialogs(); }

    // Sends message to the window; user plays the person in front of the modal dialog.
    std::intptr_t showDialog(std::uint32_t message, std::function<void(QDialog &)> user)
    {
        bool seen = false;
        QTimer::singleShot(0, [&] {
            if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget())) {
                seen = true;
                user(*dialog);
            }
        });
        const std::intptr_t result = SendMessageA(hwnd, message, 0, 0);
        EXPECT_TRUE(seen);
        return result;
    }

    template<class T> static T *child(QDialog &dialog, const char *name)
    {
        T *widget = dialog.findChild<T *>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }

    fake::FakeDevice &camera;
    HWND hwnd;
};

TEST_F(DriverDialogsTest, SourceDialogAppliesEachKindOfControlAndCancelPutsThemBack)
{
    const std::intptr_t result = showDialog(WM_CAP_DLG_VIDEOSOURCE, [](QDialog &dialog) {
        child<QSlider>(dialog, "Brightness")->setValue(20);
        child<QCheckBox>(dialog, "White Balance, Automatic")->setChecked(false);
        child<QComboBox>(dialog, "Power Line Frequency")->setCurrentIndex(2);
        auto *exposure = child<QComboBox>(dialog, "Auto Exposure");
        EXPECT_EQ(exposure->currentText(), "Aperture Priority Mode");
        exposure->setCurrentIndex(0);
        dialog.accept();
    });
    EXPECT_EQ(result, 1);
    auto &values = camera.controlValues; // exposure: the entry's value, not its row
    EXPECT_EQ(std::vector({values[V4L2_CID_BRIGHTNESS], values[V4L2_CID_AUTO_WHITE_BALANCE],
                           values[V4L2_CID_POWER_LINE_FREQUENCY], values[V4L2_CID_EXPOSURE_AUTO]}),
              std::vector({20, 0, 2, 1}));

    camera.controlValues[V4L2_CID_CONTRAST] = 40;
    showDialog(WM_CAP_DLG_VIDEOSOURCE, [this](QDialog &dialog) {
        auto *contrast = child<QSlider>(dialog, "Contrast");
        EXPECT_EQ(contrast->value(), 40);
        contrast->setValue(10);
        EXPECT_EQ(camera.controlValues[V4L2_CID_CONTRAST], 10) << "applied at once";
        dialog.reject();
    });
    EXPECT_EQ(std::pair(values[V4L2_CID_CONTRAST], values[V4L2_CID_BRIGHTNESS]), std::pair(40, 20));
}

TEST_F(DriverDialogsTest, FormatDialogChangesTheDevicesFormat)
{
    showDialog(WM_CAP_DLG_VIDEOFORMAT, [](QDialog &dialog) {
        auto *list = child<QListWidget>(dialog, "formats");
        EXPECT_EQ(list->currentItem()->text(), "YUY2, 640 x 480");
        const auto items = list->findItems("MJPG, 1280 x 720", Qt::MatchExactly);
        ASSERT_EQ(items.size(), 1);
        list->setCurrentItem(items.front());
        dialog.accept();
    });
    EXPECT_EQ(std::pair(camera.pixelFormat, camera.width), std::pair(V4L2_PIX_FMT_MJPEG, 1280u));

    showDialog(WM_CAP_DLG_VIDEOFORMAT, [](QDialog &dialog) {
        child<QListWidget>(dialog, "formats")->setCurrentRow(0);
        dialog.reject();
    });
    EXPECT_EQ(camera.width, 1280u) << "a cancelled choice changes nothing";
}

} // namespace
} // namespace capturetest
