#include <gtest/gtest.h>

#include "support/TraceCapture.h"

#include <algorithm>
#include <optional>
#include <string>

#include "exchange/ParticipantDecode.h"
#include "receive/ParticipantBlocks.h"
#include "support/cDibSection.h"

namespace {

using participant::DecodedPicture;
using recvtest::Bytes;

constexpr QRgb kRed = qRgb(230, 20, 20);

modImageMemMapFunctions::ImageHeader headerOf(std::int32_t origSize, std::int32_t width,
                                              std::int32_t height, std::uint8_t format,
                                              std::uint8_t bits = 24)
{
    modImageMemMapFunctions::ImageHeader header {};
    header.OrigSize = origSize;
    header.Width = width;
    header.Height = height;
    header.BitsPerPixel = bits;
    header.PictureFormat = format;
    return header;
}

TEST(CentringOffset, HalvesRoundToTheEvenNeighbour)
{
    const std::int32_t cases[][3] = {
        {160, 176, 8},
        {120, 144, 12},
        {175, 176, 0},
        {173, 176, 2},
        {171, 176, 2},
        {169, 176, 4},
        {0, 176, 88},
        {320, 176, 0},
        {-10, 144, 77},
        {1, 2, 0},
        {-2147483647 - 1, 144, 1073741896},
        {2147483647, 144, 0},
    };
    for (const auto &[extent, area, expected] : cases)
        EXPECT_EQ(participant::centringOffset(extent, area), expected)
            << "extent " << extent << " in " << area;
}

// The expansion of a data part as the receiver sees it: zlib-compressed unless the format is a
// picture file (2) or stored only (3). Nothing when the picture is dropped.
std::optional<DecodedPicture> pass(participant::Receiver &receiver,
                                   const modImageMemMapFunctions::ImageHeader &header,
                                   const Bytes &plain)
{
    const bool expanded = header.PictureFormat != 2 && header.PictureFormat != 3;
    const Bytes data = expanded ? recvtest::zlibCompress(plain) : plain;
    const std::optional<participant::ReceivedBlock> received = receiver.expand(header, data);
    if (!received)
        return std::nullopt;
    DecodedPicture out;
    receiver.decode(*received, out);
    return out;
}

using DecompressDataTest = testenv::TraceCaptureTest;

TEST_F(DecompressDataTest, OnlyAnExactExpansionReportsOrigSize)
{
    // Longer than the scratch area that counts what does not fit, so the count crosses it.
    Bytes plain(10000);
    for (std::size_t i = 0; i < plain.size(); ++i)
        plain[i] = std::uint8_t(i * 7 + i / 251);
    const Bytes packed = recvtest::zlibCompress(plain);
    const Bytes truncated(packed.begin(), packed.end() - 4);
    const Bytes garbage = {0x78, 0x9c, 0xff, 0xff, 0x00, 0x13};
    struct Case
    {
        const char *name;
        Bytes input;
        std::int32_t origSize, room, expected; // room: bytes the caller keeps
        bool traced;
    };
    const Case cases[] = {
        {"exact", packed, 10000, 10000, 10000, false},
        {"shorter than OrigSize", packed, 10001, 10001, 10000, false},
        // The spare byte takes one byte too many without an error, but never reports OrigSize.
        {"one byte longer", packed, 9999, 9999, 10000, false},
        {"two bytes longer", packed, 9998, 9998, 9999, true},
        {"kept in part, counted in full", packed, 10000, 10, 10000, false},
        {"kept in part, two bytes longer", packed, 9998, 10, 9999, true},
        {"truncated stream", truncated, 10000, 10000, 10001, true},
        {"corrupt stream", garbage, 10000, 10000, 10001, true},
        {"no data", {}, 10000, 10000, 10001, true},
        {"zero OrigSize", packed, 0, 0, -1, false},
        {"negative OrigSize", packed, -100, 0, 0, false},
        {"absurd OrigSize", packed, participant::kMaxOrigSize + 1, 0, 0, false},
    };
    for (const Case &c : cases) {
        platform::TraceSink::startCapture();
        Bytes out(std::size_t(c.room), 0xee);
        EXPECT_EQ(participant::DecompressData(c.input, c.origSize, out), c.expected) << c.name;
        // What was kept is the start of the expansion.
        if (!c.traced && c.expected > 0) {
            const std::size_t kept = std::min(out.size(), std::size_t(c.expected));
            EXPECT_TRUE(std::equal(out.begin(), out.begin() + std::ptrdiff_t(kept), plain.begin()))
                << c.name;
        }
        EXPECT_EQ(captured(), c.traced ? "WebCam DecompressData failed\n" : "") << c.name;
    }
}

TEST(TrimSpaces, TrimsSpacesOnlyAtBothEnds)
{
    const std::pair<QString, QString> cases[]
        = {{"  Ann Lee  ", "Ann Lee"}, {"    ", ""}, {"\tAnn ", "\tAnn"}, {" a  b ", "a  b"}};
    for (const auto &[in, out] : cases)
        EXPECT_EQ(participant::trimSpaces(in), out) << in.toStdString();
}

TEST(Receiver, RawRowsStopAtTheBitmapAndNothingOfAnEarlierPictureRemains)
{
    participant::Receiver receiver;
    // More bytes than the 16-byte bitmap holds: the surplus is counted, not written past it.
    std::optional<DecodedPicture> decoded
        = pass(receiver, headerOf(1000, 2, 2, 1), Bytes(1000, 0x7f));
    ASSERT_TRUE(decoded && decoded->kind == DecodedPicture::Kind::Bitmap);
    cDibSection *bitmap = decoded->bitmap;
    EXPECT_EQ(bitmap->TotalBytes(), 16);
    EXPECT_EQ(bitmap->DibPicture().pixel(1, 0), qRgb(0x7f, 0x7f, 0x7f));

    // The same size again fills the same bitmap; what the short data leaves is cleared, not
    // left from the picture before.
    decoded = pass(receiver, headerOf(3, 2, 2, 1), Bytes(3, 0xff));
    ASSERT_TRUE(decoded && decoded->kind == DecodedPicture::Kind::Bitmap);
    EXPECT_EQ(decoded->bitmap, bitmap);
    EXPECT_EQ(bitmap->DibPicture().pixel(0, 1), qRgb(0xff, 0xff, 0xff)); // bottom row
    EXPECT_EQ(bitmap->DibPicture().pixel(1, 1), qRgb(0, 0, 0));
    EXPECT_EQ(bitmap->DibPicture().pixel(1, 0), qRgb(0, 0, 0));

    // A JPEG stream of that size after raw rows whose padding was set: the rows' padding too.
    pass(receiver, headerOf(16, 2, 2, 1), Bytes(16, 0x7f));
    const Bytes jpeg = recvtest::pictureFile(recvtest::twoBandPicture(2, 2, kRed, kRed));
    decoded = pass(receiver, headerOf(std::int32_t(jpeg.size()), 0, 0, 123), jpeg);
    ASSERT_TRUE(decoded && decoded->kind == DecodedPicture::Kind::Bitmap);
    EXPECT_EQ(decoded->bitmap, bitmap);
    for (int row = 0; row < 2; ++row)
        EXPECT_EQ(Bytes(bitmap->DIBSectionBitsPtr() + row * 8 + 6,
                        bitmap->DIBSectionBitsPtr() + row * 8 + 8),
                  Bytes(2, 0))
            << "row " << row;
}

TEST(Receiver, UnusableBlocksDrawNothing)
{
    const Bytes bits(64, 0x55);
    const Bytes jpeg = recvtest::pictureFile(recvtest::twoBandPicture(8, 8, 0xff0000, 0xff));
    const Bytes cutJpeg(jpeg.begin(), jpeg.begin() + std::ptrdiff_t(jpeg.size() / 2));
    struct Case
    {
        const char *name;
        std::int32_t width, height;
        std::uint8_t bits, format;
        const Bytes &data;
    };
    const Case cases[] = {
        {"zero width", 0, 4, 24, 1, bits},
        {"negative height", 4, -4, 24, 1, bits},
        {"width above the limit", participant::kMaxPictureSide + 1, 1, 24, 1, bits},
        {"bitmap above the memory limit", 16384, 16384, 24, 1, bits},
        {"unsupported bit count", 4, 4, 7, 1, bits},
        {"format 3", 4, 4, 24, 3, bits},
        {"unknown format", 4, 4, 24, 9, bits},
        {"not a JPEG stream", 4, 4, 24, 123, bits},
        {"truncated JPEG stream", 8, 8, 24, 123, cutJpeg},
    };
    participant::Receiver receiver;
    for (const Case &c : cases) {
        // Accepted (the labels follow), but nothing to draw.
        const std::optional<DecodedPicture> decoded = pass(
            receiver, headerOf(std::int32_t(c.data.size()), c.width, c.height, c.format, c.bits),
            c.data);
        ASSERT_TRUE(decoded) << c.name;
        EXPECT_EQ(decoded->kind, DecodedPicture::Kind::Nothing) << c.name;
        EXPECT_EQ(decoded->bitmap, nullptr) << c.name;
    }
}

TEST(Receiver, JpegSizeReplacesTheHeaderSizeEvenAfterADamagedStream)
{
    const Bytes jpeg = recvtest::pictureFile(
        recvtest::twoBandPicture(40, 30, qRgb(240, 20, 20), qRgb(20, 20, 240)));
    const auto header = headerOf(std::int32_t(jpeg.size()), 5000, 1, 123);
    participant::Receiver receiver;
    // A damaged stream just before must not spoil the next picture.
    const Bytes cut(jpeg.begin(), jpeg.begin() + std::ptrdiff_t(jpeg.size() / 2));
    EXPECT_EQ(pass(receiver, headerOf(std::int32_t(cut.size()), 5000, 1, 123), cut)->kind,
              DecodedPicture::Kind::Nothing);

    const std::optional<DecodedPicture> decoded = pass(receiver, header, jpeg);
    ASSERT_TRUE(decoded && decoded->kind == DecodedPicture::Kind::Bitmap);
    EXPECT_EQ(decoded->bitmap->DibPicture().size(), QSize(40, 30));
    EXPECT_EQ(decoded->offset, QPoint(68, 57));
}

TEST(Receiver, OnlyBitmapsWithinTheBoundAreKept)
{
    participant::Receiver receiver;
    // 2048 x 1366 x 3 bytes is just past the bound; zeros compress to almost nothing.
    const std::int32_t large = 2048 * 3 * 1366;
    ASSERT_GT(std::size_t(large), participant::Receiver::kKeptBytes);
    const struct
    {
        std::int32_t width, height;
        bool kept;
    } cases[] = {{2048, 1366, false}, {640, 480, true}};
    for (const auto &c : cases) {
        const std::int32_t size = c.width * 3 * c.height;
        const std::optional<DecodedPicture> decoded
            = pass(receiver, headerOf(size, c.width, c.height, 1), Bytes(std::size_t(size), 0));
        ASSERT_TRUE(decoded && decoded->kind == DecodedPicture::Kind::Bitmap) << c.width;
        receiver.trim();
        EXPECT_EQ(decoded->bitmap->HDC() != 0, c.kept) << c.width;
    }
}

} // namespace
