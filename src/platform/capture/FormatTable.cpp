#include "platform/capture/FormatTable.h"

#include <cstdlib>
#include <limits>

namespace platform::vfw {

const PixelFormatMapping *mappingForDevice(std::uint32_t deviceCode)
{
    for (const PixelFormatMapping &mapping : kPixelFormats) {
        if (mapping.device == deviceCode)
            return &mapping;
    }
    return nullptr;
}

std::uint32_t canonicalCompression(std::uint32_t compression)
{
    if (compression == FOURCC_YUYV)
        return FOURCC_YUY2;
    if (compression == FOURCC_IYUV)
        return FOURCC_I420;
    return compression;
}

std::optional<std::uint32_t> frameBytes(const VideoFormat &format)
{
    const std::int64_t w = format.width, h = format.height;
    if (w <= 0 || h <= 0 || w > std::numeric_limits<std::int32_t>::max() / 32)
        return std::nullopt;
    std::uint64_t bytes = 0;
    switch (canonicalCompression(format.compression)) {
    case BI_RGB:
        if (format.bitCount != 16 && format.bitCount != 24 && format.bitCount != 32)
            return std::nullopt;
        bytes = dibStride(w, format.bitCount) * std::uint64_t(h);
        break;
    case FOURCC_YUY2:
    case FOURCC_UYVY:
        bytes = std::uint64_t((w + 1) / 2) * 4 * std::uint64_t(h);
        break;
    case FOURCC_NV12:
    case FOURCC_I420:
        bytes = std::uint64_t(w * h) + 2 * std::uint64_t((w + 1) / 2) * std::uint64_t((h + 1) / 2);
        break;
    case FOURCC_MJPG:
        // A camera's JPEG frame stays well below its raw size; the decoded frame is the bound.
        bytes = dibStride(w, 24) * std::uint64_t(h);
        break;
    default:
        return std::nullopt;
    }
    if (bytes == 0 || bytes > kMaxFrameBytes)
        return std::nullopt;
    return std::uint32_t(bytes);
}

BITMAPINFOHEADER headerFor(const VideoFormat &format)
{
    BITMAPINFOHEADER header {};
    header.biSize = sizeof header;
    header.biPlanes = 1;
    header.biWidth = format.width;
    header.biHeight = format.height;
    header.biBitCount = format.bitCount;
    header.biCompression = format.compression;
    header.biSizeImage = frameBytes(format).value_or(0);
    return header;
}

VideoFormat formatFromHeader(const BITMAPINFOHEADER &header)
{
    VideoFormat format;
    format.compression = canonicalCompression(header.biCompression);
    format.bitCount = header.biBitCount;
    format.width = header.biWidth;
    // INT_MIN has no absolute value; it is as absurd as any other size past the frame limit.
    format.height = header.biHeight == std::numeric_limits<std::int32_t>::min()
        ? 0
        : std::abs(header.biHeight);
    return format;
}

namespace {

bool sameKind(const VideoFormat &a, const VideoFormat &b)
{
    return canonicalCompression(a.compression) == canonicalCompression(b.compression)
        && (canonicalCompression(a.compression) != BI_RGB || a.bitCount == b.bitCount);
}

} // namespace

std::optional<VideoFormat> nearestFormat(std::span<const VideoFormat> offered,
                                         const VideoFormat &wanted, const VideoFormat &current)
{
    auto offers = [&](const VideoFormat &kind) {
        for (const VideoFormat &format : offered) {
            if (sameKind(format, kind))
                return true;
        }
        return false;
    };
    const VideoFormat *kind = offers(wanted) ? &wanted : offers(current) ? &current : nullptr;

    std::optional<VideoFormat> best;
    std::int64_t bestDistance = 0;
    for (const VideoFormat &format : offered) {
        if (kind && !sameKind(format, *kind))
            continue;
        const std::int64_t distance = std::abs(std::int64_t(format.width) - wanted.width)
            + std::abs(std::int64_t(format.height) - wanted.height);
        const bool larger = best
            && std::int64_t(format.width) * format.height
                > std::int64_t(best->width) * best->height;
        if (!best || distance < bestDistance || (distance == bestDistance && larger)) {
            best = format;
            bestDistance = distance;
        }
    }
    return best;
}

std::span<const std::uint8_t> withoutTrailingPadding(std::span<const std::uint8_t> frame)
{
    std::size_t end = frame.size();
    while (end > 0 && frame[end - 1] == 0)
        --end;
    return frame.first(end);
}

bool jpegFrameLooksComplete(std::span<const std::uint8_t> frame, int width, int height)
{
    const std::span<const std::uint8_t> data = withoutTrailingPadding(frame);
    const std::size_t end = data.size();
    if (end < 4 || data[0] != 0xFF || data[1] != 0xD8 || data[end - 2] != 0xFF
        || data[end - 1] != 0xD9)
        return false;
    bool sizeSeen = false;
    std::size_t pos = 2;
    // Walk the header segments up to the scan; each length is checked against what is left.
    while (pos + 4 <= end) {
        if (data[pos] != 0xFF)
            return false;
        const std::uint8_t marker = data[pos + 1];
        if (marker == 0xFF) { // fill byte
            ++pos;
            continue;
        }
        const std::size_t length = std::size_t(data[pos + 2]) << 8 | data[pos + 3];
        if (length < 2 || pos + 2 + length > end)
            return false;
        const bool frameHeader = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4
            && marker != 0xC8 && marker != 0xCC;
        if (frameHeader) {
            if (length < 8)
                return false;
            const int h = data[pos + 5] << 8 | data[pos + 6];
            const int w = data[pos + 7] << 8 | data[pos + 8];
            if (w != width || h != height)
                return false;
            sizeSeen = true;
        }
        if (marker == 0xDA)
            return sizeSeen;
        pos += 2 + length;
    }
    return false;
}

} // namespace platform::vfw
