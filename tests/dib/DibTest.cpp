#include "dib/SurfaceTestSupport.h"
#include "platform/gdi/Gdi.h"
#include "support/cDibSection.h"

#include <gtest/gtest.h>

#include <QPainter>

#include <algorithm>
#include <cstring>
#include <vector>

using namespace platform::gdi;
using namespace surfacetest;

namespace {

using Bytes = std::vector<std::uint8_t>;

// What a copy of w x h pixels must do, pixel by pixel: only pixels inside both surfaces move.
QImage referenceBlit(QImage dst, const QImage &src, int x, int y, int w, int h, int sx, int sy)
{
    for (int j = 0; j < h; ++j)
        for (int i = 0; i < w; ++i)
            if (src.rect().contains(sx + i, sy + j) && dst.rect().contains(x + i, y + j))
                dst.setPixel(x + i, y + j, src.pixel(sx + i, sy + j));
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
        Registered src(noise(10, 9, 1)), dst(noise(11, 10, 2));
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
    Registered a(noise(4, 4, 4)), b(noise(4, 4, 5));
    const QImage before = b.image;
    // A handle is never handed out again, so a stale one finds nothing.
    const HDC stale = registerSurface(&a.surface);
    unregisterSurface(stale);
    Registered later(noise(1, 1, 6));
    EXPECT_TRUE(later.dc != stale && !surfaceFor(stale) && registerSurface(nullptr) == 0);
    constexpr std::uint32_t srcPaint = 0x00EE0086;
    // Each refused: another raster operation, a stale handle on either side, absurd extents.
    EXPECT_EQ(std::vector({BitBlt(b.dc, 0, 0, 4, 4, a.dc, 0, 0, srcPaint),
                           StretchBlt(b.dc, 0, 0, 4, 4, a.dc, 0, 0, 2, 2, srcPaint),
                           BitBlt(b.dc, 0, 0, 4, 4, stale, 0, 0, SRCCOPY),
                           BitBlt(stale, 0, 0, 4, 4, a.dc, 0, 0, SRCCOPY),
                           StretchBlt(b.dc, 0, 0, 100000, 100000, a.dc, 0, 0, 4, 4, SRCCOPY),
                           BitBlt(b.dc, 0x7FFFFF00, 0, 0x7FFFFF00, 4, a.dc, 0, 0, SRCCOPY),
                           SetStretchBltMode(stale, HALFTONE) != 0}),
              std::vector(7, false));
    EXPECT_TRUE(b.image == before && b.changes == 0);
}

TEST(Gdi, StretchBltHalvesMirrorsClipsAtTheDestinationAndHalftoneSmoothsRepeats)
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
    QPainter(&expected).fillRect(3, 3, 2, 2, QColor(src.image.pixel(0, 0)));
    EXPECT_TRUE(StretchBlt(dst.dc, 3, 3, 8, 8, src.dc, 0, 0, 4, 4, SRCCOPY));
    EXPECT_EQ(dst.image, expected);

    Registered edge(QImage(2, 1, QImage::Format_RGB32));
    edge.image.setPixel(0, 0, qRgb(0, 0, 0));
    edge.image.setPixel(1, 0, qRgb(255, 255, 255));
    for (int mode : {COLORONCOLOR, HALFTONE}) {
        Registered ramp(QImage(8, 1, QImage::Format_RGB32));
        EXPECT_EQ(SetStretchBltMode(ramp.dc, mode), COLORONCOLOR);
        EXPECT_TRUE(StretchBlt(ramp.dc, 0, 0, 8, 1, edge.dc, 0, 0, 2, 1, SRCCOPY));
        std::vector<int> reds(8);
        for (int x = 0; x < 8; ++x)
            reds[std::size_t(x)] = qRed(ramp.image.pixel(x, 0));
        // Halftone makes a ramp that never steps back.
        EXPECT_EQ(std::count_if(reds.begin(), reds.end(), [](int r) { return r % 255; }) >= 2,
                  mode == HALFTONE);
        EXPECT_TRUE(std::is_sorted(reds.begin(), reds.end()));
    }
}

