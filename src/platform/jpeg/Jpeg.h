#pragma once

#include <turbojpeg.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// JPEG encoding and decoding of bottom-up blue-green-red bitmaps with padded rows, the layout of
// a 24-bit bitmap in memory. Neither direction ever writes past the buffer the caller names.
namespace platform::jpeg {

// Pictures whose 24-bit pixels would take more than this are refused before anything is
// allocated: a header from another process must not be able to exhaust memory.
constexpr std::int64_t maxPixelBytes = 64 * 1024 * 1024;

// True when width x height at 3 bytes a pixel is positive and within maxPixelBytes.
bool sizeIsSane(std::int64_t width, std::int64_t height);

// One TurboJPEG instance; move-only.
class TjHandle
{
public:
    enum class Kind { Compress, Decompress };

    TjHandle() = default;
    explicit TjHandle(Kind kind);
    ~TjHandle();
    TjHandle(TjHandle &&other) noexcept;
    TjHandle &operator=(TjHandle &&other) noexcept;
    TjHandle(const TjHandle &) = delete;
    TjHandle &operator=(const TjHandle &) = delete;

    tjhandle get() const { return m_handle; }
    explicit operator bool() const { return m_handle != nullptr; }

private:
    tjhandle m_handle = nullptr;
};

// A bottom-up BGR picture: row 0 in memory is the picture's bottom row.
struct ConstBgrBitmap
{
    const std::uint8_t *bits = nullptr;
    std::size_t size = 0; // bytes readable at bits
    int width = 0;
    int height = 0;
    int stride = 0; // bytes per row, at least 3 x width
};

struct BgrBitmap
{
    std::uint8_t *bits = nullptr;
    std::size_t size = 0; // bytes writable at bits
    int width = 0;
    int height = 0;
    int stride = 0;
};

class Encoder
{
public:
    Encoder();
    bool isValid() const { return bool(m_handle); }

    // Writes one complete JFIF stream of the picture, upright, into out. Gives the number of
    // bytes written, or nothing when the picture is unusable or the stream would not fit.
    std::optional<std::size_t> encode(const ConstBgrBitmap &picture, int quality, std::uint8_t *out,
                                      std::size_t capacity);
    // The same stream, kept in the encoder until the next call; nothing when it would take more
    // than limit bytes. Spares the caller a buffer of the limit's size when it only keeps the
    // stream's length.
    std::optional<std::span<const std::uint8_t>> encode(const ConstBgrBitmap &picture, int quality,
                                                        std::size_t limit);

private:
    // Compresses into target (worstCase bytes at least) and gives the stream's length.
    std::optional<std::size_t> compress(const ConstBgrBitmap &picture, int quality,
                                        std::uint8_t *target, unsigned long capacity);
    std::optional<unsigned long> worstCaseFor(const ConstBgrBitmap &picture, int quality) const;

    TjHandle m_handle;
    // The library assumes a buffer of its worst-case size once it may not grow one, so smaller
    // caller buffers are served from here and copied only when the stream fits.
    std::vector<std::uint8_t> m_scratch;
};

struct Header
{
    int width = 0;
    int height = 0;
    int channels = 0; // 1 for grey pictures, 3 otherwise
};

class Decoder
{
public:
    Decoder();
    bool isValid() const { return bool(m_handle); }

    // Reads the stream's header; nothing when it is not a JPEG stream or its size is absurd.
    std::optional<Header> readHeader(const std::uint8_t *jpeg, std::size_t size);
    // Decodes the whole picture into target, whose width and height must be the stream's. Fails
    // on a damaged or truncated stream, and before writing anything when target cannot hold it.
    bool decode(const std::uint8_t *jpeg, std::size_t size, const BgrBitmap &target);
    // The same with the header that readHeader() gave for these bytes, which is then not read
    // again: on a small picture reading it costs a tenth of the decode.
    bool decode(const std::uint8_t *jpeg, std::size_t size, const Header &header,
                const BgrBitmap &target);

private:
    // A failed read can leave the library half-way through a stream, so that the next, good
    // stream fails too; a fresh handle starts clean.
    void recover();

    TjHandle m_handle;
};

} // namespace platform::jpeg
