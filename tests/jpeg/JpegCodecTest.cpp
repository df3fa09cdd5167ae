#include "JpegTestSupport.h"

#include "platform/jpeg/Jpeg.h"

#include <QBuffer>

#include <gtest/gtest.h>

using namespace platform::jpeg;
using jpegtest::bottomUpBgr;
using jpegtest::meanAbsoluteError;
using jpegtest::testPicture;

namespace {

constexpr std::uint8_t sentinel = 0xA5;
constexpr std::size_t guardBytes = 4096;

bool guardIntact(const std::vector<std::uint8_t> &buffer, std::size_t from)
{
    for (std::size_t i = from; i < buffer.size(); ++i) {
        if (buffer[i] != sentinel)
            return false;
    }
    return true;
}

std::vector<std::uint8_t> encodeWithQt(const QImage &image, const char *format = "JPG")
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, 90);
    return {bytes.cbegin(), bytes.cend()};
}

std::vector<std::uint8_t> encodeOurs(const QImage &image, int stride)
{
    const std::vector<std::uint8_t> bits = bottomUpBgr(image, stride);
    Encoder encoder;
    std::vector<std::uint8_t> out(1 << 22);
    const auto length
        = encoder.encode({bits.data(), bits.size(), image.width(), image.height(), stride}, 70,
                         out.data(), out.size());
    out.resize(length.value_or(0));
    return out;
}

// Image, as the decoder writes it into a bottom-up buffer, read back upright.
QImage fromBottomUp(const std::vector<std::uint8_t> &bits, int w, int h, int stride)
{
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        const std::uint8_t *row = bits.data() + std::size_t(h - 1 - y) * stride;
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, qRgb(row[3 * x + 2], row[3 * x + 1], row[3 * x]));
    }
    return image;
}

} // namespace

TEST(JpegCodec, EncoderFailsRatherThanOverrunTheBuffer)
{
    const QImage picture = testPicture(64, 48);
    const int stride = 64 * 3;
    const std::vector<std::uint8_t> bits = bottomUpBgr(picture, stride);
    const ConstBgrBitmap source {bits.data(), bits.size(), 64, 48, stride};
    Encoder encoder;
    std::vector<std::uint8_t> reference(1 << 20);
    const auto length = encoder.encode(source, 70, reference.data(), reference.size());
    ASSERT_TRUE(length);

    // Capacities around the stream's exact length and far below it; the library's own worst-case
    // size is larger than all of these.
    for (std::size_t capacity : {*length - 1, *length, *length + 1, std::size_t(10), *length / 2}) {
        SCOPED_TRACE(capacity);
        std::vector<std::uint8_t> buffer(capacity + guardBytes, sentinel);
        const auto written = encoder.encode(source, 70, buffer.data(), capacity);
        EXPECT_TRUE(guardIntact(buffer, capacity));
        if (capacity >= *length) {
            ASSERT_TRUE(written);
            EXPECT_EQ(*written, *length);
            EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + *length, reference.begin()));
        } else {
            EXPECT_FALSE(written);
        }
        // The limit of the encoder-held stream follows the same rule.
        EXPECT_EQ(bool(encoder.encode(source, 70, capacity)), capacity >= *length);
    }
}

TEST(JpegCodec, EncoderRefusesUnusableInput)
{
    std::vector<std::uint8_t> bits(64 * 3 * 48);
    std::vector<std::uint8_t> out(1 << 20);
    Encoder encoder;
    struct Case
    {
        const char *name;
        ConstBgrBitmap source;
        int quality;
    };
    const Case cases[] = {
        {"stride below the row", {bits.data(), bits.size(), 64, 48, 64 * 3 - 1}, 70},
        {"rows beyond the source", {bits.data(), bits.size() - 1, 64, 48, 64 * 3}, 70},
        {"no pixels", {nullptr, 0, 64, 48, 64 * 3}, 70},
        {"zero width", {bits.data(), bits.size(), 0, 48, 64 * 3}, 70},
        {"quality out of range", {bits.data(), bits.size(), 64, 48, 64 * 3}, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(encoder.encode(c.source, c.quality, out.data(), out.size()));
    }
}

TEST(JpegCodec, HeaderReportsSizeAndChannels)
{
    Decoder decoder;
    const std::vector<std::uint8_t> colour = encodeWithQt(testPicture(33, 17));
    const auto header = decoder.readHeader(colour.data(), colour.size());
    ASSERT_TRUE(header);
    EXPECT_EQ(header->width, 33);
    EXPECT_EQ(header->height, 17);
    EXPECT_EQ(header->channels, 3);

    const std::vector<std::uint8_t> grey
        = encodeWithQt(testPicture(20, 10).convertToFormat(QImage::Format_Grayscale8));
    const auto greyHeader = decoder.readHeader(grey.data(), grey.size());
    ASSERT_TRUE(greyHeader);
    EXPECT_EQ(greyHeader->channels, 1);

    const std::uint8_t notJpeg[] = {'B', 'M', 0, 0, 0, 0, 0, 0};
    EXPECT_FALSE(decoder.readHeader(notJpeg, sizeof notJpeg));
    EXPECT_FALSE(decoder.readHeader(colour.data(), 0));
}

TEST(JpegCodec, HeaderWithAbsurdSizeIsRefused)
{
    std::vector<std::uint8_t> jpeg = encodeWithQt(testPicture(16, 16));
    // Patch the frame header (FF C0, length, precision, height, width) to 60000 x 60000.
    bool patched = false;
    for (std::size_t i = 0; i + 9 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && (jpeg[i + 1] == 0xC0 || jpeg[i + 1] == 0xC2)) {
            jpeg[i + 5] = 0xEA, jpeg[i + 6] = 0x60, jpeg[i + 7] = 0xEA, jpeg[i + 8] = 0x60;
            patched = true;
            break;
        }
    }
    ASSERT_TRUE(patched);
    Decoder decoder;
    EXPECT_FALSE(decoder.readHeader(jpeg.data(), jpeg.size()));
    std::vector<std::uint8_t> target(64, sentinel);
    EXPECT_FALSE(
        decoder.decode(jpeg.data(), jpeg.size(), {target.data(), 64, 60000, 60000, 180000}));
    EXPECT_TRUE(guardIntact(target, 0));
}

