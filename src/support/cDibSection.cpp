#include "support/cDibSection.h"

#include <QFile>
#include <QtEndian>

#include <libyuv/convert_argb.h>
#include <libyuv/convert_from_argb.h>
#include <libyuv/scale_rgb.h>

#include <atomic>
#include <cstring>

// The palettes are compiled into this static library; a static library's resources are only
// registered once something asks for them.
static void registerPaletteResources()
{
    static const bool once = [] {
        Q_INIT_RESOURCE(palettes);
        return true;
    }();
    (void)once;
}

namespace {

std::uint32_t nextBitmapHandle()
{
    // Never 0 and never handed out twice in a run; 32 bits as callers store it.
    static std::atomic<std::uint32_t> next {0x10000};
    std::uint32_t handle = next.fetch_add(1);
    while (handle == 0)
        handle = next.fetch_add(1);
    return handle;
}

std::vector<std::uint8_t> loadPalette(const char *name, qsizetype expected)
{
    registerPaletteResources();
    QFile file(QStringLiteral(":/palettes/") + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    if (bytes.size() != expected)
        return {};
    return {bytes.cbegin(), bytes.cend()};
}

int expand5(int v)
{
    return (v << 3) | (v >> 2);
}

// Blue-green-red pixels as 0xffRRGGBB.
void bgrToRgb32(const std::uint8_t *in, std::uint32_t *out, int width)
{
    for (int x = 0; x < width; ++x, in += 3)
        out[x] = 0xFF000000u | std::uint32_t(in[2]) << 16 | std::uint32_t(in[1]) << 8 | in[0];
}

// The vector converters take rows of a whole number of runs (16 or 32 pixels); their own path for
// the rest of a row costs several times the rest itself on rows as short as a tile. A row at
// least one run wide is converted as its whole runs and then once more as its last run, which
// overlaps the first call and writes the same pixels again: all of it at vector speed. Source and
// target never share memory here. convert(first pixel, pixels) converts those columns of all rows.
template<class Convert> bool convertInRuns(int width, int run, Convert convert)
{
    const int runs = width & ~(run - 1);
    return convert(0, runs) && (runs == width || convert(width - run, run));
}

// Upright 32-bit rows into 24-bit rows (dstStride negative to walk bottom-up memory); rows
// narrower than one run go a pixel at a time.
bool rgb32ToBgrRows(const std::uint8_t *src, int srcStride, std::uint8_t *dst, int dstStride,
                    int width, int height)
{
    const auto convert = [&](int from, int count) {
        return libyuv::ARGBToRGB24(src + std::ptrdiff_t(from) * 4, srcStride,
                                   dst + std::ptrdiff_t(from) * 3, dstStride, count, height)
            == 0;
    };
    if (width >= 32)
        return convertInRuns(width, 32, convert);
    for (int r = 0; r < height; ++r) {
        const std::uint8_t *in = src + std::ptrdiff_t(r) * srcStride;
        std::uint8_t *out = dst + std::ptrdiff_t(r) * dstStride;
        for (int x = 0; x < width; ++x, in += 4, out += 3) {
            out[0] = in[0];
            out[1] = in[1];
            out[2] = in[2];
        }
    }
    return true;
}

} // namespace

// Converts between the bottom-up pixel memory and upright RGB32 rows.
class cDibSection::MemorySurface final : public platform::gdi::Surface
{
public:
    explicit MemorySurface(cDibSection &dib) : m_dib(dib)
    {
        const int entries = dib.m_bitCount == 4 ? 16 : dib.m_bitCount == 8 ? 256 : 0;
        m_palette.reserve(entries);
        for (int i = 0; i < entries; ++i) {
            const std::uint8_t *c = &dib.m_colours[std::size_t(i) * 4];
            m_palette.push_back(qRgb(c[2], c[1], c[0]));
        }
    }

    QSize size() const override { return QSize(m_dib.m_width, m_dib.m_height); }

    QImage read(const QRect &rect) const override
    {
        const QRect clipped = rect.intersected(QRect(QPoint(0, 0), size()));
        if (clipped.isEmpty() || !m_dib.m_bits)
            return {};
        QImage out(clipped.size(), QImage::Format_RGB32);
        if (out.isNull())
            return {};
        if (convertRows(clipped, out.bits(), out.bytesPerLine()))
            return out;
        for (int r = 0; r < clipped.height(); ++r) {
            const std::uint8_t *row = memoryRow(clipped.y() + r);
            auto *dst = reinterpret_cast<QRgb *>(out.scanLine(r));
            for (int c = 0; c < clipped.width(); ++c)
                dst[c] = pixelAt(row, clipped.x() + c);
        }
        return out;
    }

