#include "platform/gdi/Gdi.h"
#include "dib/SurfaceTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

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

TEST(Gdi, BitBltClipsAtBothSurfacesAndCopiesOverlapsFromTheOriginal)
{
    const struct
    {
        const char *name;
        int x, y, w, h, sx, sy;
        bool oneSurface;
    } cases[] = {
        {"inside", 2, 3, 5, 4, 1, 1, false},
        {"source starts left and above", 4, 4, 6, 6, -3, -2, false},
        {"destination starts left and above", -4, -3, 8, 8, 2, 2, false},
        {"both clip on different sides", -2, 6, 12, 12, 5, -4, false},
        {"entirely outside", 20, 20, 3, 3, 0, 0, false},
        {"empty", 1, 1, 0, 5, 0, 0, false},
        {"overlap to the right", 3, 2, 8, 6, 2, 2, true},
        {"overlap up and left", 0, 0, 8, 6, 2, 3, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Registered src(noise(10, 9, 1));
        Registered dst(noise(11, 10, 2));
        Registered &from = c.oneSurface ? dst : src;
        const QImage expected
            = referenceBlit(dst.image, from.image, c.x, c.y, c.w, c.h, c.sx, c.sy);
        EXPECT_TRUE(BitBlt(dst.dc, c.x, c.y, c.w, c.h, from.dc, c.sx, c.sy, SRCCOPY));
        EXPECT_EQ(dst.image, expected);
        EXPECT_EQ(src.changes, 0);
    }
}

TEST(Gdi, BlitsFailOnStaleHandlesOtherRasterOperationsAndAbsurdExtents)
{
    Registered a(noise(4, 4, 4));
    Registered b(noise(4, 4, 5));
    const QImage before = b.image;
    // A handle is never handed out again, so a stale one finds nothing.
    const HDC stale = registerSurface(&a.surface);
    unregisterSurface(stale);
    Registered later(noise(1, 1, 6));
    EXPECT_NE(later.dc, stale);
    EXPECT_EQ(surfaceFor(stale), nullptr);
    EXPECT_EQ(registerSurface(nullptr), 0);
    constexpr std::uint32_t srcPaint = 0x00EE0086;
    EXPECT_FALSE(BitBlt(b.dc, 0, 0, 4, 4, a.dc, 0, 0, srcPaint));
    EXPECT_FALSE(StretchBlt(b.dc, 0, 0, 4, 4, a.dc, 0, 0, 2, 2, srcPaint));
    EXPECT_FALSE(BitBlt(b.dc, 0, 0, 4, 4, stale, 0, 0, SRCCOPY));
    EXPECT_FALSE(BitBlt(stale, 0, 0, 4, 4, a.dc, 0, 0, SRCCOPY));
    EXPECT_FALSE(StretchBlt(b.dc, 0, 0, 100000, 100000, a.dc, 0, 0, 4, 4, SRCCOPY));
    EXPECT_FALSE(BitBlt(b.dc, 0x7FFFFF00, 0, 0x7FFFFF00, 4, a.dc, 0, 0, SRCCOPY));
    EXPECT_EQ(SetStretchBltMode(stale, HALFTONE), 0);
    EXPECT_EQ(b.image, before);
    EXPECT_EQ(b.changes, 0);
}

TEST(Gdi, HalftoneSmoothsWhereColourOnColourRepeatsPixels)
{
    Registered src(QImage(2, 1, QImage::Format_RGB32));
    src.image.setPixel(0, 0, qRgb(0, 0, 0));
    src.image.setPixel(1, 0, qRgb(255, 255, 255));
    for (int mode : {COLORONCOLOR, HALFTONE}) {
        Registered dst(QImage(8, 1, QImage::Format_RGB32));
        EXPECT_EQ(SetStretchBltMode(dst.dc, mode), COLORONCOLOR);
        EXPECT_TRUE(StretchBlt(dst.dc, 0, 0, 8, 1, src.dc, 0, 0, 2, 1, SRCCOPY));
        std::vector<int> reds(8);
        for (int x = 0; x < 8; ++x)
            reds[std::size_t(x)] = qRed(dst.image.pixel(x, 0));
        // Halftone makes a ramp that never steps back.
        EXPECT_EQ(std::count_if(reds.begin(), reds.end(), [](int r) { return r % 255; }) >= 2,
                  mode == HALFTONE);
        EXPECT_TRUE(std::is_sorted(reds.begin(), reds.end()));
    }
}

TEST(Gdi, StretchBltHalvesMirrorsAndClipsAtTheDestination)
{
    // Blocks of 2 x 2 equal pixels halve to one pixel each, whichever pixel is sampled.
    const QImage small = noise(4, 3, 8);
    Registered blocks(small.scaled(8, 6));
    Registered halved(QImage(4, 3, QImage::Format_RGB32));
    EXPECT_TRUE(StretchBlt(halved.dc, 0, 0, 4, 3, blocks.dc, 0, 0, 8, 6, SRCCOPY));
    EXPECT_EQ(halved.image, small);

    Registered src(noise(8, 6, 11));
    Registered mirrored(QImage(8, 6, QImage::Format_RGB32));
    EXPECT_TRUE(StretchBlt(mirrored.dc, 8, 0, -8, 6, src.dc, 0, 0, 8, 6, SRCCOPY));
    EXPECT_EQ(mirrored.image, src.image.mirrored(true, false));

    // Only the top-left 2 x 2 of the doubled picture lands; the rest of dst is untouched.
    Registered dst(noise(5, 5, 10));
    QImage expected = dst.image;
    for (int y = 3; y < 5; ++y)
        for (int x = 3; x < 5; ++x)
            expected.setPixel(x, y, src.image.pixel(0, 0));
    EXPECT_TRUE(StretchBlt(dst.dc, 3, 3, 8, 8, src.dc, 0, 0, 4, 4, SRCCOPY));
    EXPECT_EQ(dst.image, expected);
}
