#pragma once

#include <QBuffer>
#include <QImage>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

// Pictures as other programs hand them over, made with Qt's own writers.
namespace testpic {

using Bytes = std::vector<std::uint8_t>;

// The picture's rows bottom-up, blue-green-red; stride 0 pads each row to a multiple of 4 bytes.
inline Bytes bottomUpBgr(const QImage &image, int stride = 0)
{
    const QImage bgr = image.convertToFormat(QImage::Format_BGR888).mirrored();
    const std::size_t rowBytes = std::size_t(stride ? stride : bgr.bytesPerLine());
    Bytes bits(rowBytes * std::size_t(image.height()), 0);
    for (int y = 0; y < image.height(); ++y)
        std::copy_n(bgr.constScanLine(y), image.width() * 3,
                    bits.begin() + std::ptrdiff_t(y * rowBytes));
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