// Rows padded to 4 bytes, black; absurd requests and ClearUp leave no bits, no device context.
TEST(DibSection, SizesFollowTheRowRulesAndAbsurdRequestsOrClearUpLeaveTheObjectEmpty)
{
    // At 4 bits the property counts whole bytes; the last refusals overflow the row and total.
    const struct
    {
        int width, height, bits; // 0 x 0 x 0: ClearUp, twice, instead of a Create
        int bytesPerScanLine, totalBytes; // no bytes: refused
    } cases[] = {
        {175, 143, 24, 528, 75504}, {5, 3, 4, 0, 12},          {5, 2, 32, 20, 40},
        {0, 10, 24, 0, 0},          {10, -1, 24, 0, 0},        {10, 10, 12, 0, 0},
        {5000, 5000, 32, 0, 0},     {0x7FFFFFFF, 1, 32, 0, 0}, {0x10000, 0x10000, 24, 0, 0},
        {0, 0, 0, 0, 4 * 20},
    };
    cDibSection never;
    never.ClearUp(); // on an empty object: nothing to do
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << "x" << c.bits);
        cDibSection dib;
        ASSERT_TRUE(dib.Create(6, 4, 24));
        const HDC previous = dib.HDC();
        const std::uint32_t bitmap = dib.hDib();
        if (c.bits == 0) {
            dib.ClearUp();
            dib.ClearUp();
        } else if (c.totalBytes != 0) {
            ASSERT_TRUE(dib.Create(c.width, c.height, c.bits));
            EXPECT_EQ(dib.BytesPerScanLine(), c.bytesPerScanLine);
            const std::uint8_t *bits = dib.DIBSectionBitsPtr();
            EXPECT_EQ(Bytes(bits, bits + dib.TotalBytes()), Bytes(std::size_t(c.totalBytes), 0));
            continue;
        } else {
            EXPECT_FALSE(dib.Create(c.width, c.height, c.bits));
        }
        EXPECT_TRUE(dib.HDC() == 0 && dib.DIBSectionBitsPtr() == nullptr);
        EXPECT_EQ(dib.TotalBytes(), c.totalBytes);
        EXPECT_EQ(platform::gdi::surfaceFor(previous), nullptr);
        Registered target(noise(6, 4, 1));
        dib.PaintPicture(target.dc, 0, 0, -1, -1, 0, 0, SRCCOPY);
        EXPECT_EQ(target.changes, 0);
        ASSERT_TRUE(dib.Create(6, 4, 24));
        EXPECT_TRUE(dib.HDC() != previous && dib.hDib() != bitmap);
    }
}

TEST(DibSection, IndexedBitmapsUseTheCompiledInPalettes)
{
    // Entries are stored blue, green, red, flags: entry 1 of the 256 (128, 0, 0) is dark blue.
    cDibSection eight;
    ASSERT_TRUE(eight.Create(5, 3, 8));
    ASSERT_EQ(eight.paletteBytes().size(), 1024u);
    EXPECT_EQ(Bytes(eight.paletteBytes().begin() + 4, eight.paletteBytes().begin() + 8),
              Bytes({128, 0, 0, 0}));
    eight.DIBSectionBitsPtr()[0] = 1;
    EXPECT_EQ(eight.DibPicture().pixel(0, 2), qRgb(0, 0, 128));
    EXPECT_EQ(eight.DibPicture().pixel(1, 2), qRgb(0, 0, 0));

    // Drawing into an indexed bitmap stores the index of the nearest entry.
    Registered source(QImage(5, 3, QImage::Format_RGB32));
    source.image.fill(qRgb(250, 252, 254));
    source.image.setPixel(4, 0, qRgb(240, 202, 166)); // only entry 9 (stored 166, 202, 240)
    eight.LoadPictureBlt(source.dc, 0, 0, -1, -1, SRCCOPY);
    EXPECT_EQ(eight.DibPicture().pixel(0, 2), qRgb(255, 255, 255));
    EXPECT_EQ(eight.DIBSectionBitsPtr()[2 * 8 + 4], 9);

    // The high nibble is the left pixel. Of the 16, entry 9 is blue and 15 white.
    cDibSection four;
    ASSERT_TRUE(four.Create(5, 3, 4));
    EXPECT_EQ(four.paletteBytes().size(), 64u);
    four.DIBSectionBitsPtr()[8] = 0x9F; // top row, pixels 0 and 1
    EXPECT_EQ(four.DibPicture().pixel(0, 0), qRgb(0, 0, 255));
    EXPECT_EQ(four.DibPicture().pixel(1, 0), qRgb(255, 255, 255));
}