    bool readInto(const QRect &rect, QImage &target, const QPoint &at) const override
    {
        if (!m_dib.m_bits || !platform::gdi::isDirectFormat(target.format())
            || !QRect(QPoint(0, 0), size()).contains(rect)
            || !target.rect().contains(QRect(at, rect.size())))
            return false;
        // scanLine() first: it detaches the target from any copy that shares its pixels.
        std::uint8_t *first = target.scanLine(at.y()) + std::ptrdiff_t(at.x()) * 4;
        return convertRows(rect, first, target.bytesPerLine());
    }

    bool scaleInto(const QRect &rect, QImage &target, const QRect &targetRect,
                   bool smooth) const override
    {
        if (m_dib.m_bitCount != 24 || !m_dib.m_bits
            || !platform::gdi::isDirectFormat(target.format()))
            return false;
        // Scaled upright into rows of the bitmap's own byte order (walking its memory backwards
        // turns it upright), then widened into the target's 32-bit pixels.
        m_scaled.resize(std::size_t(targetRect.width()) * 3 * std::size_t(targetRect.height()));
        const std::uint8_t *left = memoryRow(rect.y()) + std::ptrdiff_t(rect.x()) * 3;
        if (libyuv::RGBScale(left, -m_dib.rowBytes(), rect.width(), rect.height(), m_scaled.data(),
                             targetRect.width() * 3, targetRect.width(), targetRect.height(),
                             smooth ? libyuv::kFilterBox : libyuv::kFilterNone)
            != 0)
            return false;
        std::uint8_t *first = target.scanLine(targetRect.y()) + std::ptrdiff_t(targetRect.x()) * 4;
        return libyuv::RGB24ToARGB(m_scaled.data(), targetRect.width() * 3, first,
                                   int(target.bytesPerLine()), targetRect.width(),
                                   targetRect.height())
            == 0;
    }

    bool writeFrom(const QImage &source, const QRect &rect, const QPoint &at) override
    {
        if (m_dib.m_bitCount != 24 || !m_dib.m_bits || source.format() != QImage::Format_RGB32
            || !source.rect().contains(rect)
            || !QRect(QPoint(0, 0), size()).contains(QRect(at, rect.size())))
            return false;
        // Whole rows at once, turned bottom-up by walking the memory backwards.
        const std::uint8_t *first = source.constScanLine(rect.y()) + std::ptrdiff_t(rect.x()) * 4;
        std::uint8_t *left = memoryRow(at.y()) + std::ptrdiff_t(at.x()) * 3;
        return rgb32ToBgrRows(first, int(source.bytesPerLine()), left, -m_dib.rowBytes(),
                              rect.width(), rect.height());
    }

    void write(const QPoint &at, const QImage &image) override
    {
        if (image.isNull() || !m_dib.m_bits)
            return;
        const QRect target = QRect(at, image.size()).intersected(QRect(QPoint(0, 0), size()));
        if (target.isEmpty())
            return;
        const QImage source = image.format() == QImage::Format_RGB32
            ? image
            : image.convertToFormat(QImage::Format_RGB32);
        if (m_dib.m_bitCount == 24) {
            // Whole rows at once, turned bottom-up by walking the memory backwards.
            const auto *first = source.constScanLine(target.y() - at.y())
                + std::ptrdiff_t(target.x() - at.x()) * 4;
            std::uint8_t *left = memoryRow(target.y()) + std::ptrdiff_t(target.x()) * 3;
            if (rgb32ToBgrRows(first, int(source.bytesPerLine()), left, -m_dib.rowBytes(),
                               target.width(), target.height()))
                return;
        }
        for (int r = 0; r < target.height(); ++r) {
            std::uint8_t *row = memoryRow(target.y() + r);
            const auto *src
                = reinterpret_cast<const QRgb *>(source.constScanLine(target.y() + r - at.y()))
                + (target.x() - at.x());
            for (int c = 0; c < target.width(); ++c)
                setPixel(row, target.x() + c, src[c]);
        }
    }

private:
    // The rows of rect as upright 32-bit RGB at dst, for the depths that have a whole-row
    // conversion; false for the others, which go pixel by pixel.
    bool convertRows(const QRect &rect, std::uint8_t *dst, qsizetype stride) const
    {
        const int rowStride = m_dib.rowBytes();
        const std::uint8_t *top = memoryRow(rect.y());
        switch (m_dib.m_bitCount) {
        case 24: {
            // The JPEG decoder writes aligned rows past the cache, so a picture just decoded
            // comes back from memory: asking for all of the rect's lines first lets them arrive
            // together rather than one miss after another.
            const std::uint8_t *left = top + std::ptrdiff_t(rect.x()) * 3;
            const int bytes = rect.width() * 3;
            for (int r = 0; r < rect.height(); ++r) {
                const std::uint8_t *row = left - std::ptrdiff_t(r) * rowStride;
                // A 64-byte step from an unaligned start can pass over the last line.
                for (int b = 0; b < bytes; b += 64)
                    __builtin_prefetch(row + b);
                __builtin_prefetch(row + bytes - 1);
            }
            // Walking memory backwards turns the bottom-up rows upright in the same pass.
            const auto convert = [&](int from, int count) {
                return libyuv::RGB24ToARGB(left + std::ptrdiff_t(from) * 3, -rowStride,
                                           dst + std::ptrdiff_t(from) * 4, int(stride), count,
                                           rect.height())
                    == 0;
            };
            if (rect.width() >= 16)
                return convertInRuns(rect.width(), 16, convert);
            for (int r = 0; r < rect.height(); ++r)
                bgrToRgb32(left - std::ptrdiff_t(r) * rowStride,
                           reinterpret_cast<std::uint32_t *>(dst + r * stride), rect.width());
            return true;
        }
        case 32:
            for (int r = 0; r < rect.height(); ++r) {
                std::uint32_t *out = reinterpret_cast<std::uint32_t *>(dst + r * stride);
                const std::uint8_t *in = top - std::ptrdiff_t(r) * rowStride + rect.x() * 4;
                for (int c = 0; c < rect.width(); ++c)
                    out[c] = qFromLittleEndian<std::uint32_t>(in + std::ptrdiff_t(c) * 4)
                        | 0xFF000000u;
            }
            return true;
        default:
            return false;
        }
    }

