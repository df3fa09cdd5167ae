#include "platform/gdi/Gdi.h"

#include <QPainter>

#include <cstring>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <utility>

namespace platform::gdi {

namespace {

struct HandleTable
{
    std::mutex lock;
    std::unordered_map<HDC, Surface *> surfaces;
    HDC next = 0x100; // well clear of small numbers that could be mistaken for counts
};

HandleTable &table()
{
    static HandleTable instance;
    return instance;
}

QRect bounds(const Surface &surface)
{
    return QRect(QPoint(0, 0), surface.size());
}

// Coordinates beyond this are nobody's picture; refusing them keeps QRect's arithmetic (which
// adds extents to origins in int) clear of overflow.
constexpr int coordinateLimit = 1 << 28;

bool coordinatesSane(std::initializer_list<int> values)
{
    for (int v : values) {
        if (v < -coordinateLimit || v > coordinateLimit)
            return false;
    }
    return true;
}

struct BlitPair
{
    Surface *to;
    Surface *from;
};

std::optional<BlitPair> resolve(HDC dst, HDC src, std::uint32_t rop)
{
    if (rop != SRCCOPY)
        return std::nullopt;
    Surface *to = surfaceFor(dst);
    Surface *from = surfaceFor(src);
    if (!to || !from)
        return std::nullopt;
    return BlitPair {to, from};
}

// The rectangles BitBlt copies between: source and target clipped against both surfaces, moved
// together so that the pixels keep their offsets. Nothing when nothing is copied.
std::optional<std::pair<QRect, QRect>> clipBlit(const Surface &to, const Surface &from, int x,
                                                int y, int w, int h, int sx, int sy)
{
    if (w <= 0 || h <= 0)
        return std::nullopt;
    const QRect sourceClip = QRect(sx, sy, w, h).intersected(bounds(from));
    if (sourceClip.isEmpty())
        return std::nullopt;
    const QRect targetClip = sourceClip.translated(x - sx, y - sy).intersected(bounds(to));
    if (targetClip.isEmpty())
        return std::nullopt;
    return std::pair(targetClip.translated(sx - x, sy - y), targetClip);
}

} // namespace

bool Surface::readInto(const QRect &, QImage &, const QPoint &) const
{
    return false;
}

ImageSurface::ImageSurface(QImage *image, std::function<void()> changed)
    : m_image(image), m_changed(std::move(changed))
{ }

QSize ImageSurface::size() const
{
    return m_image ? m_image->size() : QSize();
}

QImage ImageSurface::read(const QRect &rect) const
{
    if (!m_image)
        return {};
    const QRect clipped = rect.intersected(m_image->rect());
    if (clipped.isEmpty())
        return {};
    // copy() detaches, so a later write to the same image cannot alter what was read.
    return m_image->copy(clipped).convertToFormat(QImage::Format_RGB32);
}

void ImageSurface::write(const QPoint &at, const QImage &image)
{
    if (!m_image || m_image->isNull() || image.isNull())
        return;
    const QRect target = QRect(at, image.size()).intersected(m_image->rect());
    if (target.isEmpty())
        return;
    {
        QPainter painter(m_image);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(target.topLeft(), image, target.translated(-at));
    }
    changed();
}

QImage *ImageSurface::pixels()
{
    return m_image && !m_image->isNull() && isDirectFormat(m_image->format()) ? m_image : nullptr;
}

void ImageSurface::willOverwrite(const QRect &rect)
{
    const QRect area = rect.intersected(m_image ? m_image->rect() : QRect());
    if (area.isEmpty() || m_image->isDetached() || !isDirectFormat(m_image->format()))
        return;
    QImage fresh(m_image->size(), m_image->format());
    if (fresh.isNull() || fresh.bytesPerLine() != m_image->bytesPerLine())
        return;
    fresh.setDevicePixelRatio(m_image->devicePixelRatio());
    fresh.setDotsPerMeterX(m_image->dotsPerMeterX());
    fresh.setDotsPerMeterY(m_image->dotsPerMeterY());
    // Same size and format, so rows of the same length: the rows above and below area are copied
    // whole, the rows of area keep only their two sides (four bytes a pixel in direct formats).
    const std::size_t stride = std::size_t(m_image->bytesPerLine());
    const uchar *from = m_image->constBits();
    uchar *to = fresh.bits();
    const std::size_t top = std::size_t(area.top()), end = std::size_t(area.bottom()) + 1;
    std::memcpy(to, from, stride * top);
    std::memcpy(to + stride * end, from + stride * end,
                stride * (std::size_t(fresh.height()) - end));
    const std::size_t left = std::size_t(area.left()) * 4,
                      right = std::size_t(area.right() + 1) * 4;
    if (left > 0 || right < stride) {
        for (std::size_t y = top; y < end; ++y) {
            std::memcpy(to + y * stride, from + y * stride, left);
            std::memcpy(to + y * stride + right, from + y * stride + right, stride - right);
        }
    }
    *m_image = std::move(fresh);
}

void ImageSurface::changed()
{
    if (m_changed)
        m_changed();
}

HDC registerSurface(Surface *surface)
{
    if (!surface)
        return 0;
    HandleTable &t = table();
    std::lock_guard guard(t.lock);
    if (t.next <= 0) // wrapped after two thousand million registrations: refuse, never reuse
        return 0;
    const HDC dc = t.next++;
    t.surfaces.emplace(dc, surface);
    return dc;
}

void unregisterSurface(HDC dc)
{
    HandleTable &t = table();
    std::lock_guard guard(t.lock);
    t.surfaces.erase(dc);
}

Surface *surfaceFor(HDC dc)
{
    if (dc == 0)
        return nullptr;
    HandleTable &t = table();
    std::lock_guard guard(t.lock);
    const auto it = t.surfaces.find(dc);
    return it == t.surfaces.end() ? nullptr : it->second;
}

bool BitBlt(HDC dst, int x, int y, int w, int h, HDC src, int sx, int sy, std::uint32_t rop)
{
    const std::optional<BlitPair> pair = resolve(dst, src, rop);
    if (!pair || !coordinatesSane({x, y, w, h, sx, sy}))
        return false;
    Surface *to = pair->to;
    Surface *from = pair->from;
    const auto clipped = clipBlit(*to, *from, x, y, w, h, sx, sy);
    if (!clipped)
        return true;
    const auto &[source, targetClip] = *clipped;

    QImage *direct = from != to ? to->pixels() : nullptr;
    if (direct && from->readInto(source, *direct, targetClip.topLeft())) {
        to->changed();
        return true;
    }
    const QImage *sourcePixels = from != to ? from->pixels() : nullptr;
    if (sourcePixels && sourcePixels->format() == QImage::Format_RGB32
        && to->writeFrom(*sourcePixels, source, targetClip.topLeft())) {
        to->changed();
        return true;
    }
    // read() hands back an independent copy, so overlapping copies within one surface are safe.
    const QImage pixels = from->read(source);
    if (pixels.isNull())
        return false;
    to->write(targetClip.topLeft(), pixels);
    return true;
}

void PrepareBlits(HDC dst, int x, int y, int w, int h, HDC src, int sx, int sy)
{
    const std::optional<BlitPair> pair = resolve(dst, src, SRCCOPY);
    if (!pair || pair->to == pair->from || !pair->to->pixels()
        || !coordinatesSane({x, y, w, h, sx, sy}))
        return;
    if (const auto clipped = clipBlit(*pair->to, *pair->from, x, y, w, h, sx, sy))
        pair->to->willOverwrite(clipped->second);
}

bool StretchBlt(HDC dst, int x, int y, int w, int h, HDC src, int sx, int sy, int sw, int sh,
                std::uint32_t rop)
{
    const std::optional<BlitPair> pair = resolve(dst, src, rop);
    if (!pair || !coordinatesSane({x, y, w, h, sx, sy, sw, sh}))
        return false;
    Surface *to = pair->to;
    Surface *from = pair->from;
    if (w == 0 || h == 0 || sw == 0 || sh == 0)
        return true;

    // A negative extent on one side only mirrors the picture along that axis.
    const bool mirrorX = (w < 0) != (sw < 0);
    const bool mirrorY = (h < 0) != (sh < 0);
    const auto span = [](int origin, int extent) {
        return extent < 0 ? std::pair {origin + extent, -extent} : std::pair {origin, extent};
    };
    const auto [srcLeft, srcWidth] = span(sx, sw);
    const auto [srcTop, srcHeight] = span(sy, sh);
    const auto [dstLeft, dstWidth] = span(x, w);
    const auto [dstTop, dstHeight] = span(y, h);
    const QRect source(srcLeft, srcTop, srcWidth, srcHeight);
    const QRect target(dstLeft, dstTop, dstWidth, dstHeight);

    // Bound the work: a scaled image larger than this is a caller's mistake, not a picture.
    constexpr qint64 maxPixels = qint64(4096) * 4096; // 64 MiB of RGB32
    if (qint64(target.width()) * target.height() > maxPixels)
        return false;
    if (!target.intersects(bounds(*to)))
        return true;

    // The common case, a whole frame scaled down into a picture box, straight from the
    // source's pixels into the target's.
    if (!mirrorX && !mirrorY && bounds(*from).contains(source) && bounds(*to).contains(target)) {
        if (QImage *direct = to->pixels(); direct && isDirectFormat(direct->format())
            && from->scaleInto(source, *direct, target, to->stretchMode == HALFTONE)) {
            to->changed();
            return true;
        }
    }

    // Read the whole source rectangle with any outside part left black, so the scale factor is
    // the one asked for even when the source rectangle leaves the surface.
    if (qint64(source.width()) * source.height() > maxPixels)
        return false;
    QImage pixels(source.size(), QImage::Format_RGB32);
    if (pixels.isNull())
        return false;
    pixels.fill(Qt::black);
    const QRect inside = source.intersected(bounds(*from));
    if (!inside.isEmpty()) {
        const QImage part = from->read(inside);
        QPainter painter(&pixels);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(inside.topLeft() - source.topLeft(), part);
    }
    if (mirrorX || mirrorY)
        pixels = pixels.mirrored(mirrorX, mirrorY);

    const Qt::TransformationMode mode
        = to->stretchMode == HALFTONE ? Qt::SmoothTransformation : Qt::FastTransformation;
    QImage scaled = pixels.size() == target.size()
        ? pixels
        : pixels.scaled(target.size(), Qt::IgnoreAspectRatio, mode);
    if (scaled.isNull())
        return false;
    if (scaled.format() != QImage::Format_RGB32)
        scaled = scaled.convertToFormat(QImage::Format_RGB32);
    to->write(target.topLeft(), scaled);
    return true;
}

int SetStretchBltMode(HDC dc, int mode)
{
    Surface *surface = surfaceFor(dc);
    if (!surface)
        return 0;
    const int previous = surface->stretchMode;
    surface->stretchMode = mode;
    return previous;
}

} // namespace platform::gdi
