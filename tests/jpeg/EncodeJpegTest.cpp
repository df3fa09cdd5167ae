#include "JpegTestSupport.h"

#include "dib/SurfaceTestSupport.h"
#include "exchange/EncodeJpeg.h"
#include "support/TraceCapture.h"
#include "support/cDibSection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using jpegtest::Bytes;
using surfacetest::Registered;

namespace {

// A bitmap of noise: no JPEG stream of it is as short as the bitmap itself.
void fillWithNoise(cDibSection &frame)
{
    ASSERT_TRUE(frame.Create(8, 8, 24));
    surfacetest::fillRandom(frame.DIBSectionBitsPtr(), frame.TotalBytes(), 3);
}

} // namespace

TEST(EncodeJpeg, FramesOfEveryDepthEncodeUprightAtTheirOwnSize)
{
    struct Case
    {
        int width, height, bits;
        int padBytes; // only meaningful at 24 bits
        double maxError;
    };
    const Case cases[] = {
        {176, 144, 24, 0, 4.0},
        {174, 144, 24, 2, 4.0},
        {175, 144, 24, 3, 4.0},
        // 16 bits keep five bits a component, so the copy is coarser before the encoder sees it.
        {176, 144, 16, -1, 7.0},
        {175, 143, 32, -1, 4.0},
        // Narrow: 21 bytes of pixels and 3 of padding a row.
        {7, 144, 24, 3, 6.0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << "x" << c.bits);
        const QImage picture = jpegtest::testPicture(c.width, c.height);
        Registered source(picture);
        cDibSection frame;
        ASSERT_TRUE(frame.Create(c.width, c.height, c.bits));
        frame.LoadPictureBlt(source.dc, 0, 0, -1, -1, platform::gdi::SRCCOPY);
        if (c.padBytes >= 0) {
            EXPECT_EQ(frame.BytesPerScanLine() - 3 * c.width, c.padBytes);
        }
        const Bytes jpeg = EncodeJpeg(frame, false);
        ASSERT_GT(jpeg.size(), 2u);
        EXPECT_EQ(jpeg.back(), 0xD9); // complete stream: ends in its end marker
        const QImage decoded = QImage::fromData(jpeg.data(), int(jpeg.size()), "JPG");
        ASSERT_EQ(decoded.size(), QSize(c.width, c.height));
        EXPECT_LT(jpegtest::meanAbsoluteError(decoded, picture), c.maxError);
        EXPECT_GT(qRed(decoded.pixel(c.width / 2, 3)), 180);
        EXPECT_GT(qBlue(decoded.pixel(c.width / 2, c.height - 4)), 180);
    }
}

// The quality shows in the stream's quantisation tables: the standard tables scaled for 70.
TEST(EncodeJpeg, QuantisationTablesAreThoseOfQuality70)
{
    const QImage picture = jpegtest::testPicture(64, 48);
    Registered source(picture);
    cDibSection frame;
    ASSERT_TRUE(frame.Create(64, 48, 24));
    frame.LoadPictureBlt(source.dc, 0, 0, -1, -1, platform::gdi::SRCCOPY);
    const Bytes jpeg = EncodeJpeg(frame, false);
    ASSERT_GT(jpeg.size(), 100u);
    // The standard luminance and chrominance tables, in any order.
    const int luminance[64]
        = {16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
           14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
           18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
           49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
    const int chrominance[64]
        = {17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99, 24, 26, 56, 99, 99, 99,
           99, 99, 47, 66, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
           99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};
    const auto scaled = [](const int(&table)[64], int quality) {
        const int scale = quality < 50 ? 5000 / quality : 200 - 2 * quality;
        std::vector<int> out;
        for (int v : table)
            out.push_back(std::clamp((v * scale + 50) / 100, 1, 255));
        std::sort(out.begin(), out.end());
        return out;
    };
    std::vector<std::vector<int>> tables;
    for (std::size_t i = 2; i + 4 < jpeg.size();) {
        if (jpeg[i] != 0xFF)
            break;
        const std::size_t length = std::size_t(jpeg[i + 2]) << 8 | jpeg[i + 3];
        if (jpeg[i + 1] == 0xDB) {
            for (std::size_t t = i + 4; t + 65 <= i + 2 + length; t += 65) {
                std::vector<int> values(jpeg.begin() + std::ptrdiff_t(t) + 1,
                                        jpeg.begin() + std::ptrdiff_t(t) + 65);
                std::sort(values.begin(), values.end());
                tables.push_back(values);
            }
        }
        if (jpeg[i + 1] == 0xDA)
            break;
        i += 2 + length;
    }
    ASSERT_EQ(tables.size(), 2u);
    EXPECT_EQ(tables[0], scaled(luminance, 70));
    EXPECT_EQ(tables[1], scaled(chrominance, 70));
    EXPECT_NE(scaled(luminance, 69), scaled(luminance, 70)); // the check can tell them apart
}

TEST(EncodeJpeg, NoBitmapOrAStreamLongerThanTheBitmapGivesNothing)
{
    cDibSection never;
    EXPECT_TRUE(EncodeJpeg(never, true).empty());
    cDibSection cleared;
    ASSERT_TRUE(cleared.Create(16, 16, 16));
    cleared.ClearUp();
    EXPECT_TRUE(EncodeJpeg(cleared, true).empty());
    cDibSection noisy;
    fillWithNoise(noisy);
    EXPECT_TRUE(EncodeJpeg(noisy, false).empty());
}

using EncodeJpegTrace = testenv::TraceCaptureTest;

TEST_F(EncodeJpegTrace, OnlyCameraFramesTraceAndOnlyWhileDebugging)
{
    const std::string both
        = "WebCam tmrMain - JPG Convert Start\nWebCam tmrMain - JPG Convert End\n";
    cDibSection frame;
    ASSERT_TRUE(frame.Create(32, 32, 24));
    cDibSection noisy;
    fillWithNoise(noisy);
    const struct
    {
        cDibSection &frame;
        bool camera, debug;
        std::string expected; // a failed camera frame still closes its trace
    } cases[] = {{frame, true, true, both},
                 {frame, false, true, ""},
                 {frame, true, false, ""},
                 {noisy, true, true, both}};
    for (const auto &c : cases) {
        DebugTrace::setDebugFlag(c.debug);
        platform::TraceSink::startCapture();
        EXPECT_EQ(EncodeJpeg(c.frame, c.camera).empty(), &c.frame == &noisy);
        EXPECT_EQ(captured(), c.expected) << c.camera << c.debug;
    }
}
