#include "CaptureTestSupport.h"

#include "platform/capture/Decompressor.h"

namespace capturetest {
namespace {

class DecompressorTest : public ::testing::Test
{
protected:
    ~DecompressorTest() override { std::for_each(opened.begin(), opened.end(), ICClose); }
    HIC open(const VideoFormat &format, BITMAPINFOHEADER *out)
    {
        const BITMAPINFOHEADER in = headerFor(format);
        opened.push_back(ICGetDisplayFormat(0, &in, out, 0, 0, 0));
        return opened.back();
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

// The format table test decodes each format whole, and refuses raw frames cut short.
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
        {"JPEG of another size", {FOURCC_MJPG, 24, 48, 64}, jpeg, 0, ICERR_ERROR},
        // Without its quantisation tables a JPEG passes the frame check and fails in the decoder.
        {"JPEG without tables", mjpg, jpegtest::splitSegments(jpeg, 0xDB).second, 0, ICERR_ERROR},
        {"noise", mjpg, std::vector<std::uint8_t>(500, 0x5A), 0, ICERR_ERROR},
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
    for (const VideoFormat &unusable :
         {VideoFormat {BI_RGB, 24, 320, 240},
          VideoFormat {makeFourCC('H', '2', '6', '4'), 24, 8, 8},
          VideoFormat {FOURCC_YUY2, 16, 0, 240}, VideoFormat {FOURCC_MJPG, 24, 100000, 100000}}) {
        BITMAPINFOHEADER out {};
        EXPECT_EQ(open(unusable, &out), 0) << unusable.width;
    }
    const VideoFormat yuy2 {FOURCC_YUY2, 16, 64, 48};
    BITMAPINFOHEADER out {};
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

} // namespace
} // namespace capturetest
