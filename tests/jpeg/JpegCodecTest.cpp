#include "JpegTestSupport.h"

#include "platform/jpeg/Jpeg.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace platform::jpeg;
using jpegtest::Bytes;
using jpegtest::testPicture;

namespace {

constexpr std::uint8_t sentinel = 0xA5;
constexpr std::size_t guardBytes = 4096;

// A buffer of capacity bytes followed by a guard that must stay untouched.
struct Guarded
{
    explicit Guarded(std::size_t size) : capacity(size), bytes(size + guardBytes, sentinel) { }
    bool guardIntact() const
    {
        return std::all_of(bytes.begin() + std::ptrdiff_t(capacity), bytes.end(),
                           [](std::uint8_t b) { return b == sentinel; });
    }
    std::size_t capacity;
    Bytes bytes;
};

} // namespace

TEST(JpegCodec, EncoderFailsRatherThanOverrunTheBuffer)
{
    const Bytes bits = jpegtest::bottomUpBgr(testPicture(64, 48), 64 * 3);
    const ConstBgrBitmap source {bits.data(), bits.size(), 64, 48, 64 * 3};
    Encoder encoder;
    Bytes reference(1 << 20);
    const auto length = encoder.encode(source, 70, reference.data(), reference.size());
    ASSERT_TRUE(length);

    // The library's own worst-case size is larger than all of these.
    for (std::size_t capacity : {*length - 1, *length, std::size_t(10)}) {
        SCOPED_TRACE(capacity);
        Guarded out(capacity);
        const auto written = encoder.encode(source, 70, out.bytes.data(), capacity);
        EXPECT_TRUE(out.guardIntact());
        EXPECT_EQ(written.has_value(), capacity >= *length);
        if (written) {
            EXPECT_TRUE(std::equal(reference.begin(), reference.begin() + std::ptrdiff_t(*length),
                                   out.bytes.begin()));
        }
        // The limit of the encoder-held stream follows the same rule.
        EXPECT_EQ(bool(encoder.encode(source, 70, capacity)), capacity >= *length);
    }
}

TEST(JpegCodec, EncoderRefusesUnusableInput)
{
    Bytes bits(64 * 3 * 48);
    Bytes out(1 << 20);
    Encoder encoder;
    const struct
    {
        const char *name;
        ConstBgrBitmap source;
        int quality;
    } cases[] = {
        {"stride below the row", {bits.data(), bits.size(), 64, 48, 64 * 3 - 1}, 70},
        {"rows beyond the source", {bits.data(), bits.size() - 1, 64, 48, 64 * 3}, 70},
        {"no pixels", {nullptr, 0, 64, 48, 64 * 3}, 70},
        {"zero width", {bits.data(), bits.size(), 0, 48, 64 * 3}, 70},
        {"quality out of range", {bits.data(), bits.size(), 64, 48, 64 * 3}, 0},
    };
    for (const auto &c : cases)
        EXPECT_FALSE(encoder.encode(c.source, c.quality, out.data(), out.size())) << c.name;
}

TEST(JpegCodec, HeaderReportsSizeAndChannelsAndRefusesAbsurdSizes)
{
    Decoder decoder;
    const Bytes colour = jpegtest::pictureFile(testPicture(33, 17));
    const auto header = decoder.readHeader(colour.data(), colour.size());
    ASSERT_TRUE(header);
    EXPECT_EQ(QSize(header->width, header->height), QSize(33, 17));
    EXPECT_EQ(header->channels, 3);
    const Bytes grey
        = jpegtest::pictureFile(testPicture(20, 10).convertToFormat(QImage::Format_Grayscale8));
    EXPECT_EQ(decoder.readHeader(grey.data(), grey.size())->channels, 1);
    const std::uint8_t notJpeg[] = {'B', 'M', 0, 0, 0, 0, 0, 0};
    EXPECT_FALSE(decoder.readHeader(notJpeg, sizeof notJpeg));

    // The frame header (FF C0, length, precision, height, width) patched to 60000 x 60000.
    Bytes huge = colour;
    const std::uint8_t startOfFrame[] = {0xFF, 0xC0}, size[] = {0xEA, 0x60, 0xEA, 0x60};
    const auto frame = std::search(huge.begin(), huge.end(), startOfFrame, startOfFrame + 2);
    ASSERT_LT(frame + 9, huge.end());
    std::copy_n(size, 4, frame + 5);
    EXPECT_FALSE(decoder.readHeader(huge.data(), huge.size()));
    Guarded target(64);
    EXPECT_FALSE(decoder.decode(huge.data(), huge.size(),
                                {target.bytes.data(), target.capacity, 60000, 60000, 180000}));
    EXPECT_TRUE(target.guardIntact());
}

