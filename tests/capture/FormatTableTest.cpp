#include "CaptureTestSupport.h"

#include "platform/capture/Decompressor.h"

#include <cstring>

namespace capturetest {
namespace {

// Quadrants (red, green over blue, white): show a conversion that turns, mirrors or swaps colours.
QImage quadrants(int width, int height)
{
    QImage picture(width, height, QImage::Format_RGB32);
    const QRgb colours[2][2] = {{0xFFE02020, 0xFF20E020}, {0xFF2020E0, 0xFFE0E0E0}};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            picture.setPixel(x, y, colours[y >= height / 2][x >= width / 2]);
    return picture;
}

// Each row at an even and an odd size: encoded as its header says, decoded the right way round.
TEST(FormatTable, EveryRowRoundTripsThroughItsEncoderAndConversion)
{
    for (const FormatInfo &row : formatTable()) {
        for (const auto &[w, h] : {std::pair {64, 48}, std::pair {63, 47}}) {
            SCOPED_TRACE(std::string(row.name) + " " + std::to_string(w));
            const VideoFormat format = row.at(w, h);
            BITMAPINFOHEADER in = headerFor(format), out {};
            EXPECT_EQ(formatFromHeader(in), format);
            const QImage picture = quadrants(w, h);
            FrameEncoder encoder;
            std::vector<std::uint8_t> frame;
            ASSERT_TRUE(encoder.encode(format, viewOf(picture), frame));
            EXPECT_TRUE(row.raw() ? frame.size() == in.biSizeImage
                                  : frame.size() <= in.biSizeImage);
            // Parts are encoded alone only where pixels stand alone, and only inside the frame.
            const bool bitmap = row.compression == BI_RGB;
            std::vector<std::uint8_t> copy = frame;
            EXPECT_EQ(encoder.encodeArea(format, viewOf(picture), 1, 1, w - 1, h - 1, copy),
                      bitmap);
            EXPECT_EQ(copy, frame);
            EXPECT_FALSE(encoder.encodeArea(format, viewOf(picture), 1, 0, w, h, copy));
            EXPECT_FALSE(encoder.encode(format, viewOf(quadrants(w, h - 1)), copy));

            GuardedBuffer bits(dibStride(w, 24) * std::size_t(h));
            if (row.synonym)
                in.biCompression = row.synonym;
            const HIC hic = ICGetDisplayFormat(0, &in, &out, 0, 0, 0);
            EXPECT_EQ(hic == 0, bitmap) << "only bitmaps need no decompressor";
            if (bitmap) {
                // As any reader of bitmaps sees it: the bottom row first.
                const QImage view(frame.data(), w, h, qsizetype(dibStride(w, format.bitCount)),
                                  format.bitCount == 32       ? QImage::Format_RGB32
                                      : format.bitCount == 16 ? QImage::Format_RGB555
                                                              : QImage::Format_BGR888);
                const QRgb bottom = view.pixel(w / 4, 0), top = view.pixel(w / 4, h - 1);
                EXPECT_TRUE(near({qBlue(bottom), qGreen(bottom), qRed(bottom)}, kBlue));
                EXPECT_TRUE(near({qBlue(top), qGreen(top), qRed(top)}, kRed));
                ASSERT_EQ(FrameDecoder().decode(format, frame, bits.span()), ICERR_OK);
            } else {
                const BITMAPINFOHEADER bgr = headerFor({BI_RGB, 24, w, h});
                EXPECT_EQ(std::memcmp(&out, &bgr, sizeof out), 0);
                const std::span<const std::uint8_t> cut(frame.data(), frame.size() - 1);
                if (row.raw()) {
                    EXPECT_EQ(ICDecompress(hic, 0, &in, cut, &out, bits.span()), ICERR_BADSIZE);
                    EXPECT_TRUE(bits.untouchedFrom(0));
                }
                EXPECT_EQ(ICDecompress(hic, 0, &in, frame, &out, bits.span()), ICERR_OK);
                ICClose(hic);
            }
            EXPECT_TRUE(bits.untouchedFrom(bits.usable));
            const std::uint8_t *b = bits.bytes.data();
            // Memory row 0 is the picture's bottom row.
            EXPECT_TRUE(near(pixel(b, w, h - 1 - h / 4, w / 4), kRed));
            EXPECT_TRUE(near(pixel(b, w, h - 1 - h / 4, w - w / 4), Bgr {0x20, 0xE0, 0x20}));
            EXPECT_TRUE(near(pixel(b, w, h / 4, w / 4), kBlue));
            EXPECT_TRUE(near(pixel(b, w, h / 4, w - w / 4), Bgr {0xE0, 0xE0, 0xE0}));
        }
    }
}

TEST(FormatTable, FrameBytesFollowEachLayoutAndRefuseAbsurdSizes)
{
    const std::pair<VideoFormat, std::optional<std::uint32_t>> cases[] = {
        {{BI_RGB, 24, 175, 143}, 528u * 143}, // rows padded to 4
        {{BI_RGB, 16, 3, 2}, 8u * 2},
        {{FOURCC_YUYV, 16, 5, 2}, 12u * 2}, // an odd width still has whole pairs
        {{FOURCC_NV12, 12, 5, 3}, 15u + 2 * 3 * 2}, // chroma rounds up both ways
        {{FOURCC_MJPG, 24, 5, 3}, 16u * 3}, // bounded by the decoded frame
        {{BI_RGB, 8, 16, 16}, std::nullopt},
        {{BI_RGB, 24, 176, -144}, std::nullopt},
        {{BI_RGB, 32, 8192, 8192}, std::nullopt}, // past the frame limit
        {{BI_RGB, 24, 0x7FFFFFFF, 1}, std::nullopt},
        {{makeFourCC('H', '2', '6', '4'), 24, 640, 480}, std::nullopt},
    };
    for (const auto &[format, bytes] : cases)
        EXPECT_EQ(frameBytes(format), bytes) << format.width << "x" << format.height;
    // Headers lose the sign of a top-down height, which INT32_MIN does not have.
    BITMAPINFOHEADER header = headerFor({FOURCC_YUYV, 16, 320, 240});
    header.biHeight = -240;
    EXPECT_EQ(formatFromHeader(header), (VideoFormat {FOURCC_YUY2, 16, 320, 240}));
    header.biHeight = std::numeric_limits<std::int32_t>::min();
    EXPECT_FALSE(frameBytes(formatFromHeader(header)));
}

// The driver tests cover the wanted kind and the nearest size.
TEST(FormatTable, NearestFormatFallsBackToTheCurrentKindThenAnyAndTiesGoToTheLarger)
{
    const VideoFormat yuy2Small {FOURCC_YUY2, 16, 160, 120}, yuy2Vga {FOURCC_YUY2, 16, 640, 480};
    const VideoFormat mjpgVga {FOURCC_MJPG, 24, 640, 480}, mjpgHd {FOURCC_MJPG, 24, 1280, 720};
    const std::vector<VideoFormat> offered {yuy2Vga, yuy2Small, mjpgVga, mjpgHd};
    EXPECT_EQ(nearestFormat(offered, {BI_RGB, 24, 176, 144}, mjpgHd), mjpgVga);
    EXPECT_EQ(nearestFormat(offered, {BI_RGB, 24, 1, 1}, {BI_RGB, 24, 8, 8}), yuy2Small);
    const std::vector<VideoFormat> tie {{BI_RGB, 24, 100, 100}, {BI_RGB, 24, 300, 300}};
    EXPECT_EQ(nearestFormat(tie, {BI_RGB, 24, 200, 200}, tie[0]), tie[1]);
    EXPECT_FALSE(nearestFormat({}, mjpgVga, mjpgVga));
}

// Damaged streams that get past these checks are the decoder's to refuse.
TEST(FormatTable, JpegFrameCheckFindsDamagedAndForeignFrames)
{
    const std::vector<std::uint8_t> good = bandsFrame({FOURCC_MJPG, 24, 32, 16});
    auto edited = [&](auto change) {
        std::vector<std::uint8_t> copy = good;
        change(copy);
        return copy;
    };
    const std::pair<std::vector<std::uint8_t>, bool> cases[] = {
        {edited([](auto &f) { f.resize(f.size() + 100, 0); }), true}, // as cameras pad them
        {edited([](auto &f) { f[1] = 0xD9; }), false},
        {edited([](auto &f) { f[f.size() - 1] = 0xDA; }), false},
        {jpegtest::splitSegments(good, 0xC0).second, false},
        {edited([](auto &f) { f[4] = 0xFF; }), false}, // a segment longer than the frame
        {{0xFF, 0xD8, 0xFF, 0xD9}, false},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(jpegFrameLooksComplete(cases[i].first, 32, 16), cases[i].second) << i;
    EXPECT_FALSE(jpegFrameLooksComplete(good, 16, 32)) << "another size";
}

class DecompressorTest : public ::testing::Test
{
protected:
    ~DecompressorTest() override { std::for_each(opened.begin(), opened.end(), ICClose); }
    HIC open(const VideoFormat &format, BITMAPINFOHEADER *out)
    {
        const BITMAPINFOHEADER in = headerFor(format);
        return opened.emplace_back(ICGetDisplayFormat(0, &in, out, 0, 0, 0));
    }

    static std::int32_t decode(HIC hic, const VideoFormat &format,
                               std::span<const std::uint8_t> frame, GuardedBuffer &out,
                               BITMAPINFOHEADER bitmap = {})
    {
        const BITMAPINFOHEADER in = headerFor(format);
        if (bitmap.biSize == 0)
            bitmap = headerFor({BI_RGB, 24, format.width, format.height});
        return ICDecompress(hic, 0, &in, frame, &bitmap, out.span());
    }

    std::vector<HIC> opened;
};

// The round trip above decodes each format whole, and refuses raw frames cut short.
TEST_F(DecompressorTest, DamagedFramesAndShortOutputsFailAloneAndTheNextFrameDecodes)
{
    const VideoFormat mjpg {FOURCC_MJPG, 24, 64, 48};
    const std::vector<std::uint8_t> jpeg = bandsFrame(mjpg);
    const struct
    {
        const char *what;
        VideoFormat format;
        std::vector<std::uint8_t> frame;
        std::size_t outputShortBy;
        std::int32_t result;
    } cases[] = {
        {"JPEG cut short", mjpg, {jpeg.begin(), jpeg.end() - 40}, 0, ICERR_ERROR},
        // Without its quantisation tables a JPEG passes the frame check and fails in the decoder.
        {"JPEG without tables", mjpg, jpegtest::splitSegments(jpeg, 0xDB).second, 0, ICERR_ERROR},
        {"JPEG output one byte short", mjpg, jpeg, 1, ICERR_BADSIZE},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        BITMAPINFOHEADER out {};
        const HIC hic = open(c.format, &out);
        ASSERT_NE(hic, 0);
        GuardedBuffer bits(out.biSizeImage - c.outputShortBy);
        EXPECT_EQ(decode(hic, c.format, c.frame, bits), c.result);
        EXPECT_TRUE(bits.untouchedFrom(c.outputShortBy ? 0 : bits.usable));
        // The same decompressor takes the next, whole frame.
        GuardedBuffer next(out.biSizeImage);
        EXPECT_EQ(decode(hic, mjpg, jpeg, next), ICERR_OK);
        EXPECT_TRUE(near(pixel(next.bytes.data(), 64, 47, 32), kRed));
    }
}

TEST_F(DecompressorTest, UnusableFormatsAndClosedHandlesAreRefused)
{
    BITMAPINFOHEADER out {};
    for (const VideoFormat &unusable :
         {VideoFormat {makeFourCC('H', '2', '6', '4'), 24, 8, 8},
          VideoFormat {FOURCC_YUY2, 16, 0, 240}, VideoFormat {FOURCC_MJPG, 24, 100000, 100000}})
        EXPECT_EQ(open(unusable, &out), 0) << unusable.width;
    const VideoFormat yuy2 {FOURCC_YUY2, 16, 64, 48};
    const HIC hic = open(yuy2, &out);
    const std::vector<std::uint8_t> frame = bandsFrame(yuy2);
    GuardedBuffer bits(out.biSizeImage);
    // A top-down output is not the display format; nor is another input.
    BITMAPINFOHEADER topDown = out;
    topDown.biHeight = -48;
    EXPECT_EQ(decode(hic, yuy2, frame, bits, topDown), ICERR_BADFORMAT);
    EXPECT_EQ(decode(hic, {FOURCC_MJPG, 24, 64, 48}, frame, bits), ICERR_BADFORMAT);
    EXPECT_TRUE(bits.untouchedFrom(0));

    // A closed handle is gone for good, and a new one never takes its number.
    EXPECT_EQ(std::vector({ICClose(hic), ICClose(hic), decode(hic, yuy2, frame, bits)}),
              std::vector({ICERR_OK, ICERR_BADHANDLE, ICERR_BADHANDLE}));
    EXPECT_GT(open(yuy2, &out), hic);
}

// By-id name, then by-path name, then bus, card and node; cameras without names come last.
TEST(CameraOrder, FollowsPersistentNamesNotNodeNumbers)
{
    std::vector<CameraNode> cameras(5);
    const char *names[][4] = {{"/dev/video0", "", "", "usb-2"},
                              {"/dev/video1", "", "pci-usb-0:2", "usb-9"},
                              {"/dev/video2", "usb-Zeta", "pci-usb-0:1", "usb-1"},
                              {"/dev/video3", "usb-Alpha", "pci-usb-0:3", "usb-3"},
                              {"/dev/video4", "", "", "usb-1"}};
    for (std::size_t i = 0; i < cameras.size(); ++i) {
        cameras[i].node = {names[i][0], names[i][1], names[i][2]};
        cameras[i].info.busInfo = names[i][3];
    }
    sortCameras(cameras);
    std::string order;
    for (const CameraNode &c : cameras)
        order += c.node.devicePath.back();
    EXPECT_EQ(order, "32140");
}

} // namespace
} // namespace capturetest
