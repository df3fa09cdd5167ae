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

std::unique_ptr<cDibSection> decodeJpeg(platform::jpeg::Decoder &decoder,
                                        std::span<const std::uint8_t> data)
{
    if (!decoder.isValid() || data.empty())
        return nullptr;
    const std::optional<platform::jpeg::Header> jpeg = decoder.readHeader(data.data(), data.size());
    if (!jpeg || !sideInRange(jpeg->width) || !sideInRange(jpeg->height))
        return nullptr;
    auto bitmap = std::make_unique<cDibSection>();
    if (!bitmap->Create(jpeg->width, jpeg->height, 24) || !bitmap->DIBSectionBitsPtr())
        return nullptr;
    const platform::jpeg::BgrBitmap target {bitmap->DIBSectionBitsPtr(),
                                            std::size_t(bitmap->TotalBytes()), jpeg->width,
                                            jpeg->height, bitmap->BytesPerScanLine()};
    if (!decoder.decode(data.data(), data.size(), target))
        return nullptr;
    return bitmap;
}

// Fills a fresh bitmap with raw bottom-up rows; nullptr when it cannot be created.
std::unique_ptr<cDibSection> rawBitmap(const ImageHeader &header,
                                       std::span<const std::uint8_t> data)
{
    if (!sideInRange(header.Width) || !sideInRange(header.Height))
        return nullptr;
    auto bitmap = std::make_unique<cDibSection>();
    if (!bitmap->Create(header.Width, header.Height, header.BitsPerPixel))
        return nullptr;
    // OrigSize should equal TotalBytes; a sender that says otherwise must not make us overrun
    // the bitmap, nor read past the data we have.
    const std::size_t count
        = std::min({std::size_t(std::max(header.OrigSize, 0)),
                    std::size_t(std::max(bitmap->TotalBytes(), 0)), data.size()});
    if (count > 0 && bitmap->DIBSectionBitsPtr())
        std::memcpy(bitmap->DIBSectionBitsPtr(), data.data(), count);
    return bitmap;
}

// Decodes a JPEG stream straight into a fresh bitmap's bits; nullptr on any failure.
std::unique_ptr<cDibSection> jpegBitmap(std::span<const std::uint8_t> data)
{
    // One decoder for the thread: creating one per picture costs more than small pictures do.
    thread_local platform::jpeg::Decoder decoder;
    return decodeJpeg(decoder, data);
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

std::optional<ReceivedBlock> readParticipantBlock(const std::uint8_t *view)
{
    using DebugTrace::Trace;
    const std::size_t viewSize = modImageMemMapFunctions::ViewSize(view);

    Trace("WebCam UpdateParticipantNow - Preparing to copy image header");
    if (viewSize < kImageHeaderSize)
        return std::nullopt;
    // One copy of the header: the parent may still be writing to the block, and every later
    // decision must rest on the same values.
    const std::optional<ImageHeader> header
        = modImageMemMapFunctions::fromBytes(std::span(view, kImageHeaderSize));
    if (!header)
        return std::nullopt;
    Trace("WebCam UpdateParticipantNow - Image header copied");

    if (header->Marker != modImageMemMapFunctions::kImageMarker
        || header->Destination != kParticipantDestination)
        return std::nullopt;

    // A length the block cannot hold counts as a failed copy, as reading past the mapping would.
    if (!sizeInRange(header->DataLength)
        || std::size_t(header->DataLength) > viewSize - kImageHeaderSize)
        return std::nullopt;
    ReceivedBlock block {*header, {}};
    Trace("WebCam UpdateParticipantNow - Preparing to copy image data");
    block.data.assign(view + kImageHeaderSize, view + kImageHeaderSize + header->DataLength);
    Trace("WebCam UpdateParticipantNow - Image data copied");

    if (header->PictureFormat != PictureFile && header->PictureFormat != StoredOnly) {
        if (DecompressData(block.data, header->OrigSize) != header->OrigSize)
            return std::nullopt;
    }
    return block;
}

DecodedPicture::DecodedPicture() = default;
DecodedPicture::~DecodedPicture() = default;
DecodedPicture::DecodedPicture(DecodedPicture &&) noexcept = default;
DecodedPicture &DecodedPicture::operator=(DecodedPicture &&) noexcept = default;

DecodedPicture decodeByFormat(const ImageHeader &header, std::span<const std::uint8_t> data)
{
    DecodedPicture out;
    switch (header.PictureFormat) {
    case RawBitmap:
        out.bitmap = rawBitmap(header, data);
        break;
    case PictureFile:
        out.kind = DecodedPicture::Kind::PictureFile;
        out.picture = PictureFromBytes(data).value_or(QImage());
        return out;
    case CompressedJpeg:
        out.bitmap = jpegBitmap(data);
        break;
    default:
        return out;
    }
    if (!out.bitmap)
        return out;
    out.kind = DecodedPicture::Kind::Bitmap;
    out.offset = QPoint(centringOffset(out.bitmap->Width(), kAreaWidth),
                        centringOffset(out.bitmap->Height(), kAreaHeight));
    return out;
}

} // namespace participant