TEST(JpegCodec, DecodesIntoPaddedBottomUpRowsAndLeavesThePaddingAlone)
{
    const QImage picture = testPicture(175, 143);
    const std::vector<std::uint8_t> jpeg = encodeWithQt(picture);
    const QImage reference = QImage::fromData(jpeg.data(), int(jpeg.size()), "JPG");
    const int stride = 528;
    std::vector<std::uint8_t> buffer(std::size_t(stride) * 143 + guardBytes, sentinel);
    Decoder decoder;
    ASSERT_TRUE(decoder.decode(jpeg.data(), jpeg.size(),
                               {buffer.data(), std::size_t(stride) * 143, 175, 143, stride}));
    EXPECT_TRUE(guardIntact(buffer, std::size_t(stride) * 143));
    for (int row = 0; row < 143; ++row) {
        for (int pad = 175 * 3; pad < stride; ++pad)
            ASSERT_EQ(buffer[std::size_t(row) * stride + pad], sentinel) << row;
    }
    const QImage decoded = fromBottomUp(buffer, 175, 143, stride);
    EXPECT_LT(meanAbsoluteError(decoded, reference), 1.5);
    EXPECT_GT(qRed(decoded.pixel(80, 2)), 180);
}

TEST(JpegCodec, DecoderRefusesTargetsItCannotFillAndDamagedStreams)
{
    const std::vector<std::uint8_t> jpeg = encodeOurs(testPicture(64, 48), 64 * 3);
    ASSERT_FALSE(jpeg.empty());
    const std::size_t exact = 64 * 3 * 48;
    struct Case
    {
        const char *name;
        std::size_t streamBytes;
        int width, height, stride;
        std::size_t capacity;
    };
    const Case cases[] = {
        {"buffer one byte short", jpeg.size(), 64, 48, 64 * 3, exact - 1},
        {"stride below the row", jpeg.size(), 64, 48, 64 * 3 - 1, exact},
        {"size other than the stream's", jpeg.size(), 32, 24, 32 * 3, exact},
        {"stream cut in half", jpeg.size() / 2, 64, 48, 64 * 3, exact},
        {"stream without its end", jpeg.size() - 2, 64, 48, 64 * 3, exact},
        {"only the first bytes", 20, 64, 48, 64 * 3, exact},
    };
    Decoder decoder;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint8_t> buffer(c.capacity + guardBytes, sentinel);
        EXPECT_FALSE(decoder.decode(jpeg.data(), c.streamBytes,
                                    {buffer.data(), c.capacity, c.width, c.height, c.stride}));
        EXPECT_TRUE(guardIntact(buffer, c.capacity));
    }
    // A header read that stops inside a damaged stream leaves the same decoder usable.
    EXPECT_FALSE(decoder.readHeader(jpeg.data(), 20));
    EXPECT_TRUE(decoder.readHeader(jpeg.data(), jpeg.size()));
    // And the intact stream decodes into the exact buffer.
    std::vector<std::uint8_t> buffer(exact + guardBytes, sentinel);
    EXPECT_TRUE(decoder.decode(jpeg.data(), jpeg.size(), {buffer.data(), exact, 64, 48, 64 * 3}));
    EXPECT_TRUE(guardIntact(buffer, exact));
}
