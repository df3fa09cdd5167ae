#pragma once

#include <QImage>

#include "support/Pictures.h"

#include <algorithm>
#include <cstdlib>
#include <span>
#include <utility>

namespace jpegtest {

using namespace testpic;

// Red top band, blue bottom band, a gradient between: orientation and colour errors show.
inline QImage testPicture(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y,
                           y < h / 4            ? qRgb(220, 30, 30)
                               : y >= h - h / 4 ? qRgb(30, 30, 220)
                                                : qRgb(x * 255 / w, y * 255 / h, 128));
    return image;
}

// Mean absolute difference per colour component of two pictures of a size.
inline double meanAbsoluteError(const QImage &a, const QImage &b)
{
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            for (const int shift : {0, 8, 16}) // blue, green, red
                sum += std::abs(int(a.pixel(x, y) >> shift & 0xff)
                                - int(b.pixel(x, y) >> shift & 0xff));
    return sum / (3.0 * a.width() * a.height());
}

// The segments of marker in a JPEG stream, in stream order, and the stream without them.
inline std::pair<Bytes, Bytes> splitSegments(const Bytes &jpeg, int marker)
{
    Bytes taken,
        kept(jpeg.begin(), jpeg.begin() + std::ptrdiff_t(std::min<std::size_t>(2, jpeg.size())));
    std::size_t i = 2;
    while (i + 4 <= jpeg.size() && jpeg[i + 1] != 0xDA) {
        const std::size_t end
            = std::min(jpeg.size(), i + 2 + (std::size_t(jpeg[i + 2]) << 8 | jpeg[i + 3]));
        Bytes &to = jpeg[i + 1] == marker ? taken : kept;
        to.insert(to.end(), jpeg.begin() + std::ptrdiff_t(i), jpeg.begin() + std::ptrdiff_t(end));
        i = end;
    }
    kept.insert(kept.end(), jpeg.begin() + std::ptrdiff_t(std::min(i, jpeg.size())), jpeg.end());
    return {taken, kept};
}

// An output buffer with guard bytes after the part a writer may fill.
struct GuardedBuffer
{
    explicit GuardedBuffer(std::size_t size) : bytes(size + 4096, 0xA5), usable(size) { }
    std::span<std::uint8_t> span() { return {bytes.data(), usable}; }
    bool untouchedFrom(std::size_t offset) const
    {
        return std::all_of(bytes.begin() + std::ptrdiff_t(offset), bytes.end(),
                           [](std::uint8_t b) { return b == 0xA5; });
    }
    Bytes bytes;
    std::size_t usable;
};

} // namespace jpegtest
