#include "dib/SurfaceTestSupport.h"
#include "support/cDibSection.h"

#include <gtest/gtest.h>

#include <QPainter>

#include <cstring>
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

} // namespace

// Rows are padded to 4 bytes and a new bitmap is black; an absurd request, or ClearUp, leaves the
// object without bits or a device context, and a new bitmap gets new handles.
TEST(DibSection, SizesFollowTheRowRulesAndAbsurdRequestsOrClearUpLeaveTheObjectEmpty)
{
    // 5 x 3 x 4: the property counts whole bytes a pixel; memory rows still hold half-bytes.
    // The last two refusals overflow the row and the total; after ClearUp the sizes stay.
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
            EXPECT_EQ(bitsOf(dib), Bytes(std::size_t(c.totalBytes), 0));
            continue;
        } else {
            EXPECT_FALSE(dib.Create(c.width, c.height, c.bits));
        }
        EXPECT_EQ(dib.HDC(), 0);
        EXPECT_EQ(dib.DIBSectionBitsPtr(), nullptr);
        EXPECT_EQ(dib.TotalBytes(), c.totalBytes);
        EXPECT_EQ(platform::gdi::surfaceFor(previous), nullptr);
        Registered target(noise(6, 4, 1));
        dib.PaintPicture(target.dc, 0, 0, -1, -1, 0, 0, SRCCOPY);
        EXPECT_EQ(target.changes, 0);
        ASSERT_TRUE(dib.Create(6, 4, 24));
        EXPECT_NE(dib.HDC(), previous);
        EXPECT_NE(dib.hDib(), bitmap);
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

        // Blue, green, red (and a zero at 32 bits), or 5-5-5 read back with the top bits
        // repeated below.
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
        // A target that shares its pixels with a copy keeps those around the painted area, and
        // the copy keeps all of its own.
        const QImage before = noise(width + 6, height + 3, 3);
        for (const QPoint at : {QPoint(3, 1), QPoint(0, 0)}) {
            Registered shared(before);
            dib.PaintPicture(shared.dc, at.x(), at.y(), -1, -1, 0, 0, SRCCOPY);
            QImage around = before;
            QPainter(&around).drawImage(at, expected);
            EXPECT_EQ(shared.image, around);
        }
        EXPECT_EQ(before, noise(width + 6, height + 3, 3));
        // Part of the bitmap from a corner of it.
        Registered part(QImage(33, 5, QImage::Format_RGB32));
        dib.PaintPicture(part.dc, 0, 0, 33, 5, 2, 1, SRCCOPY);
        EXPECT_EQ(part.image, expected.copy(2, 1, 33, 5));
    }
}
