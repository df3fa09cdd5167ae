#include "JpegTestSupport.h"

#include "dib/SurfaceTestSupport.h"
#include "exchange/EncodeJpeg.h"
#include "support/TraceCapture.h"
#include "support/cDibSection.h"

#include <gtest/gtest.h>

using jpegtest::Bytes;

namespace {

void load(cDibSection &frame, const QImage &picture, int bits)
{
    ASSERT_TRUE(frame.Create(picture.width(), picture.height(), bits));
    surfacetest::Registered source(picture);
    frame.LoadPictureBlt(source.dc, 0, 0, -1, -1, platform::gdi::SRCCOPY);
}

// The quantisation table segments of a JPEG stream, in stream order.
Bytes quantisationTables(const Bytes &jpeg)
{
    return jpegtest::splitSegments(jpeg, 0xDB).first;
}

} // namespace

// The quality shows in the stream's quantisation tables: those another encoder writes for 70.
TEST(EncodeJpeg, FramesOfEveryDepthEncodeUprightAtTheirOwnSizeAtQuality70)
{
    const auto tablesAt = [](int quality) {
        return quantisationTables(
            jpegtest::pictureFile(jpegtest::testPicture(8, 8), "JPG", quality));
    };
    const Bytes quality70 = tablesAt(70);
    ASSERT_FALSE(quality70.empty());
    EXPECT_NE(tablesAt(71), quality70);
    const struct
    {
        int width, height, bits;
        double maxError;
    } cases[] = {
        {175, 143, 24, 4.0}, // 3 bytes of padding a row
        // 16 bits keep five bits a component, so the copy is coarser before the encoder sees it.
        {176, 144, 16, 7.0},
        {175, 143, 32, 4.0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << "x" << c.bits);
        const QImage picture = jpegtest::testPicture(c.width, c.height);
        cDibSection frame;
        load(frame, picture, c.bits);
        const Bytes jpeg = EncodeJpeg(frame, false);
        ASSERT_GT(jpeg.size(), 2u);
        EXPECT_EQ(jpeg.back(), 0xD9); // complete stream: ends in its end marker
        EXPECT_EQ(quantisationTables(jpeg), quality70);
        const QImage decoded = QImage::fromData(jpeg.data(), int(jpeg.size()), "JPG");
        ASSERT_EQ(decoded.size(), QSize(c.width, c.height));
        // Upside down, the red and blue bands would be far apart.
        EXPECT_LT(jpegtest::meanAbsoluteError(decoded, picture), c.maxError);
    }
}

using EncodeJpegTrace = testenv::TraceCaptureTest;

// Held pictures are encoded too, without the camera's trace lines.
TEST_F(EncodeJpegTrace, FailuresGiveNothingAndOnlyCameraFramesTrace)
{
    cDibSection never, cleared, frame, tiny;
    ASSERT_TRUE(cleared.Create(16, 16, 16));
    cleared.ClearUp();
    EXPECT_TRUE(EncodeJpeg(never, true).empty());
    EXPECT_TRUE(EncodeJpeg(cleared, true).empty());
    load(frame, jpegtest::testPicture(32, 32), 24);
    EXPECT_FALSE(EncodeJpeg(frame, false).empty());
    EXPECT_EQ(captured(), "");
    // The stream may be no longer than the bitmap: 8 x 8 pixels are fewer bytes than its headers.
    load(tiny, jpegtest::testPicture(8, 8), 24);
    EXPECT_TRUE(EncodeJpeg(tiny, true).empty());
    EXPECT_EQ(captured(), "WebCam tmrMain - JPG Convert Start\nWebCam tmrMain - JPG Convert End\n");
}
