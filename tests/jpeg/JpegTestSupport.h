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
            if (y < h / 4)
                image.setPixel(x, y, qRgb(220, 30, 30));
            else if (y >= h - h / 4)
                image.setPixel(x, y, qRgb(30, 30, 220));
            else
                image.setPixel(x, y, qRgb(x * 255 / w, y * 255 / h, 128));
        }
    }
    return image;
}

// Mean absolute difference per colour component.
inline double meanAbsoluteError(const QImage &a, const QImage &b)
{
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    if (x.size() != y.size())
        return 1e9;
    double sum = 0;
    for (int r = 0; r < x.height(); ++r) {
        for (int c = 0; c < x.width(); ++c) {
            const QRgb p = x.pixel(c, r), q = y.pixel(c, r);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q))
                + std::abs(qBlue(p) - qBlue(q));
        }
    }
    return sum / (3.0 * x.width() * x.height());
}

} // namespace jpegtest
