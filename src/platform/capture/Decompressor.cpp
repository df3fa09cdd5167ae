#include "platform/capture/Decompressor.h"

#include <limits>
#include <map>
#include <memory>

namespace platform::vfw {

namespace {

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

HIC ICGetDisplayFormat(HIC hic, const BITMAPINFOHEADER *lpbiIn, BITMAPINFOHEADER *lpbiOut,
                       int /*BitDepth*/, int /*dx*/, int /*dy*/)
{
    if (!lpbiIn || !lpbiOut)
        return 0;
    // Bitmap formats need no decompressor.
    const VideoFormat input = formatFromHeader(*lpbiIn);
    if (input.compression == BI_RGB || !frameBytes(input))
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
