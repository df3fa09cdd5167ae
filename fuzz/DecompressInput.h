#pragma once

#include "platform/capture/FormatTable.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

// The decompress fuzz input: a 7-byte prefix picks the frame's format and the call, the rest is
// the frame. Prefix: format index, width and height (16-bit little-endian, taken modulo 1024,
// 0 stays 0), flag bits (1: hurry up, 2: null frame), and how many bytes the output buffer falls
// short of the decoded frame.
namespace decompressfuzz {

constexpr std::array<std::uint32_t, 8> kFormats {
    platform::vfw::FOURCC_MJPG, platform::vfw::FOURCC_YUY2,
    platform::vfw::FOURCC_UYVY, platform::vfw::FOURCC_NV12,
    platform::vfw::FOURCC_I420, platform::vfw::FOURCC_YUYV,
    platform::vfw::BI_RGB,      platform::vfw::makeFourCC('N', 'V', '2', '1')};
constexpr std::size_t kPrefix = 7;

struct Input
{
    std::uint32_t compression = 0;
    int width = 0;
    int height = 0;
    std::uint8_t flags = 0;
    std::uint8_t shortfall = 0;
};

inline Input parse(const std::uint8_t *data)
{
    Input input;
    input.compression = kFormats[data[0] % kFormats.size()];
    input.width = (data[1] | data[2] << 8) % 1024;
    input.height = (data[3] | data[4] << 8) % 1024;
    input.flags = data[5];
    input.shortfall = data[6];
    return input;
}

inline std::vector<std::uint8_t> prefix(std::uint8_t format, int width, int height,
                                        std::uint8_t flags = 0, std::uint8_t shortfall = 0)
{
    return {format,
            std::uint8_t(width),
            std::uint8_t(width >> 8),
            std::uint8_t(height),
            std::uint8_t(height >> 8),
            flags,
            shortfall};
}

} // namespace decompressfuzz
