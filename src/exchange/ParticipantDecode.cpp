#include "exchange/ParticipantDecode.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

#include "base/DebugTrace.h"
#include "base/ExceptionFilter.h"
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

// One zlib inflate stream for the length of one expansion.
class Inflater
{
public:
    Inflater() { m_ready = inflateInit(&m_stream) == Z_OK; }
    ~Inflater()
    {
        if (m_ready)
            inflateEnd(&m_stream);
    }
    Inflater(const Inflater &) = delete;
    Inflater &operator=(const Inflater &) = delete;

    bool ready() const { return m_ready; }
    z_stream &stream() { return m_stream; }

private:
    z_stream m_stream {};
    bool m_ready = false;
};

enum class Expansion { Complete, Failed, NoMemory };

// Expands data into out, then on into a scratch area that only counts, until the stream ends or
// limit bytes have come out. Complete only when the stream ended within limit bytes (the end of
// a stream that exactly fills them is still read); produced tells how many.
Expansion inflateCounting(std::span<const std::uint8_t> data, std::span<std::uint8_t> out,
                          std::size_t limit, std::size_t &produced)
{
    Inflater inflater;
    if (!inflater.ready())
        return Expansion::NoMemory;
    z_stream &stream = inflater.stream();
    // zlib never writes through next_in; its interface predates const.
    stream.next_in = const_cast<Bytef *>(data.data());
    stream.avail_in = uInt(data.size());
    std::array<std::uint8_t, 4096> scratch;
    // zlib takes no output buffer of null, even for no bytes.
    const std::span<std::uint8_t> first = out.empty() ? std::span(scratch) : out;
    stream.next_out = first.data();
    stream.avail_out = uInt(std::min(first.size(), limit));
    for (;;) {
        // Z_FINISH: a stream that fits in one go needs no sliding window of its own.
        const int result = inflate(&stream, Z_FINISH);
        produced = stream.total_out;
        if (result == Z_STREAM_END)
            return Expansion::Complete;
        if (result == Z_MEM_ERROR)
            return Expansion::NoMemory;
        if (result != Z_OK && result != Z_BUF_ERROR)
            return Expansion::Failed;
        if (stream.avail_out == 0) {
            if (produced >= limit)
                return Expansion::Failed;
            stream.next_out = scratch.data();
            stream.avail_out = uInt(std::min(scratch.size(), limit - produced));
        } else if (result == Z_BUF_ERROR) { // room to write, but the input has run out
            return Expansion::Failed;
        }
    }
}

// Clears the bytes of each row past its pixels, which a decoder does not write.
void clearRowPadding(cDibSection &bitmap, std::int64_t pixelBytes)
{
    const std::int64_t stride = bitmap.BytesPerScanLine();
    if (stride <= pixelBytes)
        return;
    std::uint8_t *row = bitmap.DIBSectionBitsPtr();
    for (std::int32_t y = 0; y < bitmap.Height(); ++y, row += stride)
        std::memset(row + pixelBytes, 0, std::size_t(stride - pixelBytes));
}

} // namespace

// Bytes kept from one picture to the next, handed out without being cleared: every user writes
// what it reads.
class Receiver::Buffer
{
public:
    // size bytes, or null when they cannot be had.
    std::uint8_t *take(std::size_t size)
    {
        if (size > m_capacity) {
            m_bytes.reset();
            m_capacity = 0;
            m_bytes.reset(new (std::nothrow) std::uint8_t[size]);
            if (!m_bytes)
                return nullptr;
            m_capacity = size;
        }
        return m_bytes.get();
    }
    void trim(std::size_t keep)
    {
        if (m_capacity > keep) {
            m_bytes.reset();
            m_capacity = 0;
        }
    }

private:
    std::unique_ptr<std::uint8_t[]> m_bytes;
    std::size_t m_capacity = 0;
};

std::int32_t DecompressData(std::span<const std::uint8_t> Data, std::int32_t OrigSize,
                            std::span<std::uint8_t> out)
{
    if (!sizeInRange(OrigSize))
        return OrigSize == 0 ? -1 : 0;
    const std::size_t capacity = std::size_t(OrigSize) + 1;
    std::size_t produced = 0;
    switch (inflateCounting(Data, out, capacity, produced)) {
    case Expansion::Complete:
        return std::int32_t(produced);
    case Expansion::Failed:
        break;
    case Expansion::NoMemory:
        return 0;
    }
    DebugTrace::Trace("WebCam DecompressData failed");
    return std::int32_t(capacity);
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

Receiver::Receiver()
    : m_copy(std::make_unique<Buffer>()), m_expanded(std::make_unique<Buffer>()),
      m_bitmap(std::make_unique<cDibSection>())
{ }

Receiver::~Receiver() = default;

void Receiver::reset()
{
    m_bitmap = std::make_unique<cDibSection>();
    m_rawRows = false;
    m_decoder.reset();
    trim();
}

void Receiver::trim()
{
    m_copy->trim(kKeptBytes);
    m_expanded->trim(kKeptBytes);
    if (std::size_t(std::max(m_bitmap->TotalBytes(), 0)) > kKeptBytes)
        m_bitmap->ClearUp();
}

cDibSection *Receiver::bitmapFor(std::int32_t width, std::int32_t height, std::int32_t bitCount)
{
    if (!sideInRange(width) || !sideInRange(height))
        return nullptr;
    cDibSection &bitmap = *m_bitmap;
    if (bitmap.HDC() != 0 && bitmap.Width() == width && bitmap.Height() == height
        && bitmap.PixelDepth() == bitCount)
        return &bitmap;
    if (!bitmap.Create(width, height, bitCount) || !bitmap.DIBSectionBitsPtr())
        return nullptr;
    return &bitmap;
}

std::optional<ReceivedBlock> Receiver::read(const modImageMemMapFunctions::ImageBlock &block)
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
    Trace("WebCam UpdateParticipantNow - Preparing to copy image data");
    const std::size_t length = std::size_t(header->DataLength);
    std::uint8_t *copy = m_copy->take(length);
    if (!copy || block.read(kImageHeaderSize, std::span(copy, length)) != length)
        return std::nullopt;
    Trace("WebCam UpdateParticipantNow - Image data copied");
    return expand(*header, std::span(copy, length));
}

