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

std::optional<std::size_t> Encoder::encode(const ConstBgrBitmap &picture, int quality,
                                           std::uint8_t *out, std::size_t capacity)
{
    if (!m_handle || !picture.bits || !out || capacity == 0 || quality < 1 || quality > 100)
        return std::nullopt;
    if (!layoutFits(picture.width, picture.height, picture.stride, picture.size))
        return std::nullopt;

    constexpr int subsampling = TJSAMP_420;
    const unsigned long worstCase = tjBufSize(picture.width, picture.height, subsampling);
    if (worstCase == static_cast<unsigned long>(-1))
        return std::nullopt;

    std::uint8_t *target = out;
    if (capacity < worstCase) {
        if (m_scratch.size() < worstCase)
            m_scratch.resize(worstCase);
        target = m_scratch.data();
    }
    unsigned long length = capacity < worstCase ? worstCase : capacity;
    unsigned char *buffer = target;
    const int result = tjCompress2(m_handle.get(), picture.bits, picture.width, picture.stride,
                                   picture.height, TJPF_BGR, &buffer, &length, subsampling, quality,
                                   TJFLAG_BOTTOMUP | TJFLAG_NOREALLOC);
    if (result != 0 || buffer != target || length == 0) {
        qCDebug(lcJpeg) << "encode failed:" << tjGetErrorStr2(m_handle.get());
        return std::nullopt;
    }
    if (target != out) {
        if (length > capacity)
            return std::nullopt;
        std::memcpy(out, target, length);
    }
    return std::size_t(length);
}

Decoder::Decoder() : m_handle(TjHandle::Kind::Decompress)
{ }

std::optional<Header> Decoder::readHeader(const std::uint8_t *jpeg, std::size_t size)
{
    if (!m_handle || !jpeg || size == 0 || size > std::numeric_limits<unsigned long>::max())
        return std::nullopt;
    int width = 0, height = 0, subsampling = 0, colourSpace = 0;
    if (tjDecompressHeader3(m_handle.get(), jpeg, size, &width, &height, &subsampling, &colourSpace)
        != 0)
        return std::nullopt;
    if (!sizeIsSane(width, height))
        return std::nullopt;
    return Header {width, height, colourSpace == TJCS_GRAY ? 1 : 3};
}

bool Decoder::decode(const std::uint8_t *jpeg, std::size_t size, const BgrBitmap &target)
{
    const std::optional<Header> header = readHeader(jpeg, size);
    if (!header || !target.bits || header->width != target.width || header->height != target.height)
        return false;
    if (!layoutFits(target.width, target.height, target.stride, target.size))
        return false;
    // A warning (a truncated or damaged stream) ends the decode as a failure.
    const int result
        = tjDecompress2(m_handle.get(), jpeg, size, target.bits, target.width, target.stride,
                        target.height, TJPF_BGR, TJFLAG_BOTTOMUP | TJFLAG_STOPONWARNING);
    if (result != 0) {
        qCDebug(lcJpeg) << "decode failed:" << tjGetErrorStr2(m_handle.get());
        return false;
    }
    return true;
}

} // namespace platform::jpeg