    // Row y counted from the top of the picture lives at row (height - 1 - y) in memory.
    std::uint8_t *memoryRow(int y) const
    {
        return m_dib.m_bits.get() + std::ptrdiff_t(m_dib.m_height - 1 - y) * m_dib.rowBytes();
    }

    QRgb pixelAt(const std::uint8_t *row, int x) const
    {
        switch (m_dib.m_bitCount) {
        case 32:
        case 24: {
            const std::uint8_t *p = row + std::ptrdiff_t(x) * (m_dib.m_bitCount / 8);
            return qRgb(p[2], p[1], p[0]);
        }
        case 16: {
            std::uint16_t v;
            std::memcpy(&v, row + std::ptrdiff_t(x) * 2, 2);
            return qRgb(expand5((v >> 10) & 31), expand5((v >> 5) & 31), expand5(v & 31));
        }
        case 8:
            return m_palette[row[x]];
        case 4: {
            const std::uint8_t pair = row[x / 2];
            return m_palette[(x & 1) ? (pair & 15) : (pair >> 4)];
        }
        default:
            return 0;
        }
    }

    void setPixel(std::uint8_t *row, int x, QRgb rgb)
    {
        switch (m_dib.m_bitCount) {
        case 32:
        case 24: {
            std::uint8_t *p = row + std::ptrdiff_t(x) * (m_dib.m_bitCount / 8);
            p[0] = std::uint8_t(qBlue(rgb));
            p[1] = std::uint8_t(qGreen(rgb));
            p[2] = std::uint8_t(qRed(rgb));
            if (m_dib.m_bitCount == 32)
                p[3] = 0;
            return;
        }
        case 16: {
            const std::uint16_t v = std::uint16_t(((qRed(rgb) >> 3) << 10)
                                                  | ((qGreen(rgb) >> 3) << 5) | (qBlue(rgb) >> 3));
            std::memcpy(row + std::ptrdiff_t(x) * 2, &v, 2);
            return;
        }
        case 8:
            row[x] = nearestIndex(rgb);
            return;
        case 4: {
            std::uint8_t &pair = row[x / 2];
            const std::uint8_t index = nearestIndex(rgb);
            pair = (x & 1) ? std::uint8_t((pair & 0xF0) | index)
                           : std::uint8_t((pair & 0x0F) | (index << 4));
            return;
        }
        default:
            return;
        }
    }

    std::uint8_t nearestIndex(QRgb rgb)
    {
        rgb |= 0xFF000000u;
        if (m_lastIndex >= 0 && m_lastColour == rgb)
            return std::uint8_t(m_lastIndex);
        int best = 0;
        int bestDistance = INT32_MAX;
        for (int i = 0; i < int(m_palette.size()); ++i) {
            const int dr = qRed(m_palette[i]) - qRed(rgb);
            const int dg = qGreen(m_palette[i]) - qGreen(rgb);
            const int db = qBlue(m_palette[i]) - qBlue(rgb);
            const int distance = dr * dr + dg * dg + db * db;
            if (distance < bestDistance) {
                best = i;
                bestDistance = distance;
                if (distance == 0)
                    break;
            }
        }
        m_lastColour = rgb;
        m_lastIndex = best;
        return std::uint8_t(best);
    }

