#pragma once

#include <QBuffer>
#include <QImage>

#include <cstddef>
#include <cstdint>
#include <vector>

// Pictures as other programs hand them over, made with Qt's own writers.
namespace testpic {

using Bytes = std::vector<std::uint8_t>;

// The picture's rows bottom-up, blue-green-red; stride 0 pads each row to a multiple of 4 bytes.
inline Bytes bottomUpBgr(const QImage &image, int stride = 0)
{
    if (stride == 0)
        stride = (image.width() * 3 + 3) & ~3;
    Bytes bits(std::size_t(stride) * std::size_t(image.height()), 0);
    for (int y = 0; y < image.height(); ++y) {
        std::uint8_t *row = bits.data() + std::size_t(image.height() - 1 - y) * std::size_t(stride);
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            row[3 * x] = std::uint8_t(qBlue(pixel));
            row[3 * x + 1] = std::uint8_t(qGreen(pixel));
            row[3 * x + 2] = std::uint8_t(qRed(pixel));
        }
    }
    return bits;
}

inline Bytes pictureFile(const QImage &image, const char *format = "JPG", int quality = 90)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, quality);
    const QByteArray &data = buffer.data();
    return Bytes(data.begin(), data.end());
}

} // namespace testpic
