#include "platform/capture/FormatTable.h"

#include "platform/capture/CaptureLog.h"
#include "platform/capture/FrameCodec.h"

#include <libyuv/convert.h>
#include <libyuv/convert_argb.h>
#include <libyuv/convert_from_argb.h>
#include <libyuv/planar_functions.h>
#include <linux/videodev2.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace platform::vfw {

namespace {

// The conversions of the rows. Each sees its frame through top-down planes and its picture
// top-down, whatever the order in memory (FramePlanes), so none of them flips rows itself.

std::int32_t status(int libyuvResult)
{
    return libyuvResult == 0 ? ICERR_OK : ICERR_ERROR;
}

std::int32_t bgr24ToBgr(CodecState &, const DecodeJob &job)
{
    libyuv::CopyPlane(job.planes.data[0], job.planes.line[0], job.bgr, job.line, job.width * 3,
                      job.height);
    return ICERR_OK;
}

std::int32_t bgrxToBgr(CodecState &, const DecodeJob &job)
{
    return status(libyuv::ARGBToRGB24(job.planes.data[0], job.planes.line[0], job.bgr, job.line,
                                      job.width, job.height));
}

// Rows converted per pass where there is no direct conversion to 24 bits: the 32-bit
// intermediate of a strip stays in the cache between its two passes.
constexpr int kStripRows = 16;

template<auto toArgb> std::int32_t viaArgb(CodecState &state, const DecodeJob &job)
{
    const int argbLine = job.width * 4;
    state.strip.resize(std::size_t(argbLine) * kStripRows);
    for (int row = 0; row < job.height; row += kStripRows) {
        const int rows = std::min(kStripRows, job.height - row);
        // A bottom-up picture takes each strip in the order of memory, reading the strip from
        // its end: writing rows downwards through memory is markedly slower on large frames.
        std::uint8_t *out = job.bgr + std::ptrdiff_t(row) * job.line;
        int line = job.line, outRows = rows;
        if (line < 0) {
            out += std::ptrdiff_t(rows - 1) * line;
            line = -line;
            outRows = -rows;
        }
        if (toArgb(job.planes.data[0] + std::ptrdiff_t(row) * job.planes.line[0],
                   job.planes.line[0], state.strip.data(), argbLine, job.width, rows)
                != 0
            || libyuv::ARGBToRGB24(state.strip.data(), argbLine, out, line, job.width, outRows)
                != 0)
            return ICERR_ERROR;
    }
    return ICERR_OK;
}

template<auto toRgb24> std::int32_t biPlanarToBgr(CodecState &, const DecodeJob &job)
{
    const ConstFramePlanes &in = job.planes;
    return status(toRgb24(in.data[0], in.line[0], in.data[1], in.line[1], job.bgr, job.line,
                          job.width, job.height));
}

std::int32_t i420ToBgr(CodecState &, const DecodeJob &job)
{
    const ConstFramePlanes &in = job.planes;
    return status(libyuv::I420ToRGB24(in.data[0], in.line[0], in.data[1], in.line[1], in.data[2],
                                      in.line[2], job.bgr, job.line, job.width, job.height));
}

std::int32_t jpegToBgr(CodecState &state, const DecodeJob &job)
{
    // The stream must be whole and of the negotiated size before the decoder sees it; a frame
    // cut short would otherwise decode with its missing part painted grey.
    if (!jpegFrameLooksComplete(job.frame, job.width, job.height))
        return ICERR_ERROR;
    const std::span<const std::uint8_t> stream = withoutTrailingPadding(job.frame);
    if (!state.decompressor)
        state.decompressor = jpeg::TjHandle(jpeg::TjHandle::Kind::Decompress);
    if (!state.decompressor)
        return ICERR_MEMORY;
    // The library takes no negative pitch: a bottom-up picture is named by its first row in
    // memory and written with the rows turned.
    std::uint8_t *bgr = job.bgr;
    int pitch = job.line;
    int flags = job.fast ? TJFLAG_FASTDCT : 0;
    if (pitch < 0) {
        bgr += std::ptrdiff_t(job.height - 1) * pitch;
        pitch = -pitch;
        flags |= TJFLAG_BOTTOMUP;
    }
    tjhandle handle = state.decompressor.get();
    if (tjDecompress2(handle, stream.data(), stream.size(), bgr, job.width, pitch, job.height,
                      TJPF_BGR, flags)
        == 0)
        return ICERR_OK;
    // Warnings inside a complete stream (stray bytes before a marker and the like) are common in
    // camera frames and leave a whole picture; only errors fail the frame.
    if (tjGetErrorCode(handle) == TJERR_WARNING)
        return ICERR_OK;
    qCDebug(lcCapture, "JPEG frame not decoded: %s", tjGetErrorStr2(handle));
    return ICERR_ERROR;
}

// Encoders: the picture in 32-bit pixels (libyuv's "ARGB") to the format's planes.
template<auto fromArgb> bool packed(CodecState &, const EncodeJob &job)
{
    const PictureView &p = job.picture;
    return fromArgb(p.pixels, p.line, job.planes.data[0], job.planes.line[0], p.width, p.height)
        == 0;
}

template<auto fromArgb> bool biPlanar(CodecState &, const EncodeJob &job)
{
    const PictureView &p = job.picture;
    const FramePlanes<std::uint8_t> &out = job.planes;
    return fromArgb(p.pixels, p.line, out.data[0], out.line[0], out.data[1], out.line[1], p.width,
                    p.height)
        == 0;
}

bool encodeI420(CodecState &, const EncodeJob &job)
{
    const PictureView &p = job.picture;
    const FramePlanes<std::uint8_t> &out = job.planes;
    return libyuv::ARGBToI420(p.pixels, p.line, out.data[0], out.line[0], out.data[1], out.line[1],
                              out.data[2], out.line[2], p.width, p.height)
        == 0;
}

bool encodeJpeg(CodecState &state, const EncodeJob &job)
{
    const PictureView &p = job.picture;
    if (!state.compressor)
        state.compressor = jpeg::TjHandle(jpeg::TjHandle::Kind::Compress);
    const unsigned long capacity = tjBufSize(p.width, p.height, TJSAMP_422);
    if (!state.compressor || capacity == static_cast<unsigned long>(-1))
        return false;
    // The worst case stays allocated from frame to frame; only the stream is copied out.
    std::vector<std::uint8_t> &buffer = state.stream;
    if (buffer.size() < capacity)
        buffer.resize(capacity);
    unsigned char *data = buffer.data();
    unsigned long length = capacity;
    // Cameras send 4:2:2 frames of moderate quality.
    if (tjCompress2(state.compressor.get(), p.pixels, p.width, p.line, p.height, TJPF_BGRX, &data,
                    &length, TJSAMP_422, 85, TJFLAG_NOREALLOC)
            != 0
        || data != buffer.data()) {
        qCWarning(lcCapture, "JPEG frame not encoded: %s", tjGetErrorStr2(state.compressor.get()));
        return false;
    }
    job.stream->assign(buffer.begin(), buffer.begin() + std::ptrdiff_t(length));
    return true;
}

using enum DeviceBytes;
using enum PictureKind;

// One row per format. Columns: name, biCompression, its synonym, biBitCount; the device codes
// (where a device lists two of a row, the first one it lists is taken); the planes as {bytes,
// pixels across, picture rows} of a group; row alignment, rows bottom-up, what the pixels show,
// the completeness check of compressed frames; the conversion to 24 bits and the encoding.
// clang-format off
constexpr std::array kFormats {
    FormatInfo {"rgb24", BI_RGB, 0, 24,
                {{{V4L2_PIX_FMT_BGR24}, {V4L2_PIX_FMT_RGB24, RedBlueSwapped}}},
                {{{3}}}, 4, true, Colour, nullptr,
                bgr24ToBgr, packed<libyuv::ARGBToRGB24>},
    FormatInfo {"rgb32", BI_RGB, 0, 32,
                {{{V4L2_PIX_FMT_XBGR32}, {V4L2_PIX_FMT_ABGR32}, {V4L2_PIX_FMT_BGR32}}},
                {{{4}}}, 4, true, Colour, nullptr,
                bgrxToBgr, packed<libyuv::ARGBCopy>},
    FormatInfo {"rgb16", BI_RGB, 0, 16,
                {{{V4L2_PIX_FMT_RGB555}, {V4L2_PIX_FMT_XRGB555}}},
                {{{2}}}, 4, true, Colour, nullptr,
                viaArgb<libyuv::ARGB1555ToARGB>, packed<libyuv::ARGBToARGB1555>},
    FormatInfo {"yuy2", FOURCC_YUY2, FOURCC_YUYV, 16,
                {{{V4L2_PIX_FMT_YUYV}}},
                {{{4, 2}}}, 1, false, Colour, nullptr,
                viaArgb<libyuv::YUY2ToARGB>, packed<libyuv::ARGBToYUY2>},
    FormatInfo {"uyvy", FOURCC_UYVY, 0, 16,
                {{{V4L2_PIX_FMT_UYVY}}},
                {{{4, 2}}}, 1, false, Colour, nullptr,
                viaArgb<libyuv::UYVYToARGB>, packed<libyuv::ARGBToUYVY>},
    FormatInfo {"nv12", FOURCC_NV12, 0, 12,
                {{{V4L2_PIX_FMT_NV12}}},
                {{{1}, {2, 2, 2}}}, 1, false, Colour, nullptr,
                biPlanarToBgr<libyuv::NV12ToRGB24>, biPlanar<libyuv::ARGBToNV12>},
    FormatInfo {"nv21", makeFourCC('N', 'V', '2', '1'), 0, 12,
                {{{V4L2_PIX_FMT_NV21}}},
                {{{1}, {2, 2, 2}}}, 1, false, Colour, nullptr,
                biPlanarToBgr<libyuv::NV21ToRGB24>, biPlanar<libyuv::ARGBToNV21>},
    FormatInfo {"i420", FOURCC_I420, FOURCC_IYUV, 12,
                {{{V4L2_PIX_FMT_YUV420}}},
                {{{1}, {1, 2, 2}, {1, 2, 2}}}, 1, false, Colour, nullptr,
                i420ToBgr, encodeI420},
    FormatInfo {"mjpg", FOURCC_MJPG, 0, 24,
                {{{V4L2_PIX_FMT_MJPEG}, {V4L2_PIX_FMT_JPEG}}},
                {}, 1, false, Colour, jpegFrameLooksComplete,
                jpegToBgr, encodeJpeg},
};
// clang-format on

// What the code walking the rows relies on.
constexpr bool rowsAreConsistent()
{
    for (std::size_t i = 0; i < kFormats.size(); ++i) {
        const FormatInfo &row = kFormats[i];
        const bool raw = row.planes[0].bytes != 0;
        // Raw frames are checked by their size, compressed ones by their row's check.
        if (raw == (row.looksWhole != nullptr) || !row.toBgr || !row.encode || row.lineAlign == 0)
            return false;
        for (const DeviceCode &device : row.devices) {
            // Only three-byte pixels have their red and blue swapped by the copy.
            if (device.bytes == RedBlueSwapped && (row.planes[0].bytes != 3 || row.planes[1].bytes))
                return false;
            for (std::size_t j = 0; device.code && j < kFormats.size(); ++j) {
                for (const DeviceCode &other : kFormats[j].devices) {
                    if (other.code == device.code && &other != &device)
                        return false; // a device code belongs to one row
                }
            }
        }
        for (std::size_t j = 0; j < i; ++j) {
            if (kFormats[j].compression == row.compression
                && (row.compression != BI_RGB || kFormats[j].bitCount == row.bitCount))
                return false; // a bitmap format has one row
        }
    }
    return true;
}
static_assert(rowsAreConsistent());

} // namespace

