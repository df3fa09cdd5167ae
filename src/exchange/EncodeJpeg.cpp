#include "exchange/EncodeJpeg.h"

#include "base/DebugTrace.h"
#include "platform/jpeg/Jpeg.h"
#include "support/cDibSection.h"

#include <optional>

namespace {

// One encoder per thread, made again when making it failed last time.
platform::jpeg::Encoder *threadEncoder()
{
    thread_local std::optional<platform::jpeg::Encoder> encoder;
    if (!encoder || !encoder->isValid())
        encoder.emplace();
    return encoder->isValid() ? &*encoder : nullptr;
}

} // namespace

std::vector<std::uint8_t> EncodeJpeg(const cDibSection &source, bool isCameraFrame)
{
    if (source.HDC() == 0 || !source.DIBSectionBitsPtr())
        return {};

    const cDibSection *bitmap = &source;
    cDibSection copy;
    if (source.PixelDepth() != 24) {
        if (!copy.Create(source.Width(), source.Height(), 24))
            return {};
        copy.LoadPictureBlt(source.HDC(), 0, 0, -1, -1, platform::gdi::SRCCOPY);
        bitmap = &copy;
    }

    platform::jpeg::Encoder *encoder = threadEncoder();
    if (!encoder)
        return {};

    if (isCameraFrame)
        DebugTrace::Trace("WebCam tmrMain - JPG Convert Start");
    const platform::jpeg::ConstBgrBitmap picture {
        bitmap->DIBSectionBitsPtr(), std::size_t(bitmap->TotalBytes()), bitmap->Width(),
        bitmap->Height(), bitmap->BytesPerScanLine()};
    // The stream may take no more than the bitmap's own size; it is copied out at its length,
    // so no buffer of the full size is ever filled.
    const auto stream = encoder->encode(picture, jpegQuality, std::size_t(bitmap->TotalBytes()));
    if (isCameraFrame)
        DebugTrace::Trace("WebCam tmrMain - JPG Convert End");

    if (!stream || stream->empty())
        return {};
    return {stream->begin(), stream->end()};
}
