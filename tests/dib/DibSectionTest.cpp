#include "dib/SurfaceTestSupport.h"
#include "support/cDibSection.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using platform::gdi::HDC;
using platform::gdi::SRCCOPY;
using surfacetest::fillRandom;
using surfacetest::noise;
using surfacetest::Registered;

namespace {

std::vector<std::uint8_t> bitsOf(const cDibSection &dib)
{
    return {dib.DIBSectionBitsPtr(), dib.DIBSectionBitsPtr() + dib.TotalBytes()};
}

// Remembers every rectangle read from it and every write into it.
class RecordingSurface final : public platform::gdi::Surface
{
public:
    explicit RecordingSurface(QSize size) : m_size(size) { }
    QSize size() const override { return m_size; }
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
    mutable std::vector<QRect> reads;
    std::vector<QRect> writes;

private:
    QSize m_size;
};

// The 16 tiles of a tiled blit, row by row, as (x, y, w, h).
std::vector<QRect> expectedTiles(QPoint origin, const int (&widths)[4], const int (&heights)[4])
{
    std::vector<QRect> tiles;
    int y = origin.y();
    for (int h : heights) {
        int x = origin.x();
        for (int w : widths) {
            tiles.emplace_back(x, y, w, h);
            x += w;
        }
        y += h;
    }
    return tiles;
}

} // namespace

TEST(DibSection, SizesFollowTheRowRules)
{
    struct Case
    {
        int width, height, bits;
        int bytesPerScanLine, totalBytes, bytesPerPixel, memoryRow;
    };
    const Case cases[] = {
        {176, 144, 24, 528, 76032, 3, 528},
        {175, 143, 24, 528, 75504, 3, 528},
        {174, 1, 24, 524, 524, 3, 524},
        {7, 2, 16, 16, 32, 2, 16},
        {5, 3, 8, 8, 24, 1, 8},
        // The property counts whole bytes per pixel; memory rows still hold half-bytes.
        {5, 3, 4, 0, 12, 0, 4},
        {9, 1, 4, 0, 8, 0, 8},
        {5, 2, 32, 20, 40, 4, 20},
        {1, 1, 24, 4, 4, 3, 4},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << "x" << c.bits);
        cDibSection dib;
        ASSERT_TRUE(dib.Create(c.width, c.height, c.bits));
        EXPECT_EQ(dib.BytesPerScanLine(), c.bytesPerScanLine);
        EXPECT_EQ(dib.TotalBytes(), c.totalBytes);
        EXPECT_EQ(dib.GetBytesPerPixel(), c.bytesPerPixel);
        EXPECT_EQ(dib.PixelDepth(), c.bits);
        EXPECT_EQ(dib.Width(), c.width);
        EXPECT_EQ(dib.Height(), c.height);
        EXPECT_EQ(dib::rowBytesFor(c.width, c.bits), c.memoryRow);
        EXPECT_NE(dib.HDC(), 0);
        EXPECT_NE(dib.hDib(), 0u);
        ASSERT_NE(dib.DIBSectionBitsPtr(), nullptr);
        // A new bitmap is black, and its last byte is addressable.
        EXPECT_EQ(dib.DIBSectionBitsPtr()[c.totalBytes - 1], 0);
    }
}

