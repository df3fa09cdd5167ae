#include "CaptureTestSupport.h"

#include "platform/capture/Decompressor.h"

#include <libyuv/convert_from_argb.h>
#include <turbojpeg.h>

namespace capturetest {
namespace {

constexpr Bgr kRed {0x20, 0x20, 0xE0};
constexpr Bgr kBlue {0xE0, 0x20, 0x20};

// A frame of format showing a red top third, a green middle and a blue bottom third.
std::vector<std::uint8_t> bandsFrame(const VideoFormat &format)
{
    const int w = format.width, h = format.height, cw = (w + 1) / 2, ch = (h + 1) / 2;
    std::vector<std::uint32_t> argb(std::size_t(w) * h);
    for (int y = 0; y < h; ++y)
        std::fill_n(argb.begin() + std::ptrdiff_t(y) * w, w,
                    y < h / 3           ? 0xFFE02020u
                        : y < 2 * h / 3 ? 0xFF20E020u
                                        : 0xFF2020E0u);
    const auto *in = reinterpret_cast<const std::uint8_t *>(argb.data());
    if (format.compression == FOURCC_MJPG) {
        tjhandle handle = tjInitCompress();
        unsigned char *jpeg = nullptr;
        unsigned long size = 0;
        tjCompress2(handle, in, w, w * 4, h, TJPF_BGRX, &jpeg, &size, TJSAMP_422, 90, 0);
        std::vector<std::uint8_t> frame(jpeg, jpeg + size);
        tjFree(jpeg);
        tjDestroy(handle);
        return frame;
    }
    std::vector<std::uint8_t> frame(*frameBytes(format));
    std::uint8_t *y = frame.data(), *uv = y + std::size_t(w) * h;
    switch (canonicalCompression(format.compression)) {
    case FOURCC_YUY2:
        libyuv::ARGBToYUY2(in, w * 4, y, cw * 4, w, h);
        break;
    case FOURCC_UYVY:
        libyuv::ARGBToUYVY(in, w * 4, y, cw * 4, w, h);
        break;
    case FOURCC_NV12:
        libyuv::ARGBToNV12(in, w * 4, y, w, uv, cw * 2, w, h);
        break;
    default:
        libyuv::ARGBToI420(in, w * 4, y, w, uv, cw, uv + std::size_t(cw) * ch, cw, w, h);
        break;
    }
    return frame;
}

class DecompressorTest : public ::testing::Test
{
protected:
    ~DecompressorTest() override
    {
        for (HIC hic : opened)
            ICClose(hic);
    }

    HIC open(const VideoFormat &format, BITMAPINFOHEADER *out)
    {
        const BITMAPINFOHEADER in = headerFor(format);
        const HIC hic = ICGetDisplayFormat(0, &in, out, 0, 0, 0);
        if (hic)
            opened.push_back(hic);
        return hic;
    }

    std::int32_t decode(HIC hic, const VideoFormat &format, std::span<const std::uint8_t> frame,
                        GuardedBuffer &out, std::uint32_t flags = 0)
    {
        const BITMAPINFOHEADER in = headerFor(format);
        const BITMAPINFOHEADER bitmap = headerFor({BI_RGB, 24, format.width, format.height});
        return ICDecompress(hic, flags, &in, frame, &bitmap, out.span());
    }

