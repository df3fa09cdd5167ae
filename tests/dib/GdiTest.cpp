#include "platform/gdi/Gdi.h"
#include "dib/SurfaceTestSupport.h"

#include <gtest/gtest.h>

using namespace platform::gdi;
using surfacetest::noise;
using surfacetest::Registered;

namespace {

// What a copy of w x h pixels must do, pixel by pixel: only pixels inside both surfaces move.
QImage referenceBlit(QImage dst, const QImage &src, int x, int y, int w, int h, int sx, int sy)
{
    for (int j = 0; j < h; ++j) {
        for (int i = 0; i < w; ++i) {
            const QPoint from(sx + i, sy + j);
            const QPoint to(x + i, y + j);
            if (src.rect().contains(from) && dst.rect().contains(to))
                dst.setPixel(to, src.pixel(from));
        }
    }
    return dst;
}

} // namespace

TEST(Gdi, HandlesAreNeverReusedAndStaleHandlesFindNothing)
{
    QImage image(4, 4, QImage::Format_RGB32);
    ImageSurface surface(&image);
    const HDC first = registerSurface(&surface);
    ASSERT_NE(first, 0);
    unregisterSurface(first);
    const HDC second = registerSurface(&surface);
    EXPECT_NE(second, first);
    EXPECT_EQ(surfaceFor(first), nullptr);
    EXPECT_EQ(surfaceFor(second), &surface);
    unregisterSurface(second);
    EXPECT_EQ(surfaceFor(0), nullptr);
    EXPECT_EQ(registerSurface(nullptr), 0);
}

TEST(Gdi, BitBltClipsAtBothSurfaces)
{
    struct Case
    {
        const char *name;
        int x, y, w, h, sx, sy;
    };
    const Case cases[] = {
        {"inside", 2, 3, 5, 4, 1, 1},
        {"source runs off right and bottom", 0, 0, 10, 10, 7, 6},
        {"source starts left and above", 4, 4, 6, 6, -3, -2},
        {"destination runs off right and bottom", 8, 7, 6, 6, 0, 0},
        {"destination starts left and above", -4, -3, 8, 8, 2, 2},
        {"both clip on different sides", -2, 6, 12, 12, 5, -4},
        {"entirely outside", 20, 20, 3, 3, 0, 0},
        {"empty", 1, 1, 0, 5, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Registered src(noise(10, 9, 1));
        Registered dst(noise(11, 10, 2));
        const QImage expected = referenceBlit(dst.image, src.image, c.x, c.y, c.w, c.h, c.sx, c.sy);
        EXPECT_TRUE(BitBlt(dst.dc, c.x, c.y, c.w, c.h, src.dc, c.sx, c.sy, SRCCOPY));
        EXPECT_EQ(dst.image, expected);
        EXPECT_EQ(src.changes, 0);
    }
}

TEST(Gdi, OverlappingCopyWithinOneSurfaceUsesTheOriginalPixels)
{
    const QPoint shifts[] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}, {3, 2}, {-2, -3}};
    for (const QPoint &shift : shifts) {
        SCOPED_TRACE(testing::Message() << shift.x() << "," << shift.y());
        Registered one(noise(12, 10, 3));
        const QImage expected
            = referenceBlit(one.image, one.image, 2 + shift.x(), 2 + shift.y(), 8, 6, 2, 2);
        EXPECT_TRUE(BitBlt(one.dc, 2 + shift.x(), 2 + shift.y(), 8, 6, one.dc, 2, 2, SRCCOPY));
        EXPECT_EQ(one.image, expected);
    }
}