std::span<const FormatInfo> formatTable()
{
    return kFormats;
}

const FormatInfo *formatInfo(std::uint32_t compression, std::uint16_t bitCount)
{
    for (const FormatInfo &info : kFormats) {
        const bool code
            = info.compression == compression || (info.synonym != 0 && info.synonym == compression);
        if (code && (compression != BI_RGB || info.bitCount == bitCount))
            return &info;
    }
    return nullptr;
}

const FormatInfo *formatNamed(std::string_view name)
{
    for (const FormatInfo &info : kFormats) {
        if (info.name == name)
            return &info;
    }
    return nullptr;
}

namespace {

// Device codes that are no row: what their pictures show, and whether the conversion library
// turns them into 24-bit rows (checked against the library: packed 10-bit greyscale and depth
// are not converted).
struct OtherCode
{
    std::uint32_t code;
    PictureKind kind;
    bool converted;
};
// clang-format off
constexpr OtherCode kOtherCodes[] = {
    {V4L2_PIX_FMT_GREY, Greyscale, true},     {V4L2_PIX_FMT_Y16, Greyscale, true},
    {V4L2_PIX_FMT_Y10, Greyscale, false},     {V4L2_PIX_FMT_Y12, Greyscale, false},
    {V4L2_PIX_FMT_Y10BPACK, Greyscale, false},
    {V4L2_PIX_FMT_Z16, Depth, false},
    {V4L2_PIX_FMT_INZI, Infrared, false},     {V4L2_PIX_FMT_Y8I, Infrared, false},
    {V4L2_PIX_FMT_Y12I, Infrared, false},
    // Bayer sensors of older and simpler cameras.
    {V4L2_PIX_FMT_SBGGR8, Colour, true},      {V4L2_PIX_FMT_SGBRG8, Colour, true},
    {V4L2_PIX_FMT_SGRBG8, Colour, true},      {V4L2_PIX_FMT_SRGGB8, Colour, true},
    // Vendor formats of older USB cameras.
    {V4L2_PIX_FMT_SPCA501, Colour, true},     {V4L2_PIX_FMT_SPCA505, Colour, true},
    {V4L2_PIX_FMT_SPCA508, Colour, true},     {V4L2_PIX_FMT_SPCA561, Colour, true},
    {V4L2_PIX_FMT_SN9C10X, Colour, true},     {V4L2_PIX_FMT_SN9C20X_I420, Colour, true},
    {V4L2_PIX_FMT_PAC207, Colour, true},      {V4L2_PIX_FMT_MR97310A, Colour, true},
    {V4L2_PIX_FMT_JL2005BCD, Colour, true},   {V4L2_PIX_FMT_SQ905C, Colour, true},
    {V4L2_PIX_FMT_PJPG, Colour, true},        {V4L2_PIX_FMT_OV511, Colour, true},
    {V4L2_PIX_FMT_OV518, Colour, true},       {V4L2_PIX_FMT_STV0680, Colour, true},
    {V4L2_PIX_FMT_HM12, Colour, true},        {V4L2_PIX_FMT_CPIA1, Colour, true},
};
// clang-format on

const OtherCode *otherCode(std::uint32_t deviceCode)
{
    for (const OtherCode &other : kOtherCodes) {
        if (other.code == deviceCode)
            return &other;
    }
    return nullptr;
}

} // namespace

