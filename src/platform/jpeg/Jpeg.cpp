#include "platform/jpeg/Jpeg.h"

#include <QLoggingCategory>

#include <cstring>
#include <limits>
#include <utility>

Q_LOGGING_CATEGORY(lcJpeg, "vedereve.platform.jpeg", QtWarningMsg)

namespace platform::jpeg {

namespace {

bool layoutFits(std::int64_t width, std::int64_t height, std::int64_t stride, std::size_t size)
{
    if (!sizeIsSane(width, height) || stride < width * 3)
        return false;
    // The last row in memory needs only its pixels, not its padding.
    const std::int64_t needed = stride * (height - 1) + width * 3;
    return std::uint64_t(needed) <= size;
}

} // namespace

bool sizeIsSane(std::int64_t width, std::int64_t height)
{
    return width > 0 && height > 0 && width <= std::numeric_limits<int>::max()
        && height <= std::numeric_limits<int>::max() && width * height <= maxPixelBytes / 3;
}

TjHandle::TjHandle(Kind kind)
    : m_handle(kind == Kind::Compress ? tjInitCompress() : tjInitDecompress())
{
    if (!m_handle)
        qCWarning(lcJpeg) << "cannot create a JPEG instance:" << tjGetErrorStr2(nullptr);
}

TjHandle::~TjHandle()
{
    if (m_handle)
        tjDestroy(m_handle);
}

TjHandle::TjHandle(TjHandle &&other) noexcept : m_handle(std::exchange(other.m_handle, nullptr))
{ }

TjHandle &TjHandle::operator=(TjHandle &&other) noexcept
{
    if (this != &other) {
        if (m_handle)
            tjDestroy(m_handle);
        m_handle = std::exchange(other.m_handle, nullptr);
    }
    return *this;
}

Encoder::Encoder() : m_handle(TjHandle::Kind::Compress)
{ }

constexpr int encodeSubsampling = TJSAMP_420;

std::optional<unsigned long> Encoder::worstCaseFor(const ConstBgrBitmap &picture, int quality) const
{
    if (!m_handle || !picture.bits || quality < 1 || quality > 100)
        return std::nullopt;
    if (!layoutFits(picture.width, picture.height, picture.stride, picture.size))
        return std::nullopt;
    const unsigned long worstCase = tjBufSize(picture.width, picture.height, encodeSubsampling);
    if (worstCase == static_cast<unsigned long>(-1))
        return std::nullopt;
    return worstCase;
}

std::optional<std::size_t> Encoder::compress(const ConstBgrBitmap &picture, int quality,
                                             std::uint8_t *target, unsigned long capacity)
{
    unsigned char *buffer = target;
    unsigned long length = capacity;
    const int result = tjCompress2(m_handle.get(), picture.bits, picture.width, picture.stride,
                                   picture.height, TJPF_BGR, &buffer, &length, encodeSubsampling,
                                   quality, TJFLAG_BOTTOMUP | TJFLAG_NOREALLOC);
    if (result != 0 || buffer != target || length == 0 || length > capacity) {
        qCDebug(lcJpeg) << "encode failed:" << tjGetErrorStr2(m_handle.get());
        return std::nullopt;
    }
    return std::size_t(length);
}

std::optional<std::size_t> Encoder::encode(const ConstBgrBitmap &picture, int quality,
                                           std::uint8_t *out, std::size_t capacity)
{
    const std::optional<unsigned long> worstCase = worstCaseFor(picture, quality);
    if (!worstCase || !out || capacity == 0)
        return std::nullopt;
    if (capacity >= *worstCase)
        return compress(picture, quality, out, *worstCase);
    const auto stream = encode(picture, quality, capacity);
    if (!stream)
        return std::nullopt;
    std::memcpy(out, stream->data(), stream->size());
    return stream->size();
}

std::optional<std::span<const std::uint8_t>> Encoder::encode(const ConstBgrBitmap &picture,
                                                             int quality, std::size_t limit)
{
    const std::optional<unsigned long> worstCase = worstCaseFor(picture, quality);
    if (!worstCase)
        return std::nullopt;
    if (m_scratch.size() < *worstCase)
        m_scratch.resize(*worstCase);
    const std::optional<std::size_t> length
        = compress(picture, quality, m_scratch.data(), *worstCase);
    if (!length || *length > limit)
        return std::nullopt;
    return std::span<const std::uint8_t>(m_scratch.data(), *length);
}

Decoder::Decoder() : m_handle(TjHandle::Kind::Decompress)
{ }

std::optional<Header> Decoder::readHeader(const std::uint8_t *jpeg, std::size_t size)
{
    if (!m_handle || !jpeg || size == 0 || size > std::numeric_limits<unsigned long>::max())
        return std::nullopt;
    int width = 0, height = 0, subsampling = 0, colourSpace = 0;
    if (tjDecompressHeader3(m_handle.get(), jpeg, size, &width, &height, &subsampling, &colourSpace)
        != 0) {
        recover();
        return std::nullopt;
    }
    if (!sizeIsSane(width, height))
        return std::nullopt;
    return Header {width, height, colourSpace == TJCS_GRAY ? 1 : 3};
}

void Decoder::recover()
{
    m_handle = TjHandle(TjHandle::Kind::Decompress);
}

bool Decoder::decode(const std::uint8_t *jpeg, std::size_t size, const BgrBitmap &target)
{
    const std::optional<Header> header = readHeader(jpeg, size);
    return header && decode(jpeg, size, *header, target);
}

bool Decoder::decode(const std::uint8_t *jpeg, std::size_t size, const Header &header,
                     const BgrBitmap &target)
{
    if (!m_handle || !jpeg || !target.bits || header.width != target.width
        || header.height != target.height)
        return false;
    if (!layoutFits(target.width, target.height, target.stride, target.size))
        return false;
    // A warning (a truncated or damaged stream) ends the decode as a failure.
    const int result
        = tjDecompress2(m_handle.get(), jpeg, size, target.bits, target.width, target.stride,
                        target.height, TJPF_BGR, TJFLAG_BOTTOMUP | TJFLAG_STOPONWARNING);
    if (result != 0) {
        qCDebug(lcJpeg) << "decode failed:" << tjGetErrorStr2(m_handle.get());
        recover();
        return false;
    }
    return true;
}

} // namespace platform::jpeg
