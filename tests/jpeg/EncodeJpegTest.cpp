#include "JpegTestSupport.h"

#include "dib/SurfaceTestSupport.h"
#include "exchange/EncodeJpeg.h"
#include "support/TraceCapture.h"
#include "support/cDibSection.h"

#include <gtest/gtest.h>

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