std::optional<DeviceFormat> formatForDevice(std::uint32_t deviceCode)
{
    for (const FormatInfo &info : kFormats) {
        for (const DeviceCode &device : info.devices) {
            if (device.code != 0 && device.code == deviceCode)
                return DeviceFormat {&info, device.bytes};
        }
    }
    // Converted frames are 24-bit rows, top-down as the library writes them.
    static_assert(kFormats[0].compression == BI_RGB && kFormats[0].bitCount == 24);
    if (const OtherCode *other = otherCode(deviceCode); other && other->converted)
        return DeviceFormat {&kFormats[0], DeviceBytes::Converted};
    return std::nullopt;
}

PictureKind pictureKindOf(std::uint32_t deviceCode)
{
    if (const OtherCode *other = otherCode(deviceCode))
        return other->kind;
    for (const FormatInfo &info : kFormats) {
        for (const DeviceCode &device : info.devices) {
            if (device.code != 0 && device.code == deviceCode)
                return info.kind;
        }
    }
    return Colour;
}

std::uint32_t canonicalCompression(std::uint32_t compression)
{
    const FormatInfo *info = compression == BI_RGB ? nullptr : formatInfo(compression, 0);
    return info ? info->compression : compression;
}

FrameLayout frameLayout(const FormatInfo &info, std::int64_t width, std::int64_t height,
                        std::uint64_t deviceLine)
{
    FrameLayout layout;
    const PlaneInfo &luma = info.planes[0];
    std::uint64_t offset = 0;
    for (std::size_t i = 0; i < info.planes.size() && info.planes[i].bytes != 0; ++i) {
        const PlaneInfo &plane = info.planes[i];
        layout.rowBytes[i]
            = std::uint64_t((width + plane.columns - 1) / plane.columns) * plane.bytes;
        layout.rows[i] = std::uint64_t((height + plane.rows - 1) / plane.rows);
        if (deviceLine == 0) {
            layout.line[i]
                = (layout.rowBytes[i] + info.lineAlign - 1) / info.lineAlign * info.lineAlign;
        } else {
            // A device's other planes have rows in proportion to its luma rows, rounded up.
            const std::uint64_t per = std::uint64_t(luma.bytes) * plane.columns;
            layout.line[i] = (deviceLine * plane.bytes * luma.columns + per - 1) / per;
        }
        layout.offset[i] = offset;
        offset += layout.line[i] * layout.rows[i];
    }
    layout.bytes = offset;
    return layout;
}

