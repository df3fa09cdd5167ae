#include "JpegTestSupport.h"

#include "dib/SurfaceTestSupport.h"
#include "exchange/EncodeJpeg.h"
#include "platform/jpeg/Jpeg.h"
#include "support/TraceCapture.h"
#include "support/cDibSection.h"

#include <gtest/gtest.h>

using namespace jpegtest;
using namespace platform::jpeg;

namespace {

const Bytes rows = bottomUpBgr(testPicture(64, 48), 64 * 3);
const ConstBgrBitmap source {rows.data(), rows.size(), 64, 48, 64 * 3};

Bytes encoded()
{
    Encoder encoder; // the stream lives in the encoder
    const auto stream = encoder.encode(source, 70, 1 << 20);
    return stream ? Bytes(stream->begin(), stream->end()) : Bytes();
}

void load(cDibSection &frame, const QImage &picture, int bits)
{
    ASSERT_TRUE(frame.Create(picture.width(), picture.height(), bits));
    surfacetest::Registered surface(picture);
    frame.LoadPictureBlt(surface.dc, 0, 0, -1, -1, platform::gdi::SRCCOPY);
}

} // namespace

TEST(JpegCodec, EncoderFailsRatherThanOverrunTheBufferOrItsLimit)
{
    const Bytes whole = encoded();
    ASSERT_FALSE(whole.empty());
    Encoder encoder;
    // The library's own worst-case size is larger than all of these.
    for (std::size_t capacity : {whole.size() - 1, whole.size(), std::size_t(10)}) {
        SCOPED_TRACE(capacity);
        GuardedBuffer out(capacity);
        const bool fits = capacity >= whole.size();
        EXPECT_EQ(encoder.encode(source, 70, out.bytes.data(), capacity).has_value(), fits);
        EXPECT_TRUE(out.untouchedFrom(capacity)
                    && (!fits || std::equal(whole.begin(), whole.end(), out.bytes.begin())));
        EXPECT_EQ(encoder.encode(source, 70, capacity).has_value(), fits);
    }
}

TEST(JpegCodec, DecodesIntoPaddedBottomUpRowsAndLeavesThePaddingAlone)
{
    const Bytes jpeg = pictureFile(testPicture(175, 143));
    const std::size_t stride = 528;
    GuardedBuffer target(stride * 143);
    ASSERT_TRUE(Decoder().decode(jpeg.data(), jpeg.size(),
                                 {target.bytes.data(), target.usable, 175, 143, int(stride)}));
    EXPECT_TRUE(target.untouchedFrom(target.usable));
    for (std::size_t row = 0; row < 143; ++row) // three bytes of padding after 175 pixels
        ASSERT_EQ(Bytes(&target.bytes[row * stride + 525], &target.bytes[(row + 1) * stride]),
                  Bytes(3, 0xA5))
            << "row " << row;
    // Qt's reader decodes the same stream to compare with.
    const QImage decoded(target.bytes.data(), 175, 143, int(stride), QImage::Format_BGR888);
    EXPECT_LT(meanAbsoluteError(decoded.mirrored(),
                                QImage::fromData(jpeg.data(), int(jpeg.size()), "JPG")),
              1.5);
}

TEST(JpegCodec, DecoderRefusesTargetsItCannotFillDamagedStreamsAndAbsurdSizes)
{
    const Bytes jpeg = encoded();
    // The frame header (FF C0, length, precision, height, width) patched to 60000 x 60000.
    Bytes huge = jpeg;
    const std::uint8_t startOfFrame[] = {0xFF, 0xC0}, size[] = {0xEA, 0x60, 0xEA, 0x60};
    const auto frame = std::search(huge.begin(), huge.end(), startOfFrame, startOfFrame + 2);
    ASSERT_LT(frame + 9, huge.end());
    std::copy_n(size, 4, frame + 5);
    Decoder decoder;
    EXPECT_FALSE(decoder.readHeader(huge.data(), huge.size()));

    const std::size_t exact = 64 * 3 * 48;
    const struct
    {
        const char *name;
        const Bytes &stream;
        std::size_t streamBytes;
        int width, height, stride;
        std::size_t capacity;
    } cases[] = {
        {"buffer one byte short", jpeg, jpeg.size(), 64, 48, 64 * 3, exact - 1},
        {"stride below the row", jpeg, jpeg.size(), 64, 48, 64 * 3 - 1, exact},
        {"size other than the stream's", jpeg, jpeg.size(), 32, 24, 32 * 3, exact},
        {"stream cut in half", jpeg, jpeg.size() / 2, 64, 48, 64 * 3, exact},
        {"stream without its end", jpeg, jpeg.size() - 2, 64, 48, 64 * 3, exact},
        {"only the first bytes", jpeg, 20, 64, 48, 64 * 3, exact},
        {"huge size", huge, huge.size(), 60000, 60000, 180000, 64},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        GuardedBuffer target(c.capacity);
        EXPECT_FALSE(
            decoder.decode(c.stream.data(), c.streamBytes,
                           {target.bytes.data(), c.capacity, c.width, c.height, c.stride}));
        EXPECT_TRUE(target.untouchedFrom(c.capacity));
    }
}

// The quality shows in the stream's quantisation tables: those another encoder writes for 70.
TEST(EncodeJpeg, FramesOfEveryDepthEncodeUprightAtTheirOwnSizeAtQuality70)
{
    const auto tablesAt = [](int quality) {
        return splitSegments(pictureFile(testPicture(8, 8), "JPG", quality), 0xDB).first;
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
        const QImage picture = testPicture(c.width, c.height);
        cDibSection frame;
        load(frame, picture, c.bits);
        const Bytes jpeg = EncodeJpeg(frame, false);
        ASSERT_GT(jpeg.size(), 2u);
        EXPECT_EQ(jpeg.back(), 0xD9); // complete stream: ends in its end marker
        EXPECT_EQ(splitSegments(jpeg, 0xDB).first, quality70);
        const QImage decoded = QImage::fromData(jpeg.data(), int(jpeg.size()), "JPG");
        ASSERT_EQ(decoded.size(), QSize(c.width, c.height));
        // Upside down, the red and blue bands would be far apart.
        EXPECT_LT(meanAbsoluteError(decoded, picture), c.maxError);
    }
}

using EncodeJpegTrace = testenv::TraceCaptureTest;

TEST_F(EncodeJpegTrace, FailuresGiveNothingAndOnlyCameraFramesTrace)
{
    cDibSection never, cleared, tiny;
    ASSERT_TRUE(cleared.Create(16, 16, 16));
    cleared.ClearUp();
    EXPECT_TRUE(EncodeJpeg(never, true).empty() && EncodeJpeg(cleared, true).empty());
    // The stream may be no longer than the bitmap: 8 x 8 pixels are fewer bytes than its headers.
    load(tiny, testPicture(8, 8), 24);
    EXPECT_TRUE(EncodeJpeg(tiny, true).empty());
    EXPECT_EQ(captured(), "WebCam tmrMain - JPG Convert Start\nWebCam tmrMain - JPG Convert End\n");
}
