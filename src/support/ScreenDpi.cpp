#include "support/ScreenDpi.h"

#include <QGuiApplication>
#include <QScreen>

#include <cmath>

namespace {

std::function<std::int32_t()> &screenDpiSource()
{
    static std::function<std::int32_t()> source;
    return source;
}

} // namespace

std::int32_t GetScreenDpi()
{
    std::int32_t dpi = 0;
    if (screenDpiSource()) {
        dpi = screenDpiSource()();
    } else if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        dpi = static_cast<std::int32_t>(std::lround(screen->logicalDotsPerInchX()));
    }
    return dpi > 0 ? dpi : 96;
}

void setScreenDpiSource(std::function<std::int32_t()> source)
{
    screenDpiSource() = std::move(source);
}

QFont ArialAtScreenDpi(double points)
{
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(points * 96.0 / GetScreenDpi());
    return font;
}
