#include <gtest/gtest.h>

#include "common/TraceCapture.h"

#include <numeric>
#include <string>

#include "automation/DebugTrace.h"
#include "exchange/ParticipantDecode.h"
#include "platform/core/TraceSink.h"
#include "receive/ParticipantBlocks.h"
#include "support/cDibSection.h"

namespace {

using participant::centringOffset;
using participant::DecodedPicture;
using recvtest::Bytes;

TEST(CentringOffset, HalvesRoundToTheEvenNeighbour)
{
    struct Case
    {
        std::int32_t extent, area, expected;
    };
    const Case cases[] = {
        {160, 176, 8},        {120, 144, 12}, {175, 176, 0}, {143, 144, 0},
        {173, 176, 2},        {141, 144, 2},  {171, 176, 2}, {169, 176, 4},
        {1, 176, 88},         {0, 176, 88},   {176, 176, 0}, {320, 176, 0},
        {240, 144, 0},        {-10, 144, 77}, {1, 2, 0},     {-2147483647 - 1, 144, 1073741896},
        {2147483647, 144, 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(centringOffset(c.extent, c.area), c.expected)
            << "extent " << c.extent << " in " << c.area;
}

using DecompressDataTest = testenv::TraceCaptureTest;

TEST_F(DecompressDataTest, OnlyAnExactExpansionReportsOrigSize)
{
    Bytes plain(100);
    std::iota(plain.begin(), plain.end(), std::uint8_t(1));
    const Bytes packed = recvtest::zlibCompress(plain);
    Bytes truncated(packed.begin(), packed.end() - 4);
    const Bytes garbage = {0x78, 0x9c, 0xff, 0xff, 0x00, 0x13};

    struct Case
    {
        const char *name;
        Bytes input;
        std::int32_t origSize;
        std::int32_t expected;
        bool expanded; // Data replaced by the expansion
        bool traced;
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
        EXPECT_EQ(data == plain, c.expanded) << c.name;
        if (!c.expanded) {
            EXPECT_EQ(data, c.input) << c.name;
        }
        EXPECT_EQ(platform::TraceSink::captured(), c.traced ? "WebCam DecompressData failed\n" : "")
            << c.name;
    }
}

TEST(TrimSpaces, TrimsSpacesOnlyAtBothEnds)
{
    const std::pair<QString, QString> cases[] = {
        {"  Ann Lee  ", "Ann Lee"}, {"Ann", "Ann"},     {"    ", ""}, {"", ""},
        {"\tAnn ", "\tAnn"},        {" a  b ", "a  b"},
    };
    for (const auto &[in, out] : cases)
        EXPECT_EQ(participant::trimSpaces(in), out) << in.toStdString();
}

QRgb pixelOf(const cDibSection &bitmap, int x, int y)
{
    return bitmap.DibPicture().pixel(x, y);
}

TEST(DecodeByFormat, RawRowsAreBottomUpAndCentred)
{
    const QImage picture = recvtest::twoBandPicture(6, 4, qRgb(250, 0, 0), qRgb(0, 0, 250));
    const Bytes bits = recvtest::bottomUpBgr(picture);
    modImageMemMapFunctions::ImageHeader header {};
    header.OrigSize = std::int32_t(bits.size());
    header.Width = 6;
    header.Height = 4;
    header.BitsPerPixel = 24;
    header.PictureFormat = 1;

    const DecodedPicture decoded = participant::decodeByFormat(header, bits);
    ASSERT_EQ(decoded.kind, DecodedPicture::Kind::Bitmap);
    EXPECT_EQ(decoded.offset, QPoint(85, 70));
    EXPECT_EQ(pixelOf(*decoded.bitmap, 0, 0), qRgb(250, 0, 0));
    EXPECT_EQ(pixelOf(*decoded.bitmap, 5, 3), qRgb(0, 0, 250));
}

TEST(DecodeByFormat, RawCopyStopsAtTheBitmapAndAtTheData)
{
    modImageMemMapFunctions::ImageHeader header {};
    header.Width = 2;
    header.Height = 2;
    header.BitsPerPixel = 24;
    header.PictureFormat = 1;

    // More bytes than the 16-byte bitmap holds: the surplus is ignored, not written past it.
    Bytes many(1000, 0x7f);
    header.OrigSize = 1000;
    DecodedPicture decoded = participant::decodeByFormat(header, many);
    ASSERT_EQ(decoded.kind, DecodedPicture::Kind::Bitmap);
    EXPECT_EQ(decoded.bitmap->TotalBytes(), 16);
    EXPECT_EQ(pixelOf(*decoded.bitmap, 1, 0), qRgb(0x7f, 0x7f, 0x7f));

    // A header that claims more than the data holds: only the data is copied, the rest stays 0.
    const Bytes few(3, 0xff);
    header.OrigSize = 16;
    decoded = participant::decodeByFormat(header, few);
    ASSERT_EQ(decoded.kind, DecodedPicture::Kind::Bitmap);
    EXPECT_EQ(pixelOf(*decoded.bitmap, 0, 1), qRgb(0xff, 0xff, 0xff)); // bottom row, first
    EXPECT_EQ(pixelOf(*decoded.bitmap, 1, 1), qRgb(0, 0, 0));
}

TEST(DecodeByFormat, UnusableBlocksDrawNothing)
{
    const Bytes bits(64, 0x55);
    const Bytes jpeg = recvtest::pictureFile(recvtest::twoBandPicture(8, 8, 0xff0000, 0xff));
    Bytes cutJpeg(jpeg.begin(), jpeg.begin() + std::ptrdiff_t(jpeg.size() / 2));
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
        modImageMemMapFunctions::ImageHeader header {};
        header.OrigSize = std::int32_t(c.data.size());
        header.Width = c.width;
        header.Height = c.height;
        header.BitsPerPixel = c.bits;
        header.PictureFormat = c.format;
        const DecodedPicture decoded = participant::decodeByFormat(header, c.data);
        EXPECT_EQ(decoded.kind, DecodedPicture::Kind::Nothing) << c.name;
        EXPECT_EQ(decoded.bitmap, nullptr) << c.name;
    }
}

TEST(DecodeByFormat, JpegSizeReplacesTheHeaderSizeEvenAfterADamagedStream)
{
    const QImage picture = recvtest::twoBandPicture(40, 30, qRgb(240, 20, 20), qRgb(20, 20, 240));
    const Bytes jpeg = recvtest::pictureFile(picture);
    modImageMemMapFunctions::ImageHeader header {};
    header.OrigSize = std::int32_t(jpeg.size());
    header.Width = 5000;
    header.Height = 1;
    header.PictureFormat = 123;

    // A damaged stream just before must not spoil the next picture.
    modImageMemMapFunctions::ImageHeader damaged = header;
    const Bytes cut(jpeg.begin(), jpeg.begin() + std::ptrdiff_t(jpeg.size() / 2));
    EXPECT_EQ(participant::decodeByFormat(damaged, cut).kind, DecodedPicture::Kind::Nothing);

    const DecodedPicture decoded = participant::decodeByFormat(header, jpeg);
    ASSERT_EQ(decoded.kind, DecodedPicture::Kind::Bitmap);
    EXPECT_EQ(decoded.bitmap->Width(), 40);
    EXPECT_EQ(decoded.bitmap->Height(), 30);
    EXPECT_EQ(decoded.offset, QPoint(68, 57));
    const QRgb top = pixelOf(*decoded.bitmap, 20, 2);
    const QRgb bottom = pixelOf(*decoded.bitmap, 20, 27);
    EXPECT_GT(qRed(top), 200);
    EXPECT_LT(qBlue(top), 60);
    EXPECT_GT(qBlue(bottom), 200);
    EXPECT_LT(qRed(bottom), 60);
}

TEST(DecodeByFormat, PictureFileKeepsItsSizeOrComesBackEmpty)
{
    const QImage picture = recvtest::twoBandPicture(30, 20, qRgb(0, 200, 0), qRgb(0, 0, 0));
    struct Case
    {
        const char *name;
        Bytes data;
        QSize size; // invalid: no picture
    };
    const Case cases[] = {
        {"JPEG file", recvtest::pictureFile(picture), QSize(30, 20)},
        {"PNG file", recvtest::pictureFile(picture, "PNG"), QSize(30, 20)},
        {"BMP file", recvtest::pictureFile(picture, "BMP"), QSize(30, 20)},
        {"garbage", Bytes(50, 0x42), QSize()},
        {"no bytes", Bytes(), QSize()},
    };
    for (const Case &c : cases) {
        modImageMemMapFunctions::ImageHeader header {};
        header.PictureFormat = 2;
        const DecodedPicture decoded = participant::decodeByFormat(header, c.data);
        EXPECT_EQ(decoded.kind, DecodedPicture::Kind::PictureFile) << c.name;
        EXPECT_EQ(decoded.picture.isNull(), !c.size.isValid()) << c.name;
        if (c.size.isValid()) {
            EXPECT_EQ(decoded.picture.size(), c.size) << c.name;
        }
    }
}

} // namespace
