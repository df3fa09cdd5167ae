#pragma once

#include <QImage>
#include <QPainter>

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "exchange/modImageMemMapFunctions.h"
#include "support/Pictures.h"

// Image blocks as a parent writes them, for the receive tests and the benchmark.
namespace recvtest {

using namespace testpic;

// Top half one colour, bottom half another: shows both placement and row order.
inline QImage twoBandPicture(int width, int height, QRgb top, QRgb bottom)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(top);
    QPainter(&image).fillRect(0, height / 2, width, height - height / 2, QColor(bottom));
    return image;
}

inline Bytes zlibCompress(std::span<const std::uint8_t> data)
{
    uLongf length = compressBound(uLong(data.size()));
    Bytes out(length);
    if (compress2(out.data(), &length, data.data(), uLong(data.size()), Z_BEST_SPEED) != Z_OK)
        return {};
    out.resize(length);
    return out;
}

struct BlockFields
{
    std::int32_t OrigSize = 0;
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    std::uint8_t PictureFormat = 2;
    std::uint8_t Destination = 8;
    std::uint8_t BitsPerPixel = 24;
    std::uint8_t Marker = 32;
    // DataLength as written into the header; -1 means the real data length.
    std::int64_t claimedLength = -1;
};

// Header and data of one block, laid out as in shared memory.
inline Bytes blockBytes(const BlockFields &f, std::span<const std::uint8_t> data)
{
    const auto length
        = std::int32_t(f.claimedLength < 0 ? std::int64_t(data.size()) : f.claimedLength);
    const modImageMemMapFunctions::Header header = modImageMemMapFunctions::BuildImageHeader(
        f.OrigSize, length, f.Width, f.Height, 0, f.Destination, f.BitsPerPixel, f.PictureFormat,
        f.Marker);
    Bytes out(header.size() + data.size());
    std::copy(data.begin(), data.end(), std::copy(header.begin(), header.end(), out.begin()));
    return out;
}

// Format 1: the bitmap rows, zlib-compressed.
inline Bytes rawBlock(const QImage &image)
{
    const Bytes bits = bottomUpBgr(image);
    return blockBytes({std::int32_t(bits.size()), image.width(), image.height(), 1},
                      zlibCompress(bits));
}

// Format 2: a picture file as it is.
inline Bytes fileBlock(const Bytes &file)
{
    return blockBytes({std::int32_t(file.size()), 0, 0, 2}, file);
}

// Format 123: a JPEG stream, zlib-compressed. Width and height are left to the stream.
inline Bytes jpegBlock(const QImage &image)
{
    const Bytes jpeg = pictureFile(image);
    return blockBytes({std::int32_t(jpeg.size()), 0, 0, 123}, zlibCompress(jpeg));
}

} // namespace recvtest
