#include "dib/SurfaceTestSupport.h"
#include "support/cDibSection.h"

#include <gtest/gtest.h>

#include <vector>

using platform::gdi::HDC;
using platform::gdi::SRCCOPY;
using surfacetest::noise;
using surfacetest::Registered;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bitsOf(const cDibSection &dib)
{
    return {dib.DIBSectionBitsPtr(), dib.DIBSectionBitsPtr() + dib.TotalBytes()};
}

// Remembers every rectangle read from it and written into it.
struct RecordingSurface final : platform::gdi::Surface
{
    QSize size() const override { return {40, 40}; }
    QImage read(const QRect &rect) const override
    {
        reads.push_back(rect);
        QImage out(rect.size(), QImage::Format_RGB32);
        out.fill(Qt::gray);
        return out;
    }
    void write(const QPoint &at, const QImage &image) override
    {
        writes.push_back(QRect(at, image.size()));
    }
    mutable std::vector<QRect> reads, writes;
};

} // namespace

TEST(DibSection, SizesFollowTheRowRules)
{
    struct Case
    {
        int width, height, bits;
        int bytesPerScanLine, totalBytes, bytesPerPixel;
    };
    const Case cases[] = {
        {176, 144, 24, 528, 76032, 3},
        {175, 143, 24, 528, 75504, 3},
        {7, 2, 16, 16, 32, 2},
        {5, 3, 8, 8, 24, 1},
        // The property counts whole bytes per pixel; memory rows still hold half-bytes.
        {5, 3, 4, 0, 12, 0},
        {5, 2, 32, 20, 40, 4},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << "x" << c.bits);
        cDibSection dib;
        ASSERT_TRUE(dib.Create(c.width, c.height, c.bits));
        EXPECT_EQ(dib.BytesPerScanLine(), c.bytesPerScanLine);
        EXPECT_EQ(dib.TotalBytes(), c.totalBytes);
        EXPECT_EQ(dib.GetBytesPerPixel(), c.bytesPerPixel);
        EXPECT_NE(dib.HDC(), 0);
        EXPECT_NE(dib.hDib(), 0u);
        // A new bitmap is black to its last byte.
        EXPECT_EQ(bitsOf(dib), Bytes(std::size_t(c.totalBytes), 0));
    }
}

TEST(DibSection, AbsurdRequestsLeaveTheObjectEmpty)
{
    const int cases[][3] = {
        {0, 10, 24},      {10, -1, 24},        {10, 10, 12},
        {5000, 5000, 32}, {0x7FFFFFFF, 1, 32}, {0x10000, 0x10000, 24}, // overflows row, total
    };
    for (const auto &[width, height, bits] : cases) {
        SCOPED_TRACE(testing::Message() << width << "x" << height << "x" << bits);
        cDibSection dib;
        ASSERT_TRUE(dib.Create(4, 4, 24));
        const HDC previous = dib.HDC();
        EXPECT_FALSE(dib.Create(width, height, bits));
        EXPECT_EQ(dib.HDC(), 0);
        EXPECT_EQ(dib.hDib(), 0u);
        EXPECT_EQ(dib.DIBSectionBitsPtr(), nullptr);
        EXPECT_EQ(dib.TotalBytes(), 0);
        EXPECT_EQ(platform::gdi::surfaceFor(previous), nullptr);
    }
}

TEST(DibSection, ClearUpReleasesOnceAndKeepsTheSizes)
{
    cDibSection dib;
    dib.ClearUp(); // on an empty object: nothing to do
    ASSERT_TRUE(dib.Create(6, 5, 24));
    const HDC dc = dib.HDC();
    const std::uint32_t bitmap = dib.hDib();
    dib.ClearUp();
    dib.ClearUp();
    EXPECT_EQ(dib.HDC(), 0);
    EXPECT_EQ(dib.hDib(), 0u);
    EXPECT_EQ(dib.DIBSectionBitsPtr(), nullptr);
    EXPECT_EQ(platform::gdi::surfaceFor(dc), nullptr);
    EXPECT_EQ(dib.Width(), 6);
    EXPECT_EQ(dib.TotalBytes(), 5 * 20);

    // Blits on an empty object touch nothing.
    Registered target(noise(6, 5, 1));
    dib.PaintPicture(target.dc, 0, 0, -1, -1, 0, 0, SRCCOPY);
    EXPECT_EQ(target.changes, 0);

    ASSERT_TRUE(dib.Create(6, 5, 24));
    EXPECT_NE(dib.HDC(), dc);
    EXPECT_NE(dib.hDib(), bitmap);
}

