#pragma once

#include <QImage>
#include <QPoint>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>

#include "exchange/ImageBlock.h"
#include "exchange/modImageMemMapFunctions.h"

class cDibSection;
namespace platform::jpeg {
class Decoder;
}

// Reading and decoding the participant pictures that the parent hands over in image blocks. The
// panel hands each queued block to its Receiver and paints the result.
//
// Everything here treats the block as hostile input. Limits:
// - blocks are read through their descriptor, never mapped, so a block that its owner shrinks
//   gives a short read (a failed copy: the picture is dropped) instead of a fault; every read
//   stays within the block's real size, whatever the header claims;
// - DataLength and OrigSize must lie in 1..kMaxOrigSize, Width and Height (of the header for
//   format 1, of the JPEG stream for format 123) in 1..kMaxPictureSide; anything else is refused
//   before memory is allocated for it;
// - raw bitmap bits are expanded into a bitmap no further than its TotalBytes;
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

// Expands the zlib stream Data, expected to give OrigSize bytes, into out and returns the
// expanded length. What does not fit into out is counted but not kept. Room is left for one byte
// more than OrigSize, so a stream that expands to more never reports OrigSize. When the stream is
// damaged, cut short or longer than that, the trace "WebCam DecompressData failed" is written and
// OrigSize + 1 is returned. An OrigSize outside 1..kMaxOrigSize expands nothing and returns a
// value other than OrigSize.
std::int32_t DecompressData(std::span<const std::uint8_t> Data, std::int32_t OrigSize,
                            std::span<std::uint8_t> out);

// The picture held by a complete picture file (any format the picture loader reads); nothing
// when it cannot be read.
std::optional<QImage> PictureFromBytes(std::span<const std::uint8_t> Data);

// VB-style Trim: leading and trailing spaces only, other white space stays.
QString trimSpaces(const QString &text);

struct ReceivedBlock
{
    modImageMemMapFunctions::ImageHeader header;
    // The data part as copied (formats 2 and 3) or as expanded (the others), in the receiver's
    // buffers until its next picture. Raw bitmap rows (format 1) are expanded straight into the
    // receiver's bitmap instead and leave this empty.
    std::span<const std::uint8_t> data;
    // Bytes in the data part: DataLength, or OrigSize once expanded.
    std::size_t length = 0;
};

struct DecodedPicture
{
    enum class Kind {
        Nothing, // not drawn: format 3, another format, or a picture that failed to decode
        Bitmap, // paint bitmap at offset, at its natural size
        PictureFile, // becomes the box's picture at its top-left corner
    };
    Kind kind = Kind::Nothing;
    // The receiver's bitmap, valid until its next picture.
    cDibSection *bitmap = nullptr;
    QPoint offset;
    // Null when the picture file could not be read: the box is then left without a picture.
    QImage picture;
};

// Reads, expands and decodes one participant picture after another. What a picture needs (the
// copied data, its expansion, the bitmap it is decoded into, the JPEG decoder) is kept for the
// next one: allocating and clearing it afresh cost more than decoding a small picture does.
// Buffers larger than kKeptBytes are let go after their picture (trim()).
class Receiver
{
public:
    // Enough for the pictures a camera sends (1920 x 1080 x 3 bytes), far below the largest
    // picture accepted.
    static constexpr std::size_t kKeptBytes = 8 * 1024 * 1024;

    Receiver();
    ~Receiver();
    Receiver(const Receiver &) = delete;
    Receiver &operator=(const Receiver &) = delete;

    // The checks and copies of one block, with their trace lines: header copy, marker 32 and
    // destination 8, the data copy, then expand(). nullopt means the picture is dropped.
    std::optional<ReceivedBlock> read(const modImageMemMapFunctions::ImageBlock &block);
    // zlib expansion unless the format is 2 or 3; nullopt when it does not give exactly OrigSize
    // bytes. Raw bitmap rows go straight into the bitmap, no further than its TotalBytes; what
    // they leave of it is cleared, so nothing of an earlier picture remains.
    std::optional<ReceivedBlock> expand(const modImageMemMapFunctions::ImageHeader &header,
                                        std::span<const std::uint8_t> data);
    // Decodes an accepted block by its format into out: the bitmap that expand() filled (1), a
    // picture file (2), a JPEG stream decoded into the bitmap (123, its own width and height
    // replace the header's), with the bitmap's centring offsets.
    void decode(const ReceivedBlock &received, DecodedPicture &out);

    enum class Arrival {
        Dropped, // unusable or faulting: nothing changes on screen
        NewsOnly, // a single data byte: no picture and no names, only the news that one came
        Picture, // decoded (or not drawable), with the names
    };
    // A queued picture from its block to the screen but for the painting: read(), decode() in a
    // guard, show() with the picture (nullptr for news only) unless it was dropped, then the
    // block is released. A fault inside the decoders drops that picture only, and the receiver
    // starts again afresh: the bytes come from another process.
    Arrival receive(modImageMemMapFunctions::ImageBlock block,
                    const std::function<void(const DecodedPicture *)> &show);

    // Forgets the bitmap and the decoder, after a fault left them in an unknown state, and trims.
    void reset();
    // Lets go of whatever is larger than kKeptBytes.
    void trim();

private:
    class Buffer;
    // The kept bitmap when it has this size and depth, else a fresh one; null when it cannot be
    // made.
    cDibSection *bitmapFor(std::int32_t width, std::int32_t height, std::int32_t bitCount);
    bool decodeJpeg(std::span<const std::uint8_t> data);

    std::unique_ptr<Buffer> m_copy;
    std::unique_ptr<Buffer> m_expanded;
    std::unique_ptr<cDibSection> m_bitmap;
    // True while the bitmap holds the raw rows that the last expand() wrote.
    bool m_rawRows = false;
    std::unique_ptr<platform::jpeg::Decoder> m_decoder;
};

} // namespace participant
