#pragma once

#include <QImage>
#include <QPoint>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "exchange/ImageBlock.h"
#include "exchange/modImageMemMapFunctions.h"

class cDibSection;

// Reading and decoding the participant pictures that the parent hands over in image blocks. The
// panel calls readParticipantBlock and decodeByFormat on a queued block and paints the result.
//
// Everything here treats the block as hostile input. Limits:
// - blocks are read through their descriptor, never mapped, so a block that its owner shrinks
//   gives a short read (a failed copy: the picture is dropped) instead of a fault; every read
//   stays within the block's real size, whatever the header claims;
// - DataLength and OrigSize must lie in 1..kMaxOrigSize, Width and Height (of the header for
//   format 1, of the JPEG stream for format 123) in 1..kMaxPictureSide; anything else is refused
//   before memory is allocated for it;
// - raw bitmap bits are copied into a bitmap no further than its TotalBytes;
// - a corrupt zlib or JPEG stream, or an unreadable picture file, costs that picture only.
namespace participant {

// Largest expanded picture accepted: several times a raw 640 x 480 frame, far below what could
// exhaust memory.
inline constexpr std::int32_t kMaxOrigSize = 64 * 1024 * 1024;
// Longest side of a picture accepted.
inline constexpr std::int32_t kMaxPictureSide = 16384;

// The participant area pictures are centred in.
inline constexpr std::int32_t kAreaWidth = 176;
inline constexpr std::int32_t kAreaHeight = 144;

inline constexpr std::uint8_t kParticipantDestination = 8;

enum PictureFormat : std::uint8_t {
    RawBitmap = 1,
    PictureFile = 2,
    StoredOnly = 3,
    CompressedJpeg = 123,
};

// Offset that centres extent pixels in area pixels: half the difference, a half rounded to the
// even neighbour (so 1.5 gives 2 and 0.5 gives 0); 0 when the picture is as large or larger.
constexpr std::int32_t centringOffset(std::int32_t extent, std::int32_t area)
{
    if (extent >= area)
        return 0;
    const std::int64_t spare = std::int64_t(area) - extent;
    std::int64_t half = spare / 2;
    if (spare % 2 != 0 && half % 2 != 0)
        ++half;
    return std::int32_t(half);
}

// Replaces Data with its zlib expansion and returns the expanded length. The buffer holds one
// byte more than OrigSize, so a stream that expands to more than OrigSize never reports OrigSize.
// When uncompress fails the trace "WebCam DecompressData failed" is written, Data is left as it
// is and OrigSize + 1 is returned. An OrigSize outside 1..kMaxOrigSize allocates nothing, leaves
// Data as it is and returns a value other than OrigSize.
std::int32_t DecompressData(std::vector<std::uint8_t> &Data, std::int32_t OrigSize);

// The picture held by a complete picture file (any format the picture loader reads); nothing
// when it cannot be read.
std::optional<QImage> PictureFromBytes(std::span<const std::uint8_t> Data);

// VB-style Trim: leading and trailing spaces only, other white space stays.
QString trimSpaces(const QString &text);

struct ReceivedBlock
{
    modImageMemMapFunctions::ImageHeader header;
    // The data part, copied out of the view and expanded where the format asks for it.
    std::vector<std::uint8_t> data;
};

// The checks and copies of one block, with their trace lines: header copy, marker 32 and
// destination 8, the data copy, and zlib expansion unless the format is 2 or 3. nullopt means the
// picture is dropped.
std::optional<ReceivedBlock> readParticipantBlock(const modImageMemMapFunctions::ImageBlock &block);

struct DecodedPicture
{
    enum class Kind {
        Nothing, // not drawn: format 3, another format, or a picture that failed to decode
        Bitmap, // paint bitmap at offset, at its natural size
        PictureFile, // becomes the box's picture at its top-left corner
    };
    Kind kind = Kind::Nothing;
    std::unique_ptr<cDibSection> bitmap;
    QPoint offset;
    // Null when the picture file could not be read: the box is then left without a picture.
    QImage picture;

    DecodedPicture();
    ~DecodedPicture();
    DecodedPicture(DecodedPicture &&) noexcept;
    DecodedPicture &operator=(DecodedPicture &&) noexcept;
};

// Decodes an accepted block's data by its format into out: raw bitmap rows (1), a picture file
// (2), a JPEG stream (123, its own width and height replace the header's). Format 1 and 123 come
// back as a fresh bitmap with its centring offsets. The bitmap is out's from the moment it is
// made, so that a decoder that faults half-way leaves it to the caller to free.
void decodeByFormat(const modImageMemMapFunctions::ImageHeader &header,
                    std::span<const std::uint8_t> data, DecodedPicture &out);

// Replaces this thread's JPEG decoder, after a fault left it in an unknown state.
void resetDecoders();

} // namespace participant
