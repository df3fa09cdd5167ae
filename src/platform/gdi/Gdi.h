#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QSize>

#include <cstdint>
#include <functional>

// Drawing surfaces addressed by device-context handles, and the blits between them. A picture
// box's drawn image, a bitmap's memory surface and the screen are all surfaces; code above this
// layer only ever holds the 32-bit handle.
namespace platform::gdi {

using HDC = std::int32_t; // 0 = none

constexpr std::uint32_t SRCCOPY = 0x00CC0020;
constexpr int COLORONCOLOR = 3;
constexpr int HALFTONE = 4;

class Surface
{
public:
    virtual ~Surface() = default;
    virtual QSize size() const = 0;
    // The pixels of rect (clipped to the surface) as a QImage::Format_RGB32 image.
    virtual QImage read(const QRect &rect) const = 0;
    // Writes image with its top-left corner at `at`, clipped to the surface.
    virtual void write(const QPoint &at, const QImage &image) = 0;

    // A blit between two surfaces would otherwise convert every pixel twice: once into the image
    // that read() hands back and once more in write(). A target that keeps upright 32-bit pixels
    // of its own offers them here (null when it has none), and a source that can convert its
    // rect straight into them says so by returning true from readInto(); changed() follows.
    virtual QImage *pixels() { return nullptr; }
    virtual void changed() { }
    // rect lies inside this surface and fits into target at `at`; target is 32-bit RGB.
    virtual bool readInto(const QRect &rect, QImage &target, const QPoint &at) const;
    // The same for a scaled copy: rect of this surface scaled into targetRect of target (inside
    // it), smoothing when asked. False when this surface has no such conversion.
    virtual bool scaleInto(const QRect &, QImage &, const QRect &, bool) const { return false; }
    // The other way round: a target that can convert rect of an upright RGB32 source straight
    // into its own pixels at `at` (both inside) does so and returns true.
    virtual bool writeFrom(const QImage &, const QRect &, const QPoint &) { return false; }
    // rect (inside this surface) is about to be written whole by blits that follow at once: a
    // surface whose pixels are shared with a copy need not copy those before the first write.
    virtual void willOverwrite(const QRect &) { }

    int stretchMode = COLORONCOLOR;
};

// Whether blits may write straight into an image of this format.
constexpr bool isDirectFormat(QImage::Format format)
{
    return format == QImage::Format_RGB32 || format == QImage::Format_ARGB32
        || format == QImage::Format_ARGB32_Premultiplied;
}

// A surface over a QImage owned by someone else (a picture box's persistent drawing). changed
// runs after every write, so the owner can repaint.
class ImageSurface final : public Surface
{
public:
    ImageSurface(QImage *image, std::function<void()> changed = {});
    QSize size() const override;
    QImage read(const QRect &rect) const override;
    void write(const QPoint &at, const QImage &image) override;
    QImage *pixels() override;
    void changed() override;
    void willOverwrite(const QRect &rect) override;

private:
    QImage *m_image;
    std::function<void()> m_changed;
};

// Handles are never reused while the process runs, so a stale handle finds nothing.
HDC registerSurface(Surface *surface);
void unregisterSurface(HDC dc);
Surface *surfaceFor(HDC dc);

// Copies w x h pixels from (sx, sy) of src to (x, y) of dst. Only SRCCOPY is supported; other
// raster operations fail. False when a handle is unknown.
bool BitBlt(HDC dst, int x, int y, int w, int h, HDC src, int sx, int sy, std::uint32_t rop);
// Tells dst that blits from src follow at once that write every pixel of the w x h rectangle at
// (x, y), clipped as BitBlt clips it: a picture box that shares its pixels with its picture then
// copies only the others before the first write. Only for blits that write straight into dst's
// pixels and cannot fail half-way, or the rectangle would keep whatever the memory held.
void PrepareBlits(HDC dst, int x, int y, int w, int h, HDC src, int sx, int sy);
// Scales the source rectangle into the destination rectangle; HALFTONE mode smooths.
bool StretchBlt(HDC dst, int x, int y, int w, int h, HDC src, int sx, int sy, int sw, int sh,
                std::uint32_t rop);
// Returns the previous mode, 0 on an unknown handle.
int SetStretchBltMode(HDC dc, int mode);

} // namespace platform::gdi
