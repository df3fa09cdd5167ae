#pragma once

#include <QImage>

#include "support/Pictures.h"

#include <cstdlib>

namespace jpegtest {

using testpic::bottomUpBgr;
using testpic::Bytes;
using testpic::pictureFile;

// A smooth picture with a red top band, a blue bottom band and a diagonal gradient between, so
// that orientation errors and gross colour errors show.
inline QImage testPicture(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            image.setPixel(x, y,
                           y < h / 4            ? qRgb(220, 30, 30)
                               : y >= h - h / 4 ? qRgb(30, 30, 220)
                                                : qRgb(x * 255 / w, y * 255 / h, 128));
        }
    }
    return image;
}

// Mean absolute difference per colour component of two pictures of a size.
inline double meanAbsoluteError(const QImage &a, const QImage &b)
{
    double sum = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q))
                + std::abs(qBlue(p) - qBlue(q));
        }
    }
    return sum / (3.0 * a.width() * a.height());
}

} // namespace jpegtest