TEST(DibSection, IndexedBitmapsUseTheCompiledInPalettes)
{
    // Entries are stored blue, green, red, flags: entry 1 of the 256 (128, 0, 0) is dark blue.
    cDibSection eight;
    ASSERT_TRUE(eight.Create(5, 3, 8));
    const Bytes &palett = eight.paletteBytes();
    ASSERT_EQ(palett.size(), 1024u);
    EXPECT_EQ(Bytes(palett.begin() + 4, palett.begin() + 8), Bytes({128, 0, 0, 0}));
    for (int i = 0; i < 256; ++i)
        EXPECT_EQ(palett[std::size_t(i) * 4 + 3], i < 10 || i >= 246 ? 0 : 4) << "entry " << i;
    std::uint8_t *bottom = eight.DIBSectionBitsPtr();
    bottom[0] = 1;
    bottom[4] = 255;
    EXPECT_EQ(eight.DibPicture().pixel(0, 2), qRgb(0, 0, 128));
    EXPECT_EQ(eight.DibPicture().pixel(4, 2), qRgb(255, 255, 255));
    EXPECT_EQ(eight.DibPicture().pixel(0, 0), qRgb(0, 0, 0));

    // Drawing into an indexed bitmap stores the index of the nearest entry.
    Registered source(QImage(5, 3, QImage::Format_RGB32));
    source.image.fill(qRgb(0, 0, 128));
    source.image.setPixel(3, 0, qRgb(250, 252, 254));
    source.image.setPixel(4, 0, qRgb(240, 202, 166)); // only entry 9 (stored 166, 202, 240)
    eight.LoadPictureBlt(source.dc, 0, 0, -1, -1, SRCCOPY);
    EXPECT_EQ(eight.DIBSectionBitsPtr()[0], 1);
    EXPECT_EQ(eight.DibPicture().pixel(3, 0), qRgb(255, 255, 255));
    EXPECT_EQ(eight.DIBSectionBitsPtr()[2 * 8 + 4], 9);

    // The high nibble is the left pixel. Of the 16, entry 9 is blue and 15 white.
    cDibSection four;
    ASSERT_TRUE(four.Create(5, 3, 4));
    EXPECT_EQ(four.paletteBytes().size(), 64u);
    four.DIBSectionBitsPtr()[8] = 0x9F; // top row, pixels 0 and 1
    EXPECT_EQ(four.DibPicture().pixel(0, 0), qRgb(0, 0, 255));
    EXPECT_EQ(four.DibPicture().pixel(1, 0), qRgb(255, 255, 255));
    EXPECT_EQ(four.DibPicture().pixel(2, 0), qRgb(0, 0, 0));
}

TEST(DibSection, RowsAreStoredBottomUp)
{
    struct Case
    {
        int bits;
        Bytes topLeftBytes; // as stored for qRgb(200, 100, 50)
        QRgb readBack;
    };
    const Case cases[] = {
        {24, {50, 100, 200}, qRgb(200, 100, 50)},
        {32, {50, 100, 200, 0}, qRgb(200, 100, 50)},
        // 5-5-5: red 25, green 12, blue 6 -> 0x6586, little-endian; read back at full range
        {16, {0x86, 0x65}, qRgb(206, 99, 49)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.bits);
        cDibSection dib;
        ASSERT_TRUE(dib.Create(3, 4, c.bits));
        Registered source(QImage(3, 4, QImage::Format_RGB32));
        source.image.fill(Qt::black);
        source.image.setPixel(0, 0, qRgb(200, 100, 50));
        dib.LoadPictureBlt(source.dc, 0, 0, -1, -1, SRCCOPY);

        // The picture's top row is the last row in memory, and the first row is still black.
        const Bytes bits = bitsOf(dib);
        const auto lastRow = bits.begin() + 3 * dib::rowBytesFor(3, c.bits);
        EXPECT_EQ(Bytes(lastRow, lastRow + std::ptrdiff_t(c.topLeftBytes.size())), c.topLeftBytes);
        EXPECT_EQ(Bytes(bits.begin(), lastRow), Bytes(std::size_t(lastRow - bits.begin()), 0));
        EXPECT_EQ(dib.DibPicture().pixel(0, 0), c.readBack);
    }
}

