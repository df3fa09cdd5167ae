#include "capture/FormatNegotiation.h"

#include <cmath>

namespace capture {

namespace {

constexpr std::int32_t kAreaWidth = 176;
constexpr std::int32_t kAreaHeight = 144;

bool tooBig(const platform::vfw::BITMAPINFO &format)
{
    return format.bmiHeader.biHeight > kAreaHeight || format.bmiHeader.biWidth > kAreaWidth;
}

std::int32_t roundHalfEven(double value)
{
    return std::int32_t(std::nearbyint(value));
}

} // namespace

Negotiated
negotiateFormat(platform::vfw::BITMAPINFO reported, std::int32_t windowPos, bool mustScale,
                const std::function<platform::vfw::BITMAPINFO(const platform::vfw::BITMAPINFO &)>
                    &setAndReadBack)
{
    platform::vfw::BITMAPINFO format = reported;
    const auto ask = [&](std::int32_t width, std::int32_t height) {
        format.bmiHeader.biWidth = width;
        format.bmiHeader.biHeight = height;
        format = setAndReadBack(format);
    };

    format.bmiHeader.biBitCount = 24;
    format.bmiHeader.biClrUsed = 0;
    format.bmiHeader.biCompression = platform::vfw::BI_RGB;
    if (windowPos == 8 && !mustScale) {
        format.bmiHeader.biWidth = kAreaWidth;
        format.bmiHeader.biHeight = kAreaHeight;
    }
    format = setAndReadBack(format);

    bool useScaling = false;
    if (windowPos == 8) {
        // The size is asked for again: some drivers only take a size once the depth is theirs.
        if (tooBig(format) && !mustScale)
            ask(kAreaWidth, kAreaHeight);
        if (tooBig(format) && !mustScale)
            ask(160, 120);
        if (tooBig(format)) {
            if (!mustScale && (format.bmiHeader.biHeight > 240 || format.bmiHeader.biWidth > 320))
                ask(320, 240);
            useScaling = true;
        }
    }
    return {format, useScaling};
}

FittedSize fitPictureSize(std::int32_t width, std::int32_t height)
{
    if ((width <= kAreaWidth && height <= kAreaHeight) || width <= 0 || height <= 0)
        return {width, height};
    if (width > height) {
        const double ratio = double(width) / height;
        if (ratio * kAreaHeight > kAreaWidth)
            return {kAreaWidth, roundHalfEven(kAreaWidth / ratio)};
        return {roundHalfEven(ratio * kAreaHeight), kAreaHeight};
    }
    return {roundHalfEven(kAreaHeight / (double(height) / width)), kAreaHeight};
}

} // namespace capture
