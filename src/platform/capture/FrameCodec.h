#pragma once

#include "platform/capture/FormatTable.h"
#include "platform/jpeg/Jpeg.h"

#include <cstdint>
#include <span>
#include <vector>

// Frames to pictures and back, through the rows of the format table: the decoder turns a frame
// of any format into a 24-bit bottom-up bitmap (the decompressors, the clipboard copy), the
// encoder turns a drawn picture into the frame a camera of that format sends (the virtual
// cameras, the fake devices). Each keeps its library state from frame to frame; use one per
// thread.
namespace platform::vfw {

struct CodecState
{
    jpeg::TjHandle decompressor; // made on first use
    jpeg::TjHandle compressor;
    std::vector<std::uint8_t> strip; // 32-bit rows for conversions that pass through them
    std::vector<std::uint8_t> stream; // room for the largest compressed frame
};

class FrameDecoder
{
public:
    // Decodes a frame of format into bottom-up 24-bit rows padded to 4 in out. ICERR_OK or an
    // ICERR code: ICERR_BADFORMAT for a format or size we do not take, ICERR_BADSIZE for an out
    // too small or a raw frame cut short. Nothing is read or written outside the two spans.
    std::int32_t decode(const VideoFormat &format, std::span<const std::uint8_t> data,
                        std::span<std::uint8_t> out, bool fast = false);

private:
    CodecState m_state;
};

class FrameEncoder
{
public:
    // The frame a camera delivering format sends for picture (of the format's size): exactly
    // its bytes in out. False for a format we do not take or a picture of another size.
    bool encode(const VideoFormat &format, const PictureView &picture,
                std::vector<std::uint8_t> &out);

    // Encodes only the area of picture at x, y into frame, a whole frame of format made by
    // encode() from an earlier picture of the same size. False, with frame unchanged, when the
    // format's pixels do not stand alone (subsampled or compressed) or the area is not inside.
    bool encodeArea(const VideoFormat &format, const PictureView &picture, int x, int y, int width,
                    int height, std::span<std::uint8_t> frame);

private:
    CodecState m_state;
};

} // namespace platform::vfw
