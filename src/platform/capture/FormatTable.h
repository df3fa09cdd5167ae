#pragma once

#include "platform/capture/VfwTypes.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

// Frame formats: the one table between device pixel formats and bitmap headers, frame sizes,
// the choice of the nearest offered format and a cheap completeness check of JPEG frames. Pure
// functions, shared by the drivers and the decompressors.
namespace platform::vfw {

constexpr std::uint32_t FOURCC_MJPG = makeFourCC('M', 'J', 'P', 'G');
constexpr std::uint32_t FOURCC_YUY2 = makeFourCC('Y', 'U', 'Y', '2');
constexpr std::uint32_t FOURCC_YUYV = makeFourCC('Y', 'U', 'Y', 'V');
constexpr std::uint32_t FOURCC_UYVY = makeFourCC('U', 'Y', 'V', 'Y');
constexpr std::uint32_t FOURCC_NV12 = makeFourCC('N', 'V', '1', '2');
constexpr std::uint32_t FOURCC_I420 = makeFourCC('I', '4', '2', '0');
constexpr std::uint32_t FOURCC_IYUV = makeFourCC('I', 'Y', 'U', 'V');

// Frames above this size are refused wherever they come from (a 4096 x 4096 picture at 32 bits
// fits); it also bounds what a device's own size claims can make us allocate.
constexpr std::uint64_t kMaxFrameBytes = 64 * 1024 * 1024;

// A frame format as a bitmap header describes it. Sizes are positive; BI_RGB frames are
// delivered bottom-up with rows padded to 4 bytes, compressed frames top-down.
struct VideoFormat
{
    std::uint32_t compression = BI_RGB;
    std::uint16_t bitCount = 24;
    std::int32_t width = 0;
    std::int32_t height = 0;

    friend bool operator==(const VideoFormat &, const VideoFormat &) = default;
};

// How a driver turns a device's rows into the frame it delivers.
enum class RowOrder : std::uint8_t {
    AsIs, // compressed or planar: passed on unchanged
    Flip, // top-down rows in the bitmap's byte order: flipped to bottom-up
    FlipSwapRedBlue, // top-down red-green-blue rows: flipped and turned into blue-green-red
};

struct PixelFormatMapping
{
    std::uint32_t device; // the device's four-character code
    std::uint32_t compression; // biCompression
    std::uint16_t bitCount; // biBitCount
    RowOrder rows;
};

// In order of preference when a device offers two codes for the same bitmap format.
inline constexpr std::array kPixelFormats {
    PixelFormatMapping {makeFourCC('B', 'G', 'R', '3'), BI_RGB, 24, RowOrder::Flip},
    PixelFormatMapping {makeFourCC('R', 'G', 'B', '3'), BI_RGB, 24, RowOrder::FlipSwapRedBlue},
    PixelFormatMapping {makeFourCC('X', 'R', '2', '4'), BI_RGB, 32, RowOrder::Flip},
    PixelFormatMapping {makeFourCC('A', 'R', '2', '4'), BI_RGB, 32, RowOrder::Flip},
    PixelFormatMapping {makeFourCC('B', 'G', 'R', '4'), BI_RGB, 32, RowOrder::Flip},
    PixelFormatMapping {makeFourCC('R', 'G', 'B', 'O'), BI_RGB, 16, RowOrder::Flip},
    PixelFormatMapping {makeFourCC('X', 'R', '1', '5'), BI_RGB, 16, RowOrder::Flip},
    PixelFormatMapping {FOURCC_YUYV, FOURCC_YUY2, 16, RowOrder::AsIs},
    PixelFormatMapping {FOURCC_UYVY, FOURCC_UYVY, 16, RowOrder::AsIs},
    PixelFormatMapping {FOURCC_NV12, FOURCC_NV12, 12, RowOrder::AsIs},
    PixelFormatMapping {makeFourCC('Y', 'U', '1', '2'), FOURCC_I420, 12, RowOrder::AsIs},
    PixelFormatMapping {FOURCC_MJPG, FOURCC_MJPG, 24, RowOrder::AsIs},
    PixelFormatMapping {makeFourCC('J', 'P', 'E', 'G'), FOURCC_MJPG, 24, RowOrder::AsIs},
};

// The mapping of a device code, nullptr for a code we do not take.
const PixelFormatMapping *mappingForDevice(std::uint32_t deviceCode);

// Synonyms folded onto one code ('YUYV' is 'YUY2', 'IYUV' is 'I420'); others unchanged.
std::uint32_t canonicalCompression(std::uint32_t compression);

// Bytes of one row of a bottom-up bitmap, padded to 4.
constexpr std::uint64_t dibStride(std::int64_t width, int bitCount)
{
    return std::uint64_t((width * bitCount + 31) / 32) * 4;
}

// Bytes of one frame: exact for uncompressed formats, the largest accepted for compressed
// ones. Nothing for a format with a size outside 1..kMaxFrameBytes or a code we do not know.
std::optional<std::uint32_t> frameBytes(const VideoFormat &format);

BITMAPINFOHEADER headerFor(const VideoFormat &format);
// The format a header asks for: absolute height, synonyms folded.
VideoFormat formatFromHeader(const BITMAPINFOHEADER &header);

// The offered format a driver picks for a request: the wanted kind (compression and, for BI_RGB,
// bit count) when offered, else the current kind, else any; among those the size nearest to the
// wanted one (smallest sum of width and height differences; on a tie the larger). Nothing when
// nothing is offered.
std::optional<VideoFormat> nearestFormat(std::span<const VideoFormat> offered,
                                         const VideoFormat &wanted, const VideoFormat &current);

// A cheap check that a camera's JPEG frame is whole: start of image, a frame header of the
// expected size, a scan, and the end-of-image marker at the end (zero padding after it allowed).
// Cameras hand out damaged and truncated frames right after they start.
bool jpegFrameLooksComplete(std::span<const std::uint8_t> frame, int width, int height);

// The frame without the zero padding some cameras put after the end-of-image marker.
std::span<const std::uint8_t> withoutTrailingPadding(std::span<const std::uint8_t> frame);

} // namespace platform::vfw
