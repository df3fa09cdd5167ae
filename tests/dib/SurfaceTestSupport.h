#pragma once

#include "platform/gdi/Gdi.h"

#include <QImage>
#include <QRandomGenerator>

#include <utility>

namespace surfacetest {

inline QImage noise(int w, int h, quint32 seed)
{
    QImage image(w, h, QImage::Format_RGB32);
    QRandomGenerator random(seed);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, 0xFF000000u | (random.generate() & 0xFFFFFF));
    return image;
}

// An image surface registered for the length of a test, counting the writes into it.
struct Registered
{
    explicit Registered(QImage initial)
        : image(std::move(initial)), surface(&image, [this] { ++changes; }),
          dc(platform::gdi::registerSurface(&surface))
    { }
    ~Registered() { platform::gdi::unregisterSurface(dc); }
    QImage image;
    platform::gdi::ImageSurface surface;
    platform::gdi::HDC dc;
    int changes = 0;
};

} // namespace surfacetest
