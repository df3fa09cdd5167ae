#include <gtest/gtest.h>

#include <QApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include "automation/frmWebCam.h"
#include "automation/zozEZUdeZid.h"

namespace {

// Where the X server itself has the window, once it has caught up (or after a second).
QRect settledGeometry(std::int32_t window, const QRect &expected)
{
    QRect seen;
    for (int i = 0; i < 50 && seen != expected; ++i) {
        QTest::qWait(i == 0 ? 0 : 20);
        QProcess xwininfo;
        xwininfo.start(QStringLiteral("xwininfo"),
                       {QStringLiteral("-id"), QString::number(window)});
        xwininfo.waitForFinished(5000);
        const QString out = QString::fromLocal8Bit(xwininfo.readAllStandardOutput());
        const auto field = [&](const char *name) {
            return QRegularExpression(QLatin1String(name) + QStringLiteral(":\\s+(-?\\d+)"))
                .match(out)
                .captured(1)
                .toInt();
        };
        seen = {field("Absolute upper-left X"), field("Absolute upper-left Y"), field("Width"),
                field("Height")};
    }
    return seen;
}

TEST(WindowPlacement, SetPositionTakesTopThenLeftAndMinimiseKeepsTheBottomEdge)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server";
    zozEZUdeZid object;
    object.Show();
    object.SetPosition(400, 10);
    const std::int32_t window = object.hWndCam();
    ASSERT_NE(window, 0);
    const QRect up(10, 400, 202, 215), down(10, 598, 202, 17);
    EXPECT_EQ(settledGeometry(window, up), up);
    object.Minimize();
    EXPECT_EQ(settledGeometry(window, down), down);
    EXPECT_TRUE(object.Visible());
    object.Maximize();
    EXPECT_EQ(settledGeometry(window, up), up);
}

} // namespace
