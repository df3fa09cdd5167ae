#pragma once

#include "platform/gdi/Gdi.h"

#include <QImage>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

// A device-independent bitmap with pixel memory the program addresses directly, and a memory
// surface of its own so that it can be blitted to and from other surfaces. Rows are stored
// bottom-up (the first row in memory is the picture's bottom row), padded to 4 bytes: blue,
// green, red for 24 bits; blue, green, red, unused for 32; little-endian 5-5-5 red-green-blue for
// 16; palette indexes for 8 and 4 (the high nibble is the left pixel).
class cDibSection
{
public:
    // Pixel memory beyond this is refused before anything is allocated: no picture this component
    // handles comes near it, and a hostile header must not be able to exhaust memory.
    static constexpr std::int64_t maxTotalBytes = 64 * 1024 * 1024;

    cDibSection();
    ~cDibSection();
    cDibSection(const cDibSection &) = delete;
    cDibSection &operator=(const cDibSection &) = delete;

    // True when the bitmap exists. Width and height must be positive and the bit count one of 4,
    // 8, 16, 24 or 32; anything else leaves the object empty (HDC, hDib and DIBSectionBitsPtr 0).
    bool Create(std::int32_t lWidth, std::int32_t lHeight, std::int32_t BitCount);

    std::int32_t TotalBytes() const { return m_totalBytes; }
    // Width times whole bytes per pixel, rounded up to 4: as a property this is 0 for 4 bits
    // even though those rows take ((width + 1) / 2) rounded up to 4 bytes in memory.
    std::int32_t BytesPerScanLine() const;
    std::int32_t GetBytesPerPixel() const { return m_bitCount / 8; }
    std::int32_t Width() const { return m_width; }
    std::int32_t Height() const { return m_height; }

    // Copies from lhDC into the bitmap as 4 x 4 tiles, from (0, 0) of both; lSrcLeft and lSrcTop
    // are not used. A negative width or height means the bitmap's own.
    void LoadPictureBlt(platform::gdi::HDC lhDC, std::int32_t lSrcLeft = 0,
                        std::int32_t lSrcTop = 0, std::int32_t lSrcWidth = -1,
                        std::int32_t lSrcHeight = -1, std::uint32_t eRop = platform::gdi::SRCCOPY);
    // Copies the bitmap to lhDC as 4 x 4 tiles. A negative width or height means the bitmap's own.
    void PaintPicture(platform::gdi::HDC lhDC, std::int32_t lDestLeft = 0,
                      std::int32_t lDestTop = 0, std::int32_t lDestWidth = -1,
                      std::int32_t lDestHeight = -1, std::int32_t lSrcLeft = 0,
                      std::int32_t lSrcTop = 0, std::uint32_t eRop = platform::gdi::SRCCOPY);

    std::int32_t PixelDepth() const { return m_bitCount; }
    platform::gdi::HDC HDC() const { return m_hdc; }
    std::uint32_t hDib() const { return m_hDib; }
    std::uint8_t *DIBSectionBitsPtr() const { return m_bits.get(); }

    // Releases the bitmap and its surface; the sizes keep their values. Safe to repeat.
    void ClearUp();

    // An upright copy of the bitmap as a picture; a null image when there is no bitmap.
    QImage DibPicture() const;

    // The palette bytes that the last 4- or 8-bit Create loaded (empty otherwise).
    const std::vector<std::uint8_t> &paletteBytes() const { return m_paletteBytes; }

private:
    class MemorySurface;
    friend class MemorySurface;

    bool CreateDIB(std::int32_t width, std::int32_t height, std::int32_t BitCount);
    std::int32_t rowBytes() const;

    std::uint32_t m_hDib = 0;
    platform::gdi::HDC m_hdc = 0;
    std::unique_ptr<std::uint8_t[]> m_bits;
    std::unique_ptr<MemorySurface> m_surface;
    // Colour entries as stored (blue, green, red, reserved); 16 used for 4 bits, 256 for 8.
    std::array<std::uint8_t, 1024> m_colours {};
    std::int32_t m_width = 0;
    std::int32_t m_height = 0;
    std::int32_t m_totalBytes = 0;
    std::int32_t m_bitCount = 0;
    std::vector<std::uint8_t> m_paletteBytes;
};

namespace dib {

// One span of the 4 x 4 tiling: offset from the start and extent.
struct TileSpan
{
    int offset;
    int extent;
};

// The four spans that split extent: three of extent / 4 and a last one that takes the rest.
constexpr std::array<TileSpan, 4> tileSpans(int extent)
{
    const int part = extent / 4;
    return {TileSpan {0, part}, TileSpan {part, part}, TileSpan {2 * part, part},
            TileSpan {3 * part, extent - 3 * part}};
}

// n rounded up to a multiple of 4.
constexpr std::int64_t roundUp4(std::int64_t n)
{
    return (n + 3) & ~std::int64_t(3);
}

// Bytes of one row in memory for a bit count, as the bitmap lays it out; 0 when unsupported.
constexpr std::int64_t rowBytesFor(std::int64_t width, int bitCount)
{
    switch (bitCount) {
    case 4:
        return roundUp4((width + 1) / 2);
    case 8:
        return roundUp4(width);
    case 16:
    case 24:
        return roundUp4(width * (bitCount / 8));
    case 32:
        return ((width * 32 + 31) / 32) * 4;
    default:
        return 0;
    }
}

} // namespace dib
