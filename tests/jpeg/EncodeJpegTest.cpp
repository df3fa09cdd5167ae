#include "JpegTestSupport.h"

#include "automation/DebugTrace.h"
#include "dib/SurfaceTestSupport.h"
#include "exchange/EncodeJpeg.h"
#include "platform/core/TraceSink.h"
#include "support/cDibSection.h"

#include <gtest/gtest.h>

using jpegtest::meanAbsoluteError;
using jpegtest::testPicture;
using surfacetest::fillRandom;
using surfacetest::Registered;

namespace {

QImage decode(const std::vector<std::uint8_t> &jpeg)
{
    return QImage::fromData(jpeg.data(), int(jpeg.size()), "JPG");
}

// Trace records written while f runs, with the debug flag set as given.
template<class F> std::string traced(bool debug, F f)
{
    const bool before = DebugTrace::DebugFlag();
    DebugTrace::setDebugFlag(debug);
    platform::TraceSink::startCapture();
    f();
    std::string records = platform::TraceSink::captured();
    platform::TraceSink::stopCapture();
    DebugTrace::setDebugFlag(before);
    return records;
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
        {320, 240, 24, 0, 4.0},
        // Narrow: 21 bytes of pixels and 3 of padding a row.
        {7, 144, 24, 3, 6.0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << "x" << c.bits);
        const QImage picture = testPicture(c.width, c.height);
        Registered source(picture);
        cDibSection frame;
        ASSERT_TRUE(frame.Create(c.width, c.height, c.bits));
        frame.LoadPictureBlt(source.dc, 0, 0, -1, -1, platform::gdi::SRCCOPY);
        if (c.padBytes >= 0) {
            EXPECT_EQ(frame.BytesPerScanLine() - 3 * c.width, c.padBytes);
        }

        const std::vector<std::uint8_t> jpeg = EncodeJpeg(frame, false);
        ASSERT_FALSE(jpeg.empty());
        EXPECT_LE(jpeg.size(), std::size_t(frame.TotalBytes()));
        EXPECT_EQ(jpeg[0], 0xFF);
        EXPECT_EQ(jpeg[1], 0xD8);
        EXPECT_EQ(jpeg[jpeg.size() - 2], 0xFF); // complete stream: ends in its end marker
        EXPECT_EQ(jpeg[jpeg.size() - 1], 0xD9);
        const QImage decoded = decode(jpeg);
        ASSERT_EQ(decoded.size(), QSize(c.width, c.height));
        EXPECT_LT(meanAbsoluteError(decoded, picture), c.maxError);
        EXPECT_GT(qRed(decoded.pixel(c.width / 2, 3)), 180);
        EXPECT_GT(qBlue(decoded.pixel(c.width / 2, c.height - 4)), 180);
    }
}

TEST(EncodeJpeg, StreamThatWouldNotFitTheBitmapsSizeFails)
{
    // Noise in an 8 x 8 bitmap of 192 bytes: no JPEG stream of it is that short.
    cDibSection frame;
    ASSERT_TRUE(frame.Create(8, 8, 24));
    fillRandom(frame.DIBSectionBitsPtr(), frame.TotalBytes(), 3);
    EXPECT_TRUE(EncodeJpeg(frame, false).empty());
}

TEST(EncodeJpeg, EmptyBitmapGivesNothing)
{
    cDibSection never;
    EXPECT_TRUE(EncodeJpeg(never, true).empty());
    cDibSection cleared;
    ASSERT_TRUE(cleared.Create(16, 16, 16));
    cleared.ClearUp();
    EXPECT_TRUE(EncodeJpeg(cleared, true).empty());
}

TEST(EncodeJpeg, OnlyCameraFramesTraceAndOnlyWhileDebugging)
{
    cDibSection frame;
    ASSERT_TRUE(frame.Create(32, 32, 24));
    const std::string both
        = "WebCam tmrMain - JPG Convert Start\nWebCam tmrMain - JPG Convert End\n";
    EXPECT_EQ(traced(true, [&] { EXPECT_FALSE(EncodeJpeg(frame, true).empty()); }), both);
    EXPECT_EQ(traced(true, [&] { EXPECT_FALSE(EncodeJpeg(frame, false).empty()); }), "");
    EXPECT_EQ(traced(false, [&] { EXPECT_FALSE(EncodeJpeg(frame, true).empty()); }), "");

    // A failed encoding of a camera frame still closes its trace.
    cDibSection noisy;
    ASSERT_TRUE(noisy.Create(8, 8, 24));
    fillRandom(noisy.DIBSectionBitsPtr(), noisy.TotalBytes(), 4);
    EXPECT_EQ(traced(true, [&] { EXPECT_TRUE(EncodeJpeg(noisy, true).empty()); }), both);
}