TEST(Gdi, BlitsFailOnUnknownHandlesAndOtherRasterOperations)
{
    Registered a(noise(4, 4, 4));
    Registered b(noise(4, 4, 5));
    const QImage before = b.image;
    constexpr std::uint32_t srcPaint = 0x00EE0086;
    EXPECT_FALSE(BitBlt(b.dc, 0, 0, 4, 4, a.dc, 0, 0, srcPaint));
    EXPECT_FALSE(StretchBlt(b.dc, 0, 0, 4, 4, a.dc, 0, 0, 2, 2, srcPaint));
    EXPECT_FALSE(BitBlt(b.dc, 0, 0, 4, 4, 0x7FFFFFF0, 0, 0, SRCCOPY));
    EXPECT_FALSE(BitBlt(0x7FFFFFF0, 0, 0, 4, 4, a.dc, 0, 0, SRCCOPY));
    // Extents no picture has are refused instead of scaled or overflowed.
    EXPECT_FALSE(StretchBlt(b.dc, 0, 0, 100000, 100000, a.dc, 0, 0, 4, 4, SRCCOPY));
    EXPECT_FALSE(BitBlt(b.dc, 0x7FFFFF00, 0, 0x7FFFFF00, 4, a.dc, 0, 0, SRCCOPY));
    EXPECT_EQ(b.image, before);
    EXPECT_EQ(b.changes, 0);
}

TEST(Gdi, StretchModes)
{
    QImage pattern(2, 1, QImage::Format_RGB32);
    pattern.setPixel(0, 0, qRgb(0, 0, 0));
    pattern.setPixel(1, 0, qRgb(255, 255, 255));
    Registered src(pattern);

    Registered nearest(QImage(8, 2, QImage::Format_RGB32));
    EXPECT_EQ(SetStretchBltMode(nearest.dc, COLORONCOLOR), COLORONCOLOR);
    EXPECT_TRUE(StretchBlt(nearest.dc, 0, 0, 8, 2, src.dc, 0, 0, 2, 1, SRCCOPY));
    for (int x = 0; x < 8; ++x)
        EXPECT_EQ(qRed(nearest.image.pixel(x, 1)), x < 4 ? 0 : 255) << x;

    Registered smooth(QImage(8, 2, QImage::Format_RGB32));
    EXPECT_EQ(SetStretchBltMode(smooth.dc, HALFTONE), COLORONCOLOR);
    EXPECT_EQ(SetStretchBltMode(smooth.dc, HALFTONE), HALFTONE);
    EXPECT_TRUE(StretchBlt(smooth.dc, 0, 0, 8, 2, src.dc, 0, 0, 2, 1, SRCCOPY));
    int between = 0;
    for (int x = 0; x < 8; ++x) {
        const int red = qRed(smooth.image.pixel(x, 0));
        between += red > 0 && red < 255;
        if (x > 0) { // a smooth ramp never steps back
            EXPECT_GE(red, qRed(smooth.image.pixel(x - 1, 0)));
        }
    }
    EXPECT_GE(between, 2);
    EXPECT_EQ(SetStretchBltMode(0x7FFFFFF0, HALFTONE), 0);
}

TEST(Gdi, StretchBltDownScalesAndMirrorsOnNegativeExtents)
{
    // Blocks of 2 x 2 equal pixels halve to one pixel each, whichever pixel is sampled.
    const QImage small = noise(4, 3, 8);
    Registered blocks(QImage(8, 6, QImage::Format_RGB32));
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 8; ++x)
            blocks.image.setPixel(x, y, small.pixel(x / 2, y / 2));
    Registered halved(QImage(4, 3, QImage::Format_RGB32));
    EXPECT_TRUE(StretchBlt(halved.dc, 0, 0, 4, 3, blocks.dc, 0, 0, 8, 6, SRCCOPY));
    EXPECT_EQ(halved.image, small);

    Registered src(noise(8, 6, 11));

    Registered mirrored(QImage(8, 6, QImage::Format_RGB32));
    EXPECT_TRUE(StretchBlt(mirrored.dc, 8, 0, -8, 6, src.dc, 0, 0, 8, 6, SRCCOPY));
    EXPECT_EQ(mirrored.image, src.image.mirrored(true, false));
}

TEST(Gdi, StretchBltClipsAtTheDestination)
{
    Registered src(noise(4, 4, 9));
    Registered dst(noise(5, 5, 10));
    const QImage before = dst.image;
    EXPECT_TRUE(StretchBlt(dst.dc, 3, 3, 8, 8, src.dc, 0, 0, 4, 4, SRCCOPY));
    // Only the top-left 2 x 2 of the doubled picture lands, the rest of dst is untouched.
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 5; ++x) {
            const QRgb expected = (x >= 3 && y >= 3) ? src.image.pixel(0, 0) : before.pixel(x, y);
            EXPECT_EQ(dst.image.pixel(x, y), expected) << x << "," << y;
        }
    }
}