    cDibSection &m_dib;
    std::vector<QRgb> m_palette;
    // The scaled rows of the last scaleInto(), kept for the next.
    mutable std::vector<std::uint8_t> m_scaled;
    QRgb m_lastColour = 0;
    int m_lastIndex = -1;
};

cDibSection::cDibSection() = default;

cDibSection::~cDibSection()
{
    ClearUp();
}

bool cDibSection::Create(std::int32_t lWidth, std::int32_t lHeight, std::int32_t BitCount)
{
    ClearUp();
    m_width = lWidth;
    m_height = lHeight;
    m_bitCount = BitCount;
    m_totalBytes = 0;

    // A palette that fails to load leaves the colour entries as they were.
    if (BitCount == 4) {
        m_paletteBytes = loadPalette("PAL16", 64);
        std::memcpy(m_colours.data(), m_paletteBytes.data(), m_paletteBytes.size());
    } else if (BitCount == 8) {
        m_paletteBytes = loadPalette("PALETT", 1024);
        std::memcpy(m_colours.data(), m_paletteBytes.data(), m_paletteBytes.size());
    }

    return CreateDIB(lWidth, lHeight, BitCount);
}

bool cDibSection::CreateDIB(std::int32_t width, std::int32_t height, std::int32_t BitCount)
{
    if (width <= 0 || height <= 0)
        return false;
    const std::int64_t row = dib::rowBytesFor(width, BitCount);
    if (row <= 0)
        return false;
    const std::int64_t total = row * height;
    if (total > maxTotalBytes)
        return false;

    // Zeroed, as a new section is.
    std::unique_ptr<std::uint8_t[]> bits(new (std::nothrow) std::uint8_t[std::size_t(total)]());
    if (!bits)
        return false;
    m_totalBytes = std::int32_t(total);
    m_bits = std::move(bits);
    m_surface = std::make_unique<MemorySurface>(*this);
    m_hdc = platform::gdi::registerSurface(m_surface.get());
    if (m_hdc == 0) {
        m_surface.reset();
        m_bits.reset();
        m_totalBytes = 0;
        return false;
    }
    m_hDib = nextBitmapHandle();
    return true;
}

std::int32_t cDibSection::BytesPerScanLine() const
{
    return std::int32_t(dib::roundUp4(std::int64_t(m_width) * GetBytesPerPixel()));
}

std::int32_t cDibSection::rowBytes() const
{
    return std::int32_t(dib::rowBytesFor(m_width, m_bitCount));
}

void cDibSection::LoadPictureBlt(platform::gdi::HDC lhDC, std::int32_t, std::int32_t,
                                 std::int32_t lSrcWidth, std::int32_t lSrcHeight,
                                 std::uint32_t eRop)
{
    if (m_hdc == 0)
        return;
    const int width = lSrcWidth < 0 ? m_width : lSrcWidth;
    const int height = lSrcHeight < 0 ? m_height : lSrcHeight;
    const auto columns = dib::tileSpans(width);
    const auto rows = dib::tileSpans(height);
    for (const dib::TileSpan &r : rows) {
        for (const dib::TileSpan &c : columns)
            platform::gdi::BitBlt(m_hdc, c.offset, r.offset, c.extent, r.extent, lhDC, c.offset,
                                  r.offset, eRop);
    }
}

void cDibSection::PaintPicture(platform::gdi::HDC lhDC, std::int32_t lDestLeft,
                               std::int32_t lDestTop, std::int32_t lDestWidth,
                               std::int32_t lDestHeight, std::int32_t lSrcLeft,
                               std::int32_t lSrcTop, std::uint32_t eRop)
{
    if (m_hdc == 0)
        return;
    const int width = lDestWidth < 0 ? m_width : lDestWidth;
    const int height = lDestHeight < 0 ? m_height : lDestHeight;
    // The tiles of these depths go straight into the target's pixels and cannot fail half-way;
    // together they cover what one blit of the whole area would.
    if (eRop == platform::gdi::SRCCOPY && (m_bitCount == 24 || m_bitCount == 32))
        platform::gdi::PrepareBlits(lhDC, lDestLeft, lDestTop, width, height, m_hdc, lSrcLeft,
                                    lSrcTop);
    const auto columns = dib::tileSpans(width);
    const auto rows = dib::tileSpans(height);
    for (const dib::TileSpan &r : rows) {
        for (const dib::TileSpan &c : columns)
            platform::gdi::BitBlt(lhDC, lDestLeft + c.offset, lDestTop + r.offset, c.extent,
                                  r.extent, m_hdc, lSrcLeft + c.offset, lSrcTop + r.offset, eRop);
    }
}

void cDibSection::ClearUp()
{
    if (m_hdc != 0) {
        platform::gdi::unregisterSurface(m_hdc);
        m_hdc = 0;
    }
    m_surface.reset();
    m_bits.reset();
    m_hDib = 0;
}

QImage cDibSection::DibPicture() const
{
    if (!m_surface)
        return {};
    return m_surface->read(QRect(0, 0, m_width, m_height));
}
