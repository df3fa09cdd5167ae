#include "platform/capture/Decompressor.h"

#include "platform/capture/CaptureLog.h"

#include <libyuv/convert_argb.h>
#include <libyuv/convert_from_argb.h>
#include <turbojpeg.h>

#include <algorithm>
#include <limits>
#include <map>
#include <memory>

namespace platform::vfw {

namespace {

// Rows converted per pass for the packed 4:2:2 formats: the 32-bit intermediate of a strip stays
// in the cache between its two passes.
constexpr int kStripRows = 16;

struct Decompressor
{
    std::uint32_t compression = 0;
    FrameDecoder decoder;
};

struct Table
{
    HIC next = 0;
    std::map<HIC, std::unique_ptr<Decompressor>> open;
};

Table &table()
{
    static Table instance;
    return instance;
}

Decompressor *find(HIC hic)
{
    const auto it = table().open.find(hic);
    return it == table().open.end() ? nullptr : it->second.get();
}

// The output format a decompressor produces for input: 24 bits, same size, bottom-up.
bool outputMatches(const VideoFormat &input, const BITMAPINFOHEADER &out)
{
    return out.biCompression == BI_RGB && out.biBitCount == 24 && out.biWidth == input.width
        && out.biHeight == input.height;
}

// The input a decompressor opened for compression can take: its format at a sane size.
bool inputUsable(const Decompressor &decompressor, const VideoFormat &input)
{
    return input.compression == decompressor.compression && frameBytes(input).has_value();
}

} // namespace

bool FrameDecoder::supports(std::uint32_t compression)
{
    switch (canonicalCompression(compression)) {
    case FOURCC_MJPG:
    case FOURCC_YUY2:
    case FOURCC_UYVY:
    case FOURCC_NV12:
    case FOURCC_I420:
        return true;
    default:
        return false;
    }
}

std::int32_t FrameDecoder::decode(const VideoFormat &format, std::span<const std::uint8_t> data,
                                  std::span<std::uint8_t> out, bool fast)
{
    const std::uint32_t compression = canonicalCompression(format.compression);
    const std::optional<std::uint32_t> inputBytes = frameBytes(format);
    if (!supports(compression) || !inputBytes)
        return ICERR_BADFORMAT;
    const int w = format.width, h = format.height;
    const int stride = int(dibStride(w, 24));
    if (out.size() < std::size_t(stride) * std::size_t(h))
        return ICERR_BADSIZE;
    if (compression == FOURCC_MJPG)
        return decodeJpeg(format, data, out.data(), stride, fast);
    // Raw frames have one size; a shorter one is cut off and is not shown.
    if (data.size() < *inputBytes)
        return ICERR_BADSIZE;

    const std::uint8_t *in = data.data();
    std::uint8_t *dst = out.data();
    const int chromaW = (w + 1) / 2, chromaH = (h + 1) / 2;
    const std::uint8_t *chroma = in + std::size_t(w) * std::size_t(h);
    // A negative height makes the conversions write the rows bottom-up.
    switch (compression) {
    case FOURCC_NV12:
        return libyuv::NV12ToRGB24(in, w, chroma, chromaW * 2, dst, stride, w, -h) == 0
            ? ICERR_OK
            : ICERR_ERROR;
    case FOURCC_I420:
        return libyuv::I420ToRGB24(in, w, chroma, chromaW,
                                   chroma + std::size_t(chromaW) * std::size_t(chromaH), chromaW,
                                   dst, stride, w, -h)
                == 0
            ? ICERR_OK
            : ICERR_ERROR;
    default:
        break;
    }
    // The packed 4:2:2 formats have no direct 24-bit conversion: strips go through 32 bits.
    const int inLine = chromaW * 4, argbLine = w * 4;
    m_strip.resize(std::size_t(argbLine) * kStripRows);
    for (int row = 0; row < h; row += kStripRows) {
        const int rows = std::min(kStripRows, h - row);
        const std::uint8_t *source = in + std::size_t(row) * std::size_t(inLine);
        const int result = compression == FOURCC_YUY2
            ? libyuv::YUY2ToARGB(source, inLine, m_strip.data(), argbLine, w, rows)
            : libyuv::UYVYToARGB(source, inLine, m_strip.data(), argbLine, w, rows);
        // Picture rows row..row+rows-1 are bitmap rows h-row-rows..h-row-1, in reverse.
        if (result != 0
            || libyuv::ARGBToRGB24(m_strip.data(), argbLine,
                                   dst + std::size_t(h - row - rows) * std::size_t(stride), stride,
                                   w, -rows)
                != 0)
            return ICERR_ERROR;
    }
    return ICERR_OK;
}

std::int32_t FrameDecoder::decodeJpeg(const VideoFormat &format, std::span<const std::uint8_t> data,
                                      std::uint8_t *out, int stride, bool fast)
{
    // The stream must be whole and of the negotiated size before the decoder sees it; a frame
    // cut short would otherwise decode with its missing part painted grey.
    if (!jpegFrameLooksComplete(data, format.width, format.height))
        return ICERR_ERROR;
    const std::span<const std::uint8_t> stream = withoutTrailingPadding(data);
    if (!m_jpeg)
        m_jpeg = jpeg::TjHandle(jpeg::TjHandle::Kind::Decompress);
    if (!m_jpeg)
        return ICERR_MEMORY;
    const int flags = TJFLAG_BOTTOMUP | (fast ? TJFLAG_FASTDCT : 0);
    if (tjDecompress2(m_jpeg.get(), stream.data(), stream.size(), out, format.width, stride,
                      format.height, TJPF_BGR, flags)
        == 0)
        return ICERR_OK;
    // Warnings inside a complete stream (stray bytes before a marker and the like) are common in
    // camera frames and leave a whole picture; only errors fail the frame.
    if (tjGetErrorCode(m_jpeg.get()) == TJERR_WARNING)
        return ICERR_OK;
    qCDebug(lcCapture, "JPEG frame not decoded: %s", tjGetErrorStr2(m_jpeg.get()));
    return ICERR_ERROR;
}

HIC ICGetDisplayFormat(HIC hic, const BITMAPINFOHEADER *lpbiIn, BITMAPINFOHEADER *lpbiOut,
                       int /*BitDepth*/, int /*dx*/, int /*dy*/)
{
    if (!lpbiIn || !lpbiOut)
        return 0;
    const VideoFormat input = formatFromHeader(*lpbiIn);
    if (!FrameDecoder::supports(input.compression) || !frameBytes(input))
        return 0;
    const VideoFormat output {BI_RGB, 24, input.width, input.height};
    const std::optional<std::uint32_t> outputBytes = frameBytes(output);
    if (!outputBytes)
        return 0;
    if (hic != 0) {
        const Decompressor *decompressor = find(hic);
        if (!decompressor || !inputUsable(*decompressor, input))
            return 0;
    } else {
        Table &t = table();
        if (t.next == std::numeric_limits<HIC>::max())
            return 0;
        hic = ++t.next;
        auto decompressor = std::make_unique<Decompressor>();
        decompressor->compression = input.compression;
        t.open.emplace(hic, std::move(decompressor));
    }
    *lpbiOut = headerFor(output);
    return hic;
}

std::intptr_t ICSendMessage(HIC hic, std::uint32_t msg, std::intptr_t dw1, std::intptr_t dw2)
{
    const Decompressor *decompressor = find(hic);
    if (!decompressor)
        return ICERR_BADHANDLE;
    switch (msg) {
    case ICM_DECOMPRESS_QUERY:
    case ICM_DECOMPRESS_BEGIN: {
        const auto *in = messagePointer<const BITMAPINFO>(dw1);
        const auto *out = messagePointer<const BITMAPINFO>(dw2);
        if (!in || (!out && msg == ICM_DECOMPRESS_BEGIN))
            return ICERR_BADPARAM;
        const VideoFormat input = formatFromHeader(in->bmiHeader);
        if (!inputUsable(*decompressor, input) || (out && !outputMatches(input, out->bmiHeader)))
            return ICERR_BADFORMAT;
        return ICERR_OK;
    }
    case ICM_DECOMPRESS_END:
        return ICERR_OK;
    default:
        return ICERR_UNSUPPORTED;
    }
}

std::int32_t ICDecompress(HIC hic, std::uint32_t dwFlags, const BITMAPINFOHEADER *lpbiFormat,
                          std::span<const std::uint8_t> data, const BITMAPINFOHEADER *lpbi,
                          std::span<std::uint8_t> bits)
{
    Decompressor *decompressor = find(hic);
    if (!decompressor)
        return ICERR_BADHANDLE;
    if (!lpbiFormat || !lpbi)
        return ICERR_BADPARAM;
    const VideoFormat input = formatFromHeader(*lpbiFormat);
    if (!inputUsable(*decompressor, input) || !outputMatches(input, *lpbi))
        return ICERR_BADFORMAT;
    if (dwFlags & (ICDECOMPRESS_NULLFRAME | ICDECOMPRESS_PREROLL))
        return ICERR_OK;
    return decompressor->decoder.decode(input, data, bits, (dwFlags & ICDECOMPRESS_HURRYUP) != 0);
}

std::int32_t ICClose(HIC hic)
{
    return table().open.erase(hic) != 0 ? ICERR_OK : ICERR_BADHANDLE;
}

std::size_t openDecompressorCount()
{
    return table().open.size();
}

} // namespace platform::vfw
