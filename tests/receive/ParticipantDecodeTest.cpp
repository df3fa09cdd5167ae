#include <gtest/gtest.h>

#include "support/TraceCapture.h"

#include <numeric>
#include <string>

#include "exchange/ParticipantDecode.h"
#include "receive/ParticipantBlocks.h"
#include "support/cDibSection.h"

namespace {

participant::DecodedPicture decode(const modImageMemMapFunctions::ImageHeader &header,
                                   std::span<const std::uint8_t> data)
{
    participant::DecodedPicture out;
    participant::decodeByFormat(header, data, out);
    return out;
}

using participant::DecodedPicture;
using recvtest::Bytes;

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

using DecompressDataTest = testenv::TraceCaptureTest;

TEST_F(DecompressDataTest, OnlyAnExactExpansionReportsOrigSize)
{
    Bytes plain(100);
    std::iota(plain.begin(), plain.end(), std::uint8_t(1));
    const Bytes packed = recvtest::zlibCompress(plain);
    const Bytes truncated(packed.begin(), packed.end() - 4);
    const Bytes garbage = {0x78, 0x9c, 0xff, 0xff, 0x00, 0x13};
    struct Case
    {
        const char *name;
        Bytes input;
        std::int32_t origSize, expected;
        bool expanded, traced; // expanded: the data was replaced by its expansion
    };
    const Case cases[] = {
        {"exact", packed, 100, 100, true, false},
        {"shorter than OrigSize", packed, 101, 100, true, false},
        // The spare byte takes one byte too many without an error, but never reports OrigSize.
        {"one byte longer", packed, 99, 100, true, false},
        {"two bytes longer", packed, 98, 99, false, true},
        {"truncated stream", truncated, 100, 101, false, true},
        {"corrupt stream", garbage, 100, 101, false, true},
        {"no data", {}, 100, 101, false, true},
        {"zero OrigSize", packed, 0, -1, false, false},
        {"negative OrigSize", packed, -100, 0, false, false},
        {"absurd OrigSize", packed, participant::kMaxOrigSize + 1, 0, false, false},
    };
    for (const Case &c : cases) {
        platform::TraceSink::startCapture();
        Bytes data = c.input;
        EXPECT_EQ(participant::DecompressData(data, c.origSize), c.expected) << c.name;
        EXPECT_EQ(data, c.expanded ? plain : c.input) << c.name;
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

TEST(DecodeByFormat, RawCopyStopsAtTheBitmapAndAtTheData)
{
    // More bytes than the 16-byte bitmap holds: the surplus is ignored, not written past it.
    DecodedPicture decoded = decode(headerOf(1000, 2, 2, 1), Bytes(1000, 0x7f));
    ASSERT_EQ(decoded.kind, DecodedPicture::Kind::Bitmap);
    EXPECT_EQ(decoded.bitmap->TotalBytes(), 16);
    EXPECT_EQ(decoded.bitmap->DibPicture().pixel(1, 0), qRgb(0x7f, 0x7f, 0x7f));

    // A header that claims more than the data holds: only the data is copied, the rest stays 0.
    decoded = decode(headerOf(16, 2, 2, 1), Bytes(3, 0xff));
    ASSERT_EQ(decoded.kind, DecodedPicture::Kind::Bitmap);
    EXPECT_EQ(decoded.bitmap->DibPicture().pixel(0, 1), qRgb(0xff, 0xff, 0xff)); // bottom row
    EXPECT_EQ(decoded.bitmap->DibPicture().pixel(1, 1), qRgb(0, 0, 0));
}

TEST(DecodeByFormat, UnusableBlocksDrawNothing)
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
        {"empty JPEG stream", 8, 8, 24, 123, Bytes()},
    };
    for (const Case &c : cases) {
        const DecodedPicture decoded = decode(
            headerOf(std::int32_t(c.data.size()), c.width, c.height, c.format, c.bits), c.data);
        EXPECT_EQ(decoded.kind, DecodedPicture::Kind::Nothing) << c.name;
        EXPECT_EQ(decoded.bitmap, nullptr) << c.name;
    }
}

TEST(DecodeByFormat, JpegSizeReplacesTheHeaderSizeEvenAfterADamagedStream)
{
    const Bytes jpeg = recvtest::pictureFile(
        recvtest::twoBandPicture(40, 30, qRgb(240, 20, 20), qRgb(20, 20, 240)));
    const auto header = headerOf(std::int32_t(jpeg.size()), 5000, 1, 123);
    // A damaged stream just before must not spoil the next picture.
    const Bytes cut(jpeg.begin(), jpeg.begin() + std::ptrdiff_t(jpeg.size() / 2));
    EXPECT_EQ(decode(header, cut).kind, DecodedPicture::Kind::Nothing);

    const DecodedPicture decoded = decode(header, jpeg);
    ASSERT_EQ(decoded.kind, DecodedPicture::Kind::Bitmap);
    EXPECT_EQ(decoded.bitmap->DibPicture().size(), QSize(40, 30));
    EXPECT_EQ(decoded.offset, QPoint(68, 57));
}

} // namespace
