#include "JpegTestSupport.h"

#include "platform/jpeg/Jpeg.h"

#include <gtest/gtest.h>

using namespace platform::jpeg;
using jpegtest::Bytes;
using jpegtest::GuardedBuffer;
using jpegtest::testPicture;

namespace {

const Bytes bits = jpegtest::bottomUpBgr(testPicture(64, 48), 64 * 3);
const ConstBgrBitmap source {bits.data(), bits.size(), 64, 48, 64 * 3};

Bytes encoded()
{
    Encoder encoder; // the stream lives in the encoder
    const auto stream = encoder.encode(source, 70, 1 << 20);
    return stream ? Bytes(stream->begin(), stream->end()) : Bytes();
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
        EXPECT_TRUE(out.untouchedFrom(capacity));
        EXPECT_TRUE(!fits || std::equal(whole.begin(), whole.end(), out.bytes.begin()));
        EXPECT_EQ(encoder.encode(source, 70, capacity).has_value(), fits);
    }
}

TEST(JpegCodec, DecodesIntoPaddedBottomUpRowsAndLeavesThePaddingAlone)
{
    const Bytes jpeg = jpegtest::pictureFile(testPicture(175, 143));
    const int stride = 528;
    // Qt's reader decodes the same stream to compare with.
    const Bytes expected
        = jpegtest::bottomUpBgr(QImage::fromData(jpeg.data(), int(jpeg.size()), "JPG"), stride);
    GuardedBuffer target(expected.size());
    ASSERT_TRUE(Decoder().decode(jpeg.data(), jpeg.size(),
                                 {target.bytes.data(), target.usable, 175, 143, stride}));
    EXPECT_TRUE(target.untouchedFrom(target.usable));
    double difference = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (i % std::size_t(stride) < 175 * 3)
            difference += std::abs(int(expected[i]) - int(target.bytes[i]));
        else
            ASSERT_EQ(target.bytes[i], 0xA5) << "padding byte " << i;
    }
    EXPECT_LT(difference / (175.0 * 3 * 143), 1.5);
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