TEST(DibSection, AbsurdRequestsLeaveTheObjectEmpty)
{
    struct Case
    {
        const char *name;
        int width, height, bits;
    };
    const Case cases[] = {
        {"zero width", 0, 10, 24},
        {"negative height", 10, -1, 24},
        {"unsupported bit count", 10, 10, 12},
        {"no bits", 10, 10, 0},
        {"above the memory limit", 5000, 5000, 32},
        {"width that overflows a row", 0x7FFFFFFF, 1, 32},
        {"rows that overflow the total", 0x10000, 0x10000, 24},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        cDibSection dib;
        ASSERT_TRUE(dib.Create(4, 4, 24));
        const HDC previous = dib.HDC();
        EXPECT_FALSE(dib.Create(c.width, c.height, c.bits));
        EXPECT_EQ(dib.HDC(), 0);
        EXPECT_EQ(dib.hDib(), 0u);
        EXPECT_EQ(dib.DIBSectionBitsPtr(), nullptr);
        EXPECT_EQ(dib.TotalBytes(), 0);
        EXPECT_EQ(platform::gdi::surfaceFor(previous), nullptr);
        EXPECT_TRUE(dib.DibPicture().isNull());
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
    EXPECT_EQ(dib.HDC(), 0);
    EXPECT_EQ(dib.hDib(), 0u);
    EXPECT_EQ(dib.DIBSectionBitsPtr(), nullptr);
    EXPECT_EQ(platform::gdi::surfaceFor(dc), nullptr);
    EXPECT_EQ(dib.Width(), 6);
    EXPECT_EQ(dib.Height(), 5);
    EXPECT_EQ(dib.TotalBytes(), 5 * 20);
    EXPECT_EQ(dib.PixelDepth(), 24);
    dib.ClearUp();
    EXPECT_EQ(dib.HDC(), 0);

    // Blits on an empty object touch nothing.
    Registered target(noise(6, 5, 1));
    const QImage before = target.image;
    dib.PaintPicture(target.dc, 0, 0, -1, -1, 0, 0, SRCCOPY);
    EXPECT_EQ(target.image, before);

    ASSERT_TRUE(dib.Create(6, 5, 24));
    EXPECT_NE(dib.HDC(), dc);
    EXPECT_NE(dib.hDib(), bitmap);
}

TEST(DibSection, PalettesComeFromTheCompiledInTables)
{
    cDibSection eight;
    ASSERT_TRUE(eight.Create(5, 3, 8));
    const std::vector<std::uint8_t> &palett = eight.paletteBytes();
    ASSERT_EQ(palett.size(), 1024u);
    const std::uint8_t entry1[] = {128, 0, 0, 0};
    const std::uint8_t entry255[] = {255, 255, 255, 0};
    EXPECT_EQ(std::memcmp(&palett[4], entry1, 4), 0);
    EXPECT_EQ(std::memcmp(&palett[255 * 4], entry255, 4), 0);
    for (int i = 0; i < 256; ++i) {
        const bool fixed = i < 10 || i >= 246;
        EXPECT_EQ(palett[std::size_t(i) * 4 + 3], fixed ? 0 : 4) << "entry " << i;
    }

    cDibSection four;
    ASSERT_TRUE(four.Create(5, 3, 4));
    const std::uint8_t pal16[64]
        = {0,   0,   0,   0, 0,   128, 0,   0, 128, 0,   0,   0, 128, 128, 0,   0,
           0,   0,   128, 0, 128, 0,   128, 0, 0,   128, 128, 0, 192, 192, 192, 0,
           128, 128, 128, 0, 255, 0,   0,   0, 0,   255, 0,   0, 255, 255, 0,   0,
           0,   0,   255, 0, 255, 0,   255, 0, 0,   255, 255, 0, 255, 255, 255, 0};
    ASSERT_EQ(four.paletteBytes().size(), 64u);
    EXPECT_EQ(std::memcmp(four.paletteBytes().data(), pal16, 64), 0);
}

TEST(DibSection, IndexedPixelsShowTheirPaletteColours)
{
    // Colour entries are stored blue, green, red: entry 1 of the 256 (128, 0, 0) is dark blue.
    cDibSection eight;
    ASSERT_TRUE(eight.Create(5, 3, 8));
    std::uint8_t *bottom = eight.DIBSectionBitsPtr();
    bottom[0] = 1;
    bottom[4] = 255;
    QImage picture = eight.DibPicture();
    EXPECT_EQ(picture.pixel(0, 2), qRgb(0, 0, 128));
    EXPECT_EQ(picture.pixel(4, 2), qRgb(255, 255, 255));
    EXPECT_EQ(picture.pixel(0, 0), qRgb(0, 0, 0));

    // The high nibble is the left pixel. Entry 9 of the 16 is (255, 0, 0): blue.
    cDibSection four;
    ASSERT_TRUE(four.Create(5, 3, 4));
    four.DIBSectionBitsPtr()[8] = 0x9F; // top row, pixels 0 and 1
    picture = four.DibPicture();
    EXPECT_EQ(picture.pixel(0, 0), qRgb(0, 0, 255));
    EXPECT_EQ(picture.pixel(1, 0), qRgb(255, 255, 255));
    EXPECT_EQ(picture.pixel(2, 0), qRgb(0, 0, 0));

    // Drawing into an indexed bitmap stores the index of the nearest entry.
    Registered source(QImage(5, 3, QImage::Format_RGB32));
    source.image.fill(qRgb(0, 0, 128));
    source.image.setPixel(3, 0, qRgb(250, 252, 254));
    source.image.setPixel(4, 0, qRgb(240, 202, 166)); // only entry 9 (stored 166, 202, 240)
    eight.LoadPictureBlt(source.dc, 0, 0, -1, -1, SRCCOPY);
    EXPECT_EQ(eight.DIBSectionBitsPtr()[0], 1);
    EXPECT_EQ(eight.DibPicture().pixel(3, 0), qRgb(255, 255, 255));
    EXPECT_EQ(eight.DIBSectionBitsPtr()[2 * 8 + 4], 9);
}

TEST(DibSection, RowsAreStoredBottomUp)
{
    struct Case
    {
        int bits;
        std::vector<std::uint8_t> topLeftBytes; // as stored for qRgb(200, 100, 50)
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

        // The picture's top row is the last row in memory.
        const std::uint8_t *lastRow = dib.DIBSectionBitsPtr() + 3 * dib::rowBytesFor(3, c.bits);
        EXPECT_EQ(std::vector<std::uint8_t>(lastRow, lastRow + c.topLeftBytes.size()),
                  c.topLeftBytes);
        const std::uint8_t *firstRow = dib.DIBSectionBitsPtr();
        for (std::size_t i = 0; i < c.topLeftBytes.size(); ++i)
            EXPECT_EQ(firstRow[i], 0);

        // And it reads back upright.
        const QImage picture = dib.DibPicture();
        EXPECT_EQ(picture.pixel(0, 0), c.readBack);
        EXPECT_EQ(picture.pixel(0, 3), qRgb(0, 0, 0));
    }
}

TEST(DibSection, TilesOfPaintAndLoadCoverTheAreaInSixteenBlits)
{
    cDibSection dib;
    ASSERT_TRUE(dib.Create(7, 5, 24));
    RecordingSurface recorder(QSize(40, 40));
    const HDC dc = platform::gdi::registerSurface(&recorder);

    dib.PaintPicture(dc, 10, 20, -1, -1, 0, 0, SRCCOPY);
    EXPECT_EQ(recorder.writes, expectedTiles({10, 20}, {1, 1, 1, 4}, {1, 1, 1, 2}));

    dib.LoadPictureBlt(dc, 9, 9, 7, 5, SRCCOPY); // the source offsets are not used
    EXPECT_EQ(recorder.reads, expectedTiles({0, 0}, {1, 1, 1, 4}, {1, 1, 1, 2}));

    recorder.writes.clear();
    dib.PaintPicture(dc, 0, 0, 12, 9, 0, 0, SRCCOPY);
    // Tiles of 3 and 2 (last 3 x 3): those beyond the bitmap's 7 x 5 pixels copy nothing.
    EXPECT_EQ(recorder.writes.size(), 9u);
    platform::gdi::unregisterSurface(dc);
}

TEST(DibSection, TiledBlitsEqualOneBlit)
{
    for (int bits : {24, 32, 16}) {
        SCOPED_TRACE(bits);
        // Paint: odd sizes so the last tile differs, an offset, and a source corner.
        cDibSection dib;
        ASSERT_TRUE(dib.Create(37, 29, bits));
        fillRandom(dib.DIBSectionBitsPtr(), dib.TotalBytes(), 5);
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
        EXPECT_NE(bitsOf(a), std::vector<std::uint8_t>(std::size_t(a.TotalBytes()), 0));
    }
}
