// Writes the seed corpus of the decompress fuzz target: a whole frame of each format at an even
// and an odd size, a camera-style JPEG without Huffman tables, and a few near-misses.

#include "DecompressInput.h"

#include "platform/capture/FrameCodec.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// Stripes of four colours, as 32-bit pixels.
std::vector<std::uint32_t> stripes(int w, int h)
{
    static const std::uint32_t colours[] = {0xFFE02020, 0xFF20E020, 0xFF2020E0, 0xFFF0F0F0};
    std::vector<std::uint32_t> pixels(std::size_t(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            pixels[std::size_t(y) * w + x] = colours[(x / 4 + y / 4) % 4];
    return pixels;
}

// A whole frame of format as a camera of that format sends it.
Bytes frame(const platform::vfw::VideoFormat &format)
{
    const std::vector<std::uint32_t> pixels = stripes(format.width, format.height);
    const platform::vfw::PictureView picture {reinterpret_cast<const std::uint8_t *>(pixels.data()),
                                              format.width, format.height, format.width * 4};
    Bytes bytes;
    platform::vfw::FrameEncoder().encode(format, picture, bytes);
    return bytes;
}

Bytes raw(std::uint32_t compression, int w, int h)
{
    return frame({compression, 16, w, h});
}

Bytes jpeg(int w, int h, bool huffmanTables)
{
    const Bytes bytes = frame({platform::vfw::FOURCC_MJPG, 24, w, h});
    if (huffmanTables)
        return bytes;
    Bytes stripped(bytes.begin(), bytes.begin() + 2);
    for (std::size_t pos = 2; pos + 4 <= bytes.size();) {
        const std::size_t length = std::size_t(bytes[pos + 2]) << 8 | bytes[pos + 3];
        if (bytes[pos + 1] == 0xDA) {
            stripped.insert(stripped.end(), bytes.begin() + std::ptrdiff_t(pos), bytes.end());
            break;
        }
        if (bytes[pos + 1] != 0xC4)
            stripped.insert(stripped.end(), bytes.begin() + std::ptrdiff_t(pos),
                            bytes.begin() + std::ptrdiff_t(pos + 2 + length));
        pos += 2 + length;
    }
    return stripped;
}

Bytes seed(Bytes prefix, const Bytes &frame)
{
    prefix.insert(prefix.end(), frame.begin(), frame.end());
    return prefix;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    using decompressfuzz::prefix;
    using namespace platform::vfw;
    const Bytes camera = jpeg(32, 24, false);
    Bytes cut = camera;
    cut.resize(cut.size() * 2 / 3);
    Bytes padded = camera;
    padded.resize(padded.size() + 64, 0);
    const struct
    {
        const char *name;
        Bytes bytes;
    } seeds[] = {
        {"mjpg-32x24", seed(prefix(0, 32, 24), jpeg(32, 24, true))},
        {"mjpg-camera-no-tables", seed(prefix(0, 32, 24), camera)},
        {"mjpg-camera-padded-hurry", seed(prefix(0, 32, 24, 1), padded)},
        {"mjpg-cut-short", seed(prefix(0, 32, 24), cut)},
        {"mjpg-odd-17x9", seed(prefix(0, 17, 9), jpeg(17, 9, true))},
        {"mjpg-short-output", seed(prefix(0, 32, 24, 0, 3), jpeg(32, 24, true))},
        {"yuy2-16x8", seed(prefix(1, 16, 8), raw(FOURCC_YUY2, 16, 8))},
        {"yuy2-odd-15x7", seed(prefix(1, 15, 7), raw(FOURCC_YUY2, 15, 7))},
        {"uyvy-16x8", seed(prefix(2, 16, 8), raw(FOURCC_UYVY, 16, 8))},
        {"nv12-16x8", seed(prefix(3, 16, 8), raw(FOURCC_NV12, 16, 8))},
        {"nv12-odd-15x7", seed(prefix(3, 15, 7), raw(FOURCC_NV12, 15, 7))},
        {"i420-16x8", seed(prefix(4, 16, 8), raw(FOURCC_I420, 16, 8))},
        {"yuyv-null-frame", seed(prefix(5, 16, 8, 2), raw(FOURCC_YUY2, 16, 8))},
        {"nv21-odd-15x7", seed(prefix(7, 15, 7), raw(makeFourCC('N', 'V', '2', '1'), 15, 7))},
    };
    for (const auto &s : seeds) {
        const std::string path = std::string(argv[1]) + "/" + s.name;
        std::FILE *file = std::fopen(path.c_str(), "wb");
        if (!file || std::fwrite(s.bytes.data(), 1, s.bytes.size(), file) != s.bytes.size()) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
        std::fclose(file);
    }
    return 0;
}