std::optional<ReceivedBlock> Receiver::expand(const ImageHeader &header,
                                              std::span<const std::uint8_t> data)
{
    m_rawRows = false;
    if (header.PictureFormat == PictureFile || header.PictureFormat == StoredOnly)
        return ReceivedBlock {header, data, data.size()};
    if (!sizeInRange(header.OrigSize))
        return std::nullopt;
    const std::size_t origSize = std::size_t(header.OrigSize);

    if (header.PictureFormat == RawBitmap) {
        // OrigSize should equal TotalBytes; a sender that says otherwise must not make us
        // overrun the bitmap. Without a bitmap the stream is still expanded, to be measured.
        cDibSection *bitmap = bitmapFor(header.Width, header.Height, header.BitsPerPixel);
        std::span<std::uint8_t> bits;
        if (bitmap)
            bits = std::span(bitmap->DIBSectionBitsPtr(), std::size_t(bitmap->TotalBytes()));
        const std::span<std::uint8_t> rows = bits.first(std::min(origSize, bits.size()));
        if (DecompressData(data, header.OrigSize, rows) != header.OrigSize)
            return std::nullopt;
        std::fill(bits.begin() + std::ptrdiff_t(rows.size()), bits.end(), std::uint8_t(0));
        m_rawRows = bitmap != nullptr;
        return ReceivedBlock {header, {}, origSize};
    }

    std::uint8_t *expanded = m_expanded->take(origSize);
    if (!expanded)
        return std::nullopt;
    if (DecompressData(data, header.OrigSize, std::span(expanded, origSize)) != header.OrigSize)
        return std::nullopt;
    return ReceivedBlock {header, std::span(expanded, origSize), origSize};
}

bool Receiver::decodeJpeg(std::span<const std::uint8_t> data)
{
    if (!m_decoder)
        m_decoder = std::make_unique<platform::jpeg::Decoder>();
    platform::jpeg::Decoder &decoder = *m_decoder;
    if (!decoder.isValid() || data.empty())
        return false;
    const std::optional<platform::jpeg::Header> jpeg = decoder.readHeader(data.data(), data.size());
    if (!jpeg)
        return false;
    cDibSection *bitmap = bitmapFor(jpeg->width, jpeg->height, 24);
    if (!bitmap)
        return false;
    const platform::jpeg::BgrBitmap target {bitmap->DIBSectionBitsPtr(),
                                            std::size_t(bitmap->TotalBytes()), jpeg->width,
                                            jpeg->height, bitmap->BytesPerScanLine()};
    if (!decoder.decode(data.data(), data.size(), *jpeg, target))
        return false;
    // The bitmap may have held raw rows of the same size, padding included.
    clearRowPadding(*bitmap, std::int64_t(jpeg->width) * 3);
    return true;
}

Receiver::Arrival Receiver::receive(modImageMemMapFunctions::ImageBlock block,
                                    const std::function<void(const DecodedPicture *)> &show)
{
    if (!block)
        return Arrival::Dropped;
    const std::optional<ReceivedBlock> received = read(block);
    if (!received) {
        trim();
        return Arrival::Dropped;
    }
    // What the decoders write into is ours, out here, and the block is released by this frame, so
    // a fault among them leaves nothing behind.
    DecodedPicture decoded;
    const bool newsOnly = received->length == 1;
    if (!newsOnly && !ExceptionFilter::Guarded([&] { decode(*received, decoded); })) {
        reset();
        return Arrival::Dropped;
    }
    show(newsOnly ? nullptr : &decoded);
    trim();
    block.release();
    DebugTrace::Trace("WebCam UpdateParticipantNow Exit");
    return newsOnly ? Arrival::NewsOnly : Arrival::Picture;
}

void Receiver::decode(const ReceivedBlock &received, DecodedPicture &out)
{
    out = DecodedPicture();
    bool decoded = false;
    switch (received.header.PictureFormat) {
    case RawBitmap:
        decoded = m_rawRows;
        break;
    case PictureFile:
        out.kind = DecodedPicture::Kind::PictureFile;
        out.picture = PictureFromBytes(received.data).value_or(QImage());
        return;
    case CompressedJpeg:
        decoded = decodeJpeg(received.data);
        break;
    default:
        return;
    }
    m_rawRows = false;
    if (!decoded)
        return;
    out.kind = DecodedPicture::Kind::Bitmap;
    out.bitmap = m_bitmap.get();
    out.offset = QPoint(centringOffset(out.bitmap->Width(), kAreaWidth),
                        centringOffset(out.bitmap->Height(), kAreaHeight));
}

} // namespace participant
