#include "platform/capture/FrameCodec.h"

namespace platform::vfw {

std::int32_t FrameDecoder::decode(const VideoFormat &format, std::span<const std::uint8_t> data,
                                  std::span<std::uint8_t> out, bool fast)
{
    const FormatInfo *info = formatInfo(format);
    const std::optional<std::uint32_t> inputBytes = frameBytes(format);
    if (!info || !inputBytes)
        return ICERR_BADFORMAT;
    const int w = format.width, h = format.height;
    const int stride = int(dibStride(w, 24));
    if (out.size() < std::size_t(stride) * std::size_t(h))
        return ICERR_BADSIZE;
    DecodeJob job;
    job.frame = data;
    job.width = w;
    job.height = h;
    job.bgr = out.data() + std::size_t(h - 1) * std::size_t(stride);
    job.line = -stride;
    job.fast = fast;
    if (info->raw()) {
        // Raw frames have one size; a shorter one is cut off and is not shown.
        if (data.size() < *inputBytes)
            return ICERR_BADSIZE;
        job.planes = framePlanes(frameLayout(*info, w, h), data.data(), info->bottomUp);
    }
    return info->toBgr(m_state, job);
}

bool FrameEncoder::encode(const VideoFormat &format, const PictureView &picture,
                          std::vector<std::uint8_t> &out)
{
    const FormatInfo *info = formatInfo(format);
    const std::optional<std::uint32_t> bytes = frameBytes(format);
    if (!info || !bytes || picture.width != format.width || picture.height != format.height)
        return false;
    EncodeJob job;
    job.picture = picture;
    if (!info->raw()) {
        job.stream = &out;
        return info->encode(m_state, job);
    }
    out.resize(*bytes);
    job.planes
        = framePlanes(frameLayout(*info, format.width, format.height), out.data(), info->bottomUp);
    return info->encode(m_state, job);
}

bool FrameEncoder::encodeArea(const VideoFormat &format, const PictureView &picture, int x, int y,
                              int width, int height, std::span<std::uint8_t> frame)
{
    const FormatInfo *info = formatInfo(format);
    const std::optional<std::uint32_t> bytes = frameBytes(format);
    const PlaneInfo &plane = info ? info->planes[0] : PlaneInfo {};
    // Only a single plane of whole pixels can be written in part.
    if (!info || !bytes || !info->raw() || info->planes[1].bytes != 0 || plane.columns != 1
        || plane.rows != 1 || frame.size() < *bytes || picture.width != format.width
        || picture.height != format.height || x < 0 || y < 0 || width <= 0 || height <= 0
        || x > format.width - width || y > format.height - height)
        return false;
    FramePlanes<std::uint8_t> planes = framePlanes(frameLayout(*info, format.width, format.height),
                                                   frame.data(), info->bottomUp);
    planes.data[0] += std::ptrdiff_t(y) * planes.line[0] + std::ptrdiff_t(x) * plane.bytes;
    EncodeJob job;
    job.picture = {picture.pixels + std::ptrdiff_t(y) * picture.line + std::ptrdiff_t(x) * 4, width,
                   height, picture.line};
    job.planes = planes;
    return info->encode(m_state, job);
}

} // namespace platform::vfw