TEST(DibSection, PaintedPixelsAreTheStoredPixelsUpright)
{
    // Wide enough that every tile holds a run of 16 pixels and a few more.
    constexpr int width = 75, height = 9;
    for (int bits : {24, 32, 16}) {
        SCOPED_TRACE(bits);
        cDibSection dib;
        ASSERT_TRUE(dib.Create(width, height, bits));
        surfacetest::fillRandom(dib.DIBSectionBitsPtr(), dib.TotalBytes(), 9);
        QImage expected(width, height, QImage::Format_ARGB32_Premultiplied);
        for (int y = 0; y < height; ++y) {
            const std::uint8_t *row = dib.DIBSectionBitsPtr()
                + std::ptrdiff_t(height - 1 - y) * dib::rowBytesFor(width, bits);
            for (int x = 0; x < width; ++x) {
                const std::uint8_t *p = row + x * bits / 8;
                const int v = p[0] | p[1] << 8; // 16 bits: 5-5-5, the top bits repeated below
                const auto five = [v](int shift) {
                    const int c = (v >> shift) & 31;
                    return c << 3 | c >> 2;
                };
                expected.setPixel(
                    x, y, bits == 16 ? qRgb(five(10), five(5), five(0)) : qRgb(p[2], p[1], p[0]));
            }
        }
        // A premultiplied target shows a pixel whose alpha was left out as transparent.
        Registered target(QImage(width + 4, height + 2, QImage::Format_ARGB32_Premultiplied));
        target.image.fill(Qt::transparent);
        dib.PaintPicture(target.dc, 3, 1, -1, -1, 0, 0, SRCCOPY);
        EXPECT_EQ(target.image.copy(3, 1, width, height), expected);
        EXPECT_EQ(target.image.pixel(2, 1), 0u);
        EXPECT_EQ(target.image.pixel(3, 0), 0u);
        EXPECT_EQ(dib.DibPicture().convertToFormat(expected.format()), expected);
    }
}

TEST(DibSection, PaintAndLoadBlitInSixteenTiles)
{
    cDibSection dib;
    ASSERT_TRUE(dib.Create(7, 5, 24));
    RecordingSurface recorder;
    const HDC dc = platform::gdi::registerSurface(&recorder);
    const auto tiles = [](int left, int top) { // 7 x 5 splits into 1, 1, 1, 4 by 1, 1, 1, 2
        const int w[] = {1, 1, 1, 4}, h[] = {1, 1, 1, 2};
        std::vector<QRect> out;
        for (int j = 0, y = top; j < 4; y += h[j++])
            for (int i = 0, x = left; i < 4; x += w[i++])
                out.emplace_back(x, y, w[i], h[j]);
        return out;
    };
    dib.PaintPicture(dc, 10, 20, -1, -1, 0, 0, SRCCOPY);
    EXPECT_EQ(recorder.writes, tiles(10, 20));
    dib.LoadPictureBlt(dc, 9, 9, 7, 5, SRCCOPY); // the source offsets are not used
    EXPECT_EQ(recorder.reads, tiles(0, 0));
    platform::gdi::unregisterSurface(dc);
}

TEST(DibSection, TiledBlitsEqualOneBlit)
{
    for (int bits : {24, 32, 16}) {
        SCOPED_TRACE(bits);
        // Paint: odd sizes so the last tile differs, an offset, and a source corner.
        cDibSection dib;
        ASSERT_TRUE(dib.Create(37, 29, bits));
        surfacetest::fillRandom(dib.DIBSectionBitsPtr(), dib.TotalBytes(), 5);
        Registered tiled(noise(50, 40, 6));
        Registered whole(tiled.image.copy());
        dib.PaintPicture(tiled.dc, 3, 2, 33, 23, 2, 1, SRCCOPY);
        ASSERT_TRUE(platform::gdi::BitBlt(whole.dc, 3, 2, 33, 23, dib.HDC(), 2, 1, SRCCOPY));
        EXPECT_EQ(tiled.image, whole.image);
        EXPECT_NE(tiled.image, noise(50, 40, 6));

        // Load: the same pixels in memory as one blit of the whole area.
        Registered source(noise(41, 31, 7));
        cDibSection a, b;
        ASSERT_TRUE(a.Create(37, 29, bits));
        ASSERT_TRUE(b.Create(37, 29, bits));
        a.LoadPictureBlt(source.dc, 0, 0, -1, -1, SRCCOPY);
        ASSERT_TRUE(platform::gdi::BitBlt(b.HDC(), 0, 0, 37, 29, source.dc, 0, 0, SRCCOPY));
        EXPECT_EQ(bitsOf(a), bitsOf(b));
        EXPECT_NE(bitsOf(a), Bytes(std::size_t(a.TotalBytes()), 0));
    }
}
