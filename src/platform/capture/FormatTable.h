#pragma once

#include "platform/capture/VfwTypes.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

// Frame formats: one row per format a camera can deliver, with everything the capture code needs
// to know about it (device codes, bitmap header, planes and their sizes, row order, the
// conversion to a 24-bit bitmap and the encoding from a drawn picture), and the pure functions
// around it (frame sizes, headers, the choice of the nearest offered format, a cheap completeness
// check of JPEG frames). The drivers, the decompressors, the virtual cameras and the fake devices
// walk the rows; a new format is a row and its conversions in FormatTable.cpp.
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

// Where the planes of a frame lie. Lines may be negative: a bottom-up frame is seen through its
// last row, so that every conversion reads and writes pictures top-down.
template<class Byte> struct FramePlanes
{
    std::array<Byte *, 3> data {};
    std::array<int, 3> line {};
};
using ConstFramePlanes = FramePlanes<const std::uint8_t>;

// A picture as it is drawn: top-down rows of 32-bit pixels (blue, green, red, unused).
struct PictureView
{
    const std::uint8_t *pixels = nullptr;
    int width = 0;
    int height = 0;
    int line = 0;
};

// What the conversions keep from frame to frame (FrameCodec.h).
struct CodecState;

struct DecodeJob
{
    std::span<const std::uint8_t> frame; // the frame's real bytes
    ConstFramePlanes planes; // raw formats: where its planes lie
    int width = 0;
    int height = 0;
    std::uint8_t *bgr = nullptr; // top row of the 24-bit picture
    int line = 0; // from one picture row to the next (negative: a bottom-up bitmap)
    bool fast = false; // a faster, slightly less exact transform will do
};

struct EncodeJob
{
    PictureView picture;
    FramePlanes<std::uint8_t> planes; // raw formats: where the frame's planes go
    std::vector<std::uint8_t> *stream = nullptr; // compressed formats: receives the whole stream
};

// One plane of a raw format: bytes of one group of `columns` pixels across, and one plane row
// for every `rows` rows of the picture (chroma subsampling).
struct PlaneInfo
{
    std::uint8_t bytes = 0; // 0: no such plane
    std::uint8_t columns = 1;
    std::uint8_t rows = 1;
};

// How a device's bytes differ from the row's frames. Devices deliver rows top-down; the driver's
// copy turns them bottom-up where the row's frames are. The first two are their own inverse, so
// the same copy turns delivered frames back into a device's (the fake devices do).
enum class DeviceBytes : std::uint8_t {
    AsFrame, // the row's byte order
    RedBlueSwapped, // red-green-blue pixels where the bitmap has blue-green-red
    // Bayer, greyscale and vendor formats: the conversion library turns them into the row's
    // top-down rows first (the driver does, through the device's own ioctl entry).
    Converted,
};

struct DeviceCode
{
    std::uint32_t code = 0; // the device's four-character code; 0 ends the list
    DeviceBytes bytes = DeviceBytes::AsFrame;
};

// What a format's pixels show. Only colour cameras are chosen without being asked for.
enum class PictureKind : std::uint8_t { Colour, Infrared, Depth, Greyscale };

struct FormatInfo
{
    std::string_view name; // as VEDEREVE_VIRTUAL_CAMERAS writes it
    std::uint32_t compression; // biCompression
    std::uint32_t synonym; // another biCompression for the same frames; 0 none
    std::uint16_t bitCount; // biBitCount; tells BI_RGB formats apart
    // The device codes delivered in this format; where a device offers two of them for the same
    // size, the first one it lists is taken.
    std::array<DeviceCode, 3> devices;
    std::array<PlaneInfo, 3> planes; // none: a compressed stream
    std::uint8_t lineAlign; // rows padded to a multiple of this many bytes
    bool bottomUp; // rows bottom-up, as a bitmap's
    PictureKind kind;
    // Compressed streams: whether a frame is whole (a damaged one is dropped before decoding).
    bool (*looksWhole)(std::span<const std::uint8_t> frame, int width, int height);
    // Into a 24-bit picture. ICERR_OK or an ICERR code; nothing is written outside job's buffers.
    std::int32_t (*toBgr)(CodecState &, const DecodeJob &job);
    // From a drawn picture of the format's size into the frame a camera would send.
    bool (*encode)(CodecState &, const EncodeJob &job);