TEST(DibSection, LoadedPixelsAreStoredBottomUpAndPaintShowsThemUpright)
{
    // Wide enough that every tile holds a run of 32 pixels and a few more.
    constexpr int width = 150, height = 9;
    const QImage picture = noise(width, height, 9);
    for (int bits : {24, 32, 16}) {
        SCOPED_TRACE(bits);
        cDibSection dib;
        ASSERT_TRUE(dib.Create(width, height, bits));
        Registered source(picture);
        dib.LoadPictureBlt(source.dc, 0, 0, -1, -1, SRCCOPY);

        // Blue, green, red (a zero at 32 bits), or 5-5-5 read back with top bits repeated below.
        QImage expected = picture;
        const auto five = [](int v) { return (v >> 3) << 3 | v >> 5; };
        int wrong = 0;
        for (int y = 0; y < height; ++y) {
            const std::uint8_t *row = dib.DIBSectionBitsPtr()
                + std::ptrdiff_t(height - 1 - y) * dib::rowBytesFor(width, bits);
            for (int x = 0; x < width; ++x) {
                const QRgb c = picture.pixel(x, y);
                const int packed = (qRed(c) >> 3) << 10 | (qGreen(c) >> 3) << 5 | qBlue(c) >> 3;
                const std::uint8_t stored[4] = {std::uint8_t(bits == 16 ? packed : qBlue(c)),
                                                std::uint8_t(bits == 16 ? packed >> 8 : qGreen(c)),
                                                std::uint8_t(qRed(c)), 0};
                wrong += std::memcmp(row + x * bits / 8, stored, std::size_t(bits / 8)) ? 1 : 0;
                if (bits == 16)
                    expected.setPixel(x, y, qRgb(five(qRed(c)), five(qGreen(c)), five(qBlue(c))));
            }
        }
        EXPECT_EQ(wrong, 0);
        EXPECT_EQ(dib.DibPicture(), expected);

        // A premultiplied target shows a pixel whose alpha was left out as transparent.
        Registered target(QImage(width + 4, height + 2, QImage::Format_ARGB32_Premultiplied));
        target.image.fill(Qt::transparent);
        dib.PaintPicture(target.dc, 3, 1, -1, -1, 0, 0, SRCCOPY);
        EXPECT_EQ(target.changes, 16) << "painted in tiles of a quarter of each side";
        EXPECT_EQ(target.image.copy(3, 1, width, height),
                  expected.convertToFormat(target.image.format()));
        EXPECT_EQ(target.image.pixel(2, 1), 0u);
        EXPECT_EQ(target.image.pixel(3, 0), 0u);
        // A target sharing its pixels with a copy keeps those around the area; the copy all.
        const QImage before = noise(width + 6, height + 3, 3);
        for (const QPoint at : {QPoint(3, 1), QPoint(0, 0)}) {
            Registered shared(before);
            dib.PaintPicture(shared.dc, at.x(), at.y(), -1, -1, 0, 0, SRCCOPY);
            QImage around = before;
            QPainter(&around).drawImage(at, expected);
            EXPECT_EQ(shared.image, around);
        }
        EXPECT_EQ(before, noise(width + 6, height + 3, 3));
        Registered part(QImage(33, 5, QImage::Format_RGB32));
        dib.PaintPicture(part.dc, 0, 0, 33, 5, 2, 1, SRCCOPY);
        EXPECT_EQ(part.image, expected.copy(2, 1, 33, 5));
    }
}
