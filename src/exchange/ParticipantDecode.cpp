#include "exchange/ParticipantDecode.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "base/DebugTrace.h"
#include "platform/jpeg/Jpeg.h"
#include "platform/picture/PictureLoader.h"
#include "support/cDibSection.h"

namespace participant {

namespace {

using modImageMemMapFunctions::ImageHeader;
using modImageMemMapFunctions::kImageHeaderSize;

constexpr bool sizeInRange(std::int32_t size)
{
    return size >= 1 && size <= kMaxOrigSize;
}

constexpr bool sideInRange(std::int64_t side)
{
    return side >= 1 && side <= kMaxPictureSide;
}

// One decoder for the thread: creating one per picture costs more than small pictures do.
std::optional<platform::jpeg::Decoder> &threadDecoder()
{
    thread_local std::optional<platform::jpeg::Decoder> decoder;
    if (!decoder)
        decoder.emplace();
    return decoder;
}

// Decodes a JPEG stream straight into a fresh bitmap's bits; false on any failure.
bool jpegBitmap(std::span<const std::uint8_t> data, std::unique_ptr<cDibSection> &bitmap)
{
    platform::jpeg::Decoder &decoder = *threadDecoder();
    if (!decoder.isValid() || data.empty())
        return false;
    const std::optional<platform::jpeg::Header> jpeg = decoder.readHeader(data.data(), data.size());
    if (!jpeg || !sideInRange(jpeg->width) || !sideInRange(jpeg->height))
        return false;
    bitmap = std::make_unique<cDibSection>();
    if (!bitmap->Create(jpeg->width, jpeg->height, 24) || !bitmap->DIBSectionBitsPtr())
        return false;
    const platform::jpeg::BgrBitmap target {bitmap->DIBSectionBitsPtr(),
                                            std::size_t(bitmap->TotalBytes()), jpeg->width,
                                            jpeg->height, bitmap->BytesPerScanLine()};
    return decoder.decode(data.data(), data.size(), target);
}

// Fills a fresh bitmap with raw bottom-up rows; false when it cannot be created.
bool rawBitmap(const ImageHeader &header, std::span<const std::uint8_t> data,
               std::unique_ptr<cDibSection> &bitmap)
{
    if (!sideInRange(header.Width) || !sideInRange(header.Height))
        return false;
    bitmap = std::make_unique<cDibSection>();
    if (!bitmap->Create(header.Width, header.Height, header.BitsPerPixel))
        return false;
    // OrigSize should equal TotalBytes; a sender that says otherwise must not make us overrun
    // the bitmap, nor read past the data we have.
    const std::size_t count
        = std::min({std::size_t(std::max(header.OrigSize, 0)),
                    std::size_t(std::max(bitmap->TotalBytes(), 0)), data.size()});
    if (count > 0 && bitmap->DIBSectionBitsPtr())
        std::memcpy(bitmap->DIBSectionBitsPtr(), data.data(), count);
    return true;
}

} // namespace

std::int32_t DecompressData(std::vector<std::uint8_t> &Data, std::int32_t OrigSize)
{
    if (!sizeInRange(OrigSize))
        return OrigSize == 0 ? -1 : 0;
    const std::size_t capacity = std::size_t(OrigSize) + 1;
    std::vector<std::uint8_t> expanded;
    try {
        expanded.resize(capacity);
    } catch (const std::bad_alloc &) {
        return 0;
    }
    uLongf length = uLongf(capacity);
    const int result = uncompress(expanded.data(), &length, Data.data(), uLong(Data.size()));
    if (result != Z_OK) {
        DebugTrace::Trace("WebCam DecompressData failed");
        return std::int32_t(capacity);
    }
    // Handing over the buffer saves copying a whole expanded picture once more.
    expanded.resize(length);
    Data.swap(expanded);
    return std::int32_t(length);
}

std::optional<QImage> PictureFromBytes(std::span<const std::uint8_t> Data)
{
    if (Data.empty())
        return std::nullopt;
    return platform::picture::loadFromBytes(Data.data(), Data.size());
}

QString trimSpaces(const QString &text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text[first] == u' ')
        ++first;
    while (last > first && text[last - 1] == u' ')
        --last;
    return text.mid(first, last - first);
}

void resetDecoders()
{
    threadDecoder().reset();
}

std::optional<ReceivedBlock> readParticipantBlock(const modImageMemMapFunctions::ImageBlock &block)
{
    using DebugTrace::Trace;
    const std::size_t blockSize = block.size();

    Trace("WebCam UpdateParticipantNow - Preparing to copy image header");
    // One copy of the header: the parent may still be writing to the block, and every later
    // decision must rest on the same values.
    modImageMemMapFunctions::Header bytes {};
    if (blockSize < kImageHeaderSize || block.read(0, bytes) != kImageHeaderSize)
        return std::nullopt;
    const std::optional<ImageHeader> header = modImageMemMapFunctions::fromBytes(bytes);
    Trace("WebCam UpdateParticipantNow - Image header copied");

    if (header->Marker != modImageMemMapFunctions::kImageMarker
        || header->Destination != kParticipantDestination)
        return std::nullopt;

    // A length the block cannot hold counts as a failed copy, as reading past its end would.
    if (!sizeInRange(header->DataLength)
        || std::size_t(header->DataLength) > blockSize - kImageHeaderSize)
        return std::nullopt;
    ReceivedBlock received {*header, {}};
    Trace("WebCam UpdateParticipantNow - Preparing to copy image data");
    received.data.resize(std::size_t(header->DataLength));
    if (block.read(kImageHeaderSize, received.data) != received.data.size())
        return std::nullopt;
    Trace("WebCam UpdateParticipantNow - Image data copied");

    if (header->PictureFormat != PictureFile && header->PictureFormat != StoredOnly) {
        if (DecompressData(received.data, header->OrigSize) != header->OrigSize)
            return std::nullopt;
    }
    return received;
}

DecodedPicture::DecodedPicture() = default;
DecodedPicture::~DecodedPicture() = default;
DecodedPicture::DecodedPicture(DecodedPicture &&) noexcept = default;
DecodedPicture &DecodedPicture::operator=(DecodedPicture &&) noexcept = default;

void decodeByFormat(const ImageHeader &header, std::span<const std::uint8_t> data,
                    DecodedPicture &out)
{
    out = DecodedPicture();
    bool decoded = false;
    switch (header.PictureFormat) {
    case RawBitmap:
        decoded = rawBitmap(header, data, out.bitmap);
        break;
    case PictureFile:
        out.kind = DecodedPicture::Kind::PictureFile;
        out.picture = PictureFromBytes(data).value_or(QImage());
        return;
    case CompressedJpeg:
        decoded = jpegBitmap(data, out.bitmap);
        break;
    default:
        return;
    }
    if (!decoded) {
        out.bitmap.reset();
        return;
    }
    out.kind = DecodedPicture::Kind::Bitmap;
    out.offset = QPoint(centringOffset(out.bitmap->Width(), kAreaWidth),
                        centringOffset(out.bitmap->Height(), kAreaHeight));
}

} // namespace participant