bool copyFrame(const FormatInfo &info, DeviceBytes bytes, int width, int height,
               const ConstFramePlanes &in, const FramePlanes<std::uint8_t> &out)
{
    if (bytes == Converted)
        return false;
    const FrameLayout layout = frameLayout(info, width, height);
    for (std::size_t i = 0; i < 3 && layout.rows[i] > 0; ++i) {
        const int rows = int(layout.rows[i]);
        if (bytes == RedBlueSwapped) {
            // Swapping red and blue is its own inverse.
            if (libyuv::RAWToRGB24(in.data[i], in.line[i], out.data[i], out.line[i], width, rows)
                != 0)
                return false;
            continue;
        }
        libyuv::CopyPlane(in.data[i], in.line[i], out.data[i], out.line[i], int(layout.rowBytes[i]),
                          rows);
    }
    return true;
}

std::optional<std::uint32_t> frameBytes(const VideoFormat &format)
{
    const std::int64_t w = format.width, h = format.height;
    const FormatInfo *info = formatInfo(format);
    if (!info || w <= 0 || h <= 0 || w > std::numeric_limits<std::int32_t>::max() / 32)
        return std::nullopt;
    // A camera's compressed frame stays well below its raw size; the decoded frame is the bound.
    const std::uint64_t bytes
        = info->raw() ? frameLayout(*info, w, h).bytes : dibStride(w, 24) * std::uint64_t(h);
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

std::uint32_t minimumDeviceLine(const FormatInfo &info, std::uint32_t width)
{
    return info.raw() ? std::uint32_t(frameLayout(info, width, 1).rowBytes[0]) : 0;
}

std::span<const std::uint8_t> deliveredFrame(const VideoFormat &format, DeviceBytes bytes,
                                             std::uint64_t deviceLine,
                                             std::span<const std::uint8_t> raw,
                                             std::vector<std::uint8_t> &scratch)
{
    const FormatInfo *info = formatInfo(format);
    const std::optional<std::uint32_t> size = frameBytes(format);
    if (!info || !size)
        return {};
    const int width = format.width, height = format.height;
    if (!info->raw())
        return info->looksWhole(raw, width, height) ? withoutTrailingPadding(raw)
                                                    : std::span<const std::uint8_t> {};
    const FrameLayout device = frameLayout(*info, width, height, deviceLine);
    const FrameLayout delivered = frameLayout(*info, width, height);
    if (raw.size() < device.bytes)
        return {};
    if (!info->bottomUp && bytes == DeviceBytes::AsFrame && device.line == delivered.line)
        return raw.first(*size);
    scratch.resize(*size);
    copyFrame(*info, bytes, width, height, framePlanes(device, raw.data(), false),
              framePlanes(delivered, scratch.data(), info->bottomUp));
    return std::span<const std::uint8_t>(scratch.data(), *size);
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