    bool raw() const { return planes[0].bytes != 0; }
    VideoFormat at(int width, int height) const { return {compression, bitCount, width, height}; }
};

// Every row, bitmap formats first.
std::span<const FormatInfo> formatTable();

// The row of a format; nullptr for one we do not take. BI_RGB rows differ by bit count, others
// by code (or synonym) alone.
const FormatInfo *formatInfo(std::uint32_t compression, std::uint16_t bitCount);
inline const FormatInfo *formatInfo(const VideoFormat &format)
{
    return formatInfo(format.compression, format.bitCount);
}
const FormatInfo *formatNamed(std::string_view name);

struct DeviceFormat
{
    const FormatInfo *info = nullptr;
    DeviceBytes bytes = DeviceBytes::AsFrame;
};
// The row of a device's code; nothing for a code we do not take. Codes the conversion library
// turns into 24-bit rows come with DeviceBytes::Converted, and a device offers them only at sizes
// none of its own formats has: a format we decode ourselves is cheaper and keeps the camera's
// own colours.
std::optional<DeviceFormat> formatForDevice(std::uint32_t deviceCode);

// What the pictures of a device code show: a row's kind, or that of a monochrome or Bayer code;
// colour for a code we know nothing of (a compressed stream such as H264 shows colour, though we
// do not take it).
PictureKind pictureKindOf(std::uint32_t deviceCode);

// Synonyms folded onto one code ('YUYV' is 'YUY2', 'IYUV' is 'I420'); others unchanged.
std::uint32_t canonicalCompression(std::uint32_t compression);

// Bytes of one row of a bottom-up bitmap, padded to 4.
constexpr std::uint64_t dibStride(std::int64_t width, int bitCount)
{
    return std::uint64_t((width * bitCount + 31) / 32) * 4;
}

// Where the planes of a raw frame lie, relative to its first byte.
struct FrameLayout
{
    std::array<std::uint64_t, 3> offset {};
    std::array<std::uint64_t, 3> line {}; // from one plane row to the next
    std::array<std::uint64_t, 3> rowBytes {}; // bytes of pixels in one plane row
    std::array<std::uint64_t, 3> rows {};
    std::uint64_t bytes = 0; // the whole frame
};
// The layout of a raw frame of info at width x height (both positive). deviceLine 0: as it is
// delivered (rows padded to the row's alignment); otherwise as a device lays it out with
// deviceLine bytes per luma row, the other planes' rows in proportion.
FrameLayout frameLayout(const FormatInfo &info, std::int64_t width, std::int64_t height,
                        std::uint64_t deviceLine = 0);
// The shortest luma row a device may use for a raw format: its pixels without padding; 0 for a
// compressed one.
std::uint32_t minimumDeviceLine(const FormatInfo &info, std::uint32_t width);
// The planes of a frame at base with that layout, seen top-down when bottomUp.
template<class Byte>
FramePlanes<Byte> framePlanes(const FrameLayout &layout, Byte *base, bool bottomUp)
{
    FramePlanes<Byte> planes;
    for (std::size_t i = 0; i < 3 && layout.rows[i] > 0; ++i) {
        planes.data[i] = base + layout.offset[i];
        planes.line[i] = int(layout.line[i]);
        if (bottomUp) {
            planes.data[i] += (layout.rows[i] - 1) * layout.line[i];
            planes.line[i] = -planes.line[i];
        }
    }
    return planes;
}

// Copies a raw frame between a device's layout and the delivered one, in either direction.
bool copyFrame(const FormatInfo &info, DeviceBytes bytes, int width, int height,
               const ConstFramePlanes &in, const FramePlanes<std::uint8_t> &out);

// The frame a driver hands out for a frame of format its device left in raw: a compressed frame
// must look whole and loses its trailing padding; a raw frame, laid out with deviceLine bytes per
// luma row, must be complete. The result is raw itself where its layout already is the delivered
// one, else the rows flipped and planes packed into scratch; empty when the frame is damaged or
// short.
std::span<const std::uint8_t> deliveredFrame(const VideoFormat &format, DeviceBytes bytes,
                                             std::uint64_t deviceLine,
                                             std::span<const std::uint8_t> raw,
                                             std::vector<std::uint8_t> &scratch);

// Bytes of one frame: exact for raw formats, the largest accepted for compressed ones. Nothing
// for a format with a size outside 1..kMaxFrameBytes or a code we do not know.
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
