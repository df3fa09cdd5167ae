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

// A GIF of up to four colours, one of them transparent: Qt reads GIFs but cannot write them.
// index holds one palette index per pixel, row by row.
inline Bytes gifFile(int width, int height, const std::vector<QRgb> &palette,
                     const std::vector<std::uint8_t> &index, std::uint8_t transparentIndex)
{
    Bytes out = {'G', 'I', 'F', '8', '9', 'a'};
    const auto put16 = [&out](int v) {
        out.push_back(std::uint8_t(v & 0xff));
        out.push_back(std::uint8_t(v >> 8));
    };
    put16(width);
    put16(height);
    out.insert(out.end(), {0x81, 0, 0}); // a global table of 4 entries
    for (int i = 0; i < 4; ++i) {
        const QRgb c = i < int(palette.size()) ? palette[std::size_t(i)] : 0;
        out.insert(out.end(),
                   {std::uint8_t(qRed(c)), std::uint8_t(qGreen(c)), std::uint8_t(qBlue(c))});
    }
    out.insert(out.end(), {0x21, 0xF9, 4, 0x01, 0, 0, transparentIndex, 0});
    out.push_back(0x2C);
    put16(0);
    put16(0);
    put16(width);
    put16(height);
    out.push_back(0);

    // LZW with 3-bit codes throughout: a clear code before every two pixels keeps the decoder's
    // table from growing past what 3 bits can name.
    constexpr int clear = 4, end = 5;
    Bytes packed;
    std::uint32_t bits = 0;
    int count = 0;
    const auto code = [&](int c) {
        bits |= std::uint32_t(c) << count;
        count += 3;
        while (count >= 8) {
            packed.push_back(std::uint8_t(bits & 0xff));
            bits >>= 8;
            count -= 8;
        }
    };
    for (std::size_t i = 0; i < index.size(); ++i) {
        if (i % 2 == 0)
            code(clear);
        code(index[i]);
    }
    code(end);
    if (count > 0)
        packed.push_back(std::uint8_t(bits & 0xff));
    out.push_back(2); // minimum code size
    for (std::size_t at = 0; at < packed.size(); at += 255) {
        const std::size_t n = std::min<std::size_t>(255, packed.size() - at);
        out.push_back(std::uint8_t(n));
        out.insert(out.end(), packed.begin() + std::ptrdiff_t(at),
                   packed.begin() + std::ptrdiff_t(at + n));
    }
    out.insert(out.end(), {0, 0x3B});
    return out;
}

} // namespace testpic
