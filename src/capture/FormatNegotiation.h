#pragma once

#include <cstdint>
#include <functional>

#include "platform/capture/VfwTypes.h"

namespace capture {

// What a frame format negotiation ends with: the format the driver reports, and whether the
// frames it delivers stay larger than the participant area and must be scaled down.
struct Negotiated
{
    platform::vfw::BITMAPINFO format;
    bool UseScaling;
};

// Asks the driver for 24-bit uncompressed frames and, for output to the participant area
// (windowPos 8) and unless mustScale, for 176 x 144; then, while the frames stay too big (wider
// than 176 or higher than 144), for 176 x 144 again, 160 x 120 and, when they are larger than
// 320 x 240, for that. setAndReadBack sends one format to the driver and returns what the driver
// reports afterwards: the driver may refuse or adjust any field, and from then on its answer is
// the format. White-board output keeps the driver's size and never scales.
Negotiated
negotiateFormat(platform::vfw::BITMAPINFO reported, std::int32_t windowPos, bool mustScale,
                const std::function<platform::vfw::BITMAPINFO(const platform::vfw::BITMAPINFO &)>
                    &setAndReadBack);

// The size a picture of width x height takes in the 176 x 144 area: its own when it fits,
// otherwise scaled down with its aspect ratio kept, rounded half to even.
struct FittedSize
{
    std::int32_t width;
    std::int32_t height;
};
FittedSize fitPictureSize(std::int32_t width, std::int32_t height);

} // namespace capture