    std::vector<HIC> opened;
};

TEST_F(DecompressorTest, EachFormatDecodesToBottomUpBgrWithinItsBuffer)
{
    for (const std::uint32_t compression : {FOURCC_MJPG, FOURCC_YUY2, FOURCC_YUYV, FOURCC_UYVY,
                                            FOURCC_NV12, FOURCC_I420, FOURCC_IYUV}) {
        for (const auto &[w, h] : {std::pair {64, 48}, std::pair {63, 47}}) {
            const VideoFormat format {compression, 16, w, h};
            const std::string what = std::string(reinterpret_cast<const char *>(&compression), 4)
                + " " + std::to_string(w) + "x" + std::to_string(h);
            BITMAPINFOHEADER out {};
            const HIC hic = open(format, &out);
            ASSERT_NE(hic, 0) << what;
            EXPECT_EQ(out.biCompression, BI_RGB) << what;
            EXPECT_EQ(out.biBitCount, 24) << what;
            EXPECT_EQ(out.biWidth, w) << what;
            EXPECT_EQ(out.biHeight, h) << what;
            EXPECT_EQ(out.biSizeImage, std::uint32_t((w * 3 + 3) & ~3) * std::uint32_t(h)) << what;

            GuardedBuffer bits(out.biSizeImage);
            ASSERT_EQ(decode(hic, format, bandsFrame(format), bits), ICERR_OK) << what;
            EXPECT_TRUE(bits.guardIntact()) << what;
            EXPECT_TRUE(near(pixel(bits.bytes.data(), w, 0, w / 2), kBlue)) << what;
            EXPECT_TRUE(near(pixel(bits.bytes.data(), w, h - 1, w / 2), kRed)) << what;
        }
    }
}

TEST_F(DecompressorTest, DamagedFramesFailAloneAndTheNextOneDecodes)
{
    const VideoFormat mjpg {FOURCC_MJPG, 24, 64, 48};
    const VideoFormat yuy2 {FOURCC_YUY2, 16, 64, 48};
    const std::vector<std::uint8_t> jpeg = bandsFrame(mjpg);
    const std::vector<std::uint8_t> raw = bandsFrame(yuy2);
    auto edited = [](std::vector<std::uint8_t> frame, auto change) {
        change(frame);
        return frame;
    };
    // A JPEG without its quantisation tables fails inside the decoder, not before it.
    auto withoutTables = [](std::vector<std::uint8_t> &f) {
        for (std::size_t i = 2; i + 4 < f.size();) {
            const std::size_t length = std::size_t(f[i + 2]) << 8 | f[i + 3];
            if (f[i + 1] == 0xDB) {
                f.erase(f.begin() + std::ptrdiff_t(i), f.begin() + std::ptrdiff_t(i + 2 + length));
                continue;
            }
            if (f[i + 1] == 0xDA)
                break;
            i += 2 + length;
        }
    };
    struct Case
    {
        const char *what;
        VideoFormat format;
        std::vector<std::uint8_t> frame;
        std::int32_t result;
    };
    const Case cases[] = {
        {"JPEG cut short", mjpg, edited(jpeg, [](auto &f) { f.resize(f.size() - 40); }),
         ICERR_ERROR},
        {"JPEG of another size", {FOURCC_MJPG, 24, 48, 64}, jpeg, ICERR_ERROR},
        {"JPEG without tables", mjpg, edited(jpeg, withoutTables), ICERR_ERROR},
        {"noise", mjpg, std::vector<std::uint8_t>(500, 0x5A), ICERR_ERROR},
        {"nothing", mjpg, {}, ICERR_ERROR},
        {"YUY2 one byte short", yuy2, edited(raw, [](auto &f) { f.pop_back(); }), ICERR_BADSIZE},
    };
    for (const Case &c : cases) {
        BITMAPINFOHEADER out {};
        const HIC hic = open(c.format, &out);
        ASSERT_NE(hic, 0) << c.what;
        GuardedBuffer bits(out.biSizeImage);
        EXPECT_EQ(decode(hic, c.format, c.frame, bits), c.result) << c.what;
        EXPECT_TRUE(bits.guardIntact()) << c.what;
        // The same decompressor takes the next, whole frame.
        const VideoFormat good = c.format.compression == FOURCC_MJPG ? mjpg : yuy2;
        GuardedBuffer next(*frameBytes({BI_RGB, 24, 64, 48}));
        if (c.format.width == 64) {
            EXPECT_EQ(decode(hic, good, bandsFrame(good), next), ICERR_OK) << c.what;
            EXPECT_TRUE(near(pixel(next.bytes.data(), 64, 47, 32), kRed)) << c.what;
        }
    }
}

TEST_F(DecompressorTest, OutputThatDoesNotFitIsNeverWritten)
{
    for (const VideoFormat &format :
         {VideoFormat {FOURCC_MJPG, 24, 64, 48}, VideoFormat {FOURCC_NV12, 12, 64, 48}}) {
        BITMAPINFOHEADER out {};
        const HIC hic = open(format, &out);
        GuardedBuffer bits(out.biSizeImage - 1);
        EXPECT_EQ(decode(hic, format, bandsFrame(format), bits), ICERR_BADSIZE);
        EXPECT_TRUE(bits.untouched());
    }
}

TEST_F(DecompressorTest, FormatsAreCheckedBeforeDecoding)
{
    const VideoFormat yuy2 {FOURCC_YUY2, 16, 320, 240};
    BITMAPINFO in {}, out {};
    in.bmiHeader = headerFor(yuy2);
    for (const VideoFormat &unsupported :
         {VideoFormat {BI_RGB, 24, 320, 240},
          VideoFormat {makeFourCC('H', '2', '6', '4'), 24, 320, 240},
          VideoFormat {FOURCC_YUY2, 16, 0, 240}, VideoFormat {FOURCC_MJPG, 24, 100000, 100000}}) {
        const BITMAPINFOHEADER header = headerFor(unsupported);
        EXPECT_EQ(ICGetDisplayFormat(0, &header, &out.bmiHeader, 0, 0, 0), 0);
    }
    EXPECT_EQ(ICGetDisplayFormat(0, nullptr, &out.bmiHeader, 0, 0, 0), 0);

    const HIC hic = open(yuy2, &out.bmiHeader);
    ASSERT_NE(hic, 0);
    EXPECT_EQ(ICSendMessage(hic, ICM_DECOMPRESS_BEGIN, address(&in), address(&out)), ICERR_OK);
    EXPECT_EQ(ICSendMessage(hic, ICM_DECOMPRESS_QUERY, address(&in), 0), ICERR_OK);
    EXPECT_EQ(ICSendMessage(hic, ICM_DECOMPRESS_BEGIN, address(&in), 0), ICERR_BADPARAM);
    EXPECT_EQ(ICSendMessage(hic + 1000, ICM_DECOMPRESS_BEGIN, address(&in), address(&out)),
              ICERR_BADHANDLE);

    // Outputs other than the display format: top-down, 32 bits, another size; another input.
    auto begin = [&](auto change) {
        BITMAPINFO input = in, output = out;
        change(input.bmiHeader, output.bmiHeader);
        return ICSendMessage(hic, ICM_DECOMPRESS_BEGIN, address(&input), address(&output));
    };
    EXPECT_EQ(begin([](auto &, auto &o) { o.biHeight = -o.biHeight; }), ICERR_BADFORMAT);
    EXPECT_EQ(begin([](auto &, auto &o) { o.biBitCount = 32; }), ICERR_BADFORMAT);
    EXPECT_EQ(begin([](auto &, auto &o) { o.biWidth = 160; }), ICERR_BADFORMAT);
    EXPECT_EQ(begin([](auto &i, auto &) { i.biCompression = FOURCC_MJPG; }), ICERR_BADFORMAT);
    const BITMAPINFOHEADER mjpg = headerFor({FOURCC_MJPG, 24, 320, 240});
    EXPECT_EQ(ICGetDisplayFormat(hic, &mjpg, &out.bmiHeader, 0, 0, 0), 0) << "another format";
    EXPECT_EQ(ICGetDisplayFormat(hic, &in.bmiHeader, &out.bmiHeader, 0, 0, 0), hic);
}

TEST_F(DecompressorTest, NullAndPrerollFramesWriteNothingHurriedOnesDecode)
{
    const VideoFormat format {FOURCC_MJPG, 24, 64, 48};
    BITMAPINFOHEADER out {};
    const HIC hic = open(format, &out);
    const std::vector<std::uint8_t> frame = bandsFrame(format);
    for (const std::uint32_t flags : {ICDECOMPRESS_NULLFRAME, ICDECOMPRESS_PREROLL}) {
        GuardedBuffer bits(out.biSizeImage);
        EXPECT_EQ(decode(hic, format, frame, bits, flags), ICERR_OK);
        EXPECT_TRUE(bits.untouched());
    }
    GuardedBuffer bits(out.biSizeImage);
    EXPECT_EQ(decode(hic, format, frame, bits, ICDECOMPRESS_HURRYUP | ICDECOMPRESS_NOTKEYFRAME),
              ICERR_OK);
    EXPECT_TRUE(near(pixel(bits.bytes.data(), 64, 47, 32), kRed));
}

TEST_F(DecompressorTest, ClosedHandlesAreGoneAndNeverComeBack)
{
    BITMAPINFOHEADER out {};
    const HIC first = open({FOURCC_NV12, 12, 16, 16}, &out);
    const std::size_t before = openDecompressorCount();
    EXPECT_EQ(ICClose(first), ICERR_OK);
    EXPECT_EQ(openDecompressorCount(), before - 1);
    EXPECT_EQ(ICClose(first), ICERR_BADHANDLE);
    GuardedBuffer bits(out.biSizeImage);
    EXPECT_EQ(decode(first, {FOURCC_NV12, 12, 16, 16}, bandsFrame({FOURCC_NV12, 12, 16, 16}), bits),
              ICERR_BADHANDLE);
    EXPECT_GT(open({FOURCC_NV12, 12, 16, 16}, &out), first);
}

} // namespace
} // namespace capturetest