TEST(JpegCodec, DecodesIntoPaddedBottomUpRowsAndLeavesThePaddingAlone)
{
    const Bytes jpeg = jpegtest::pictureFile(testPicture(175, 143));
    const int stride = 528;
    // Qt's reader decodes the same stream to compare with.
    const Bytes expected
        = jpegtest::bottomUpBgr(QImage::fromData(jpeg.data(), int(jpeg.size()), "JPG"), stride);
    Guarded target(expected.size());
    Decoder decoder;
    ASSERT_TRUE(decoder.decode(jpeg.data(), jpeg.size(),
                               {target.bytes.data(), target.capacity, 175, 143, stride}));
    EXPECT_TRUE(target.guardIntact());
    double difference = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (i % std::size_t(stride) < 175 * 3)
            difference += std::abs(int(expected[i]) - int(target.bytes[i]));
        else
            ASSERT_EQ(target.bytes[i], sentinel) << "padding byte " << i;
    }
    EXPECT_LT(difference / (175.0 * 3 * 143), 1.5);
}

TEST(JpegCodec, DecoderRefusesTargetsItCannotFillAndDamagedStreams)
{
    const Bytes bits = jpegtest::bottomUpBgr(testPicture(64, 48), 64 * 3);
    Encoder encoder;
    const auto encoded = encoder.encode({bits.data(), bits.size(), 64, 48, 64 * 3}, 70, 1 << 20);
    ASSERT_TRUE(encoded);
    const Bytes jpeg(encoded->begin(), encoded->end());
    const std::size_t exact = 64 * 3 * 48;
    const struct
    {
        const char *name;
        std::size_t streamBytes;
        int width, height, stride;
        std::size_t capacity;
    } cases[] = {
        {"buffer one byte short", jpeg.size(), 64, 48, 64 * 3, exact - 1},
        {"stride below the row", jpeg.size(), 64, 48, 64 * 3 - 1, exact},
        {"size other than the stream's", jpeg.size(), 32, 24, 32 * 3, exact},
        {"stream cut in half", jpeg.size() / 2, 64, 48, 64 * 3, exact},
        {"stream without its end", jpeg.size() - 2, 64, 48, 64 * 3, exact},
        {"only the first bytes", 20, 64, 48, 64 * 3, exact},
    };
    Decoder decoder;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Guarded target(c.capacity);
        EXPECT_FALSE(
            decoder.decode(jpeg.data(), c.streamBytes,
                           {target.bytes.data(), c.capacity, c.width, c.height, c.stride}));
        EXPECT_TRUE(target.guardIntact());
    }
    // A header read that stops inside a damaged stream leaves the same decoder usable.
    EXPECT_FALSE(decoder.readHeader(jpeg.data(), 20));
    EXPECT_TRUE(decoder.readHeader(jpeg.data(), jpeg.size()));
    Guarded target(exact);
    EXPECT_TRUE(
        decoder.decode(jpeg.data(), jpeg.size(), {target.bytes.data(), exact, 64, 48, 64 * 3}));
    EXPECT_TRUE(target.guardIntact());
}
