#include <gtest/gtest.h>

#include <QApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include "automation/frmWebCam.h"
#include "automation/zozEZUdeZid.h"

namespace {

// Where the X server has the window, asked of the server itself rather than of Qt.
QRect serverGeometry(std::int32_t window)
{
    QProcess xwininfo;
    xwininfo.start(QStringLiteral("xwininfo"), {QStringLiteral("-id"), QString::number(window)});
    if (!xwininfo.waitForFinished(5000))
        return {};
    const QString out = QString::fromLocal8Bit(xwininfo.readAllStandardOutput());
    auto field = [&](const char *name) {
        const QRegularExpression re(QLatin1String(name) + QStringLiteral(":\\s+(-?\\d+)"));
        return re.match(out).captured(1).toInt();
    };
    return {field("Absolute upper-left X"), field("Absolute upper-left Y"), field("Width"),
            field("Height")};
}

// Lets the window system catch up with a request.
QRect settledGeometry(std::int32_t window, const QRect &expected)
{
    QRect seen;
    for (int i = 0; i < 50; ++i) {
        QApplication::processEvents();
        seen = serverGeometry(window);
        if (seen == expected)
            break;
        QTest::qWait(20);
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
