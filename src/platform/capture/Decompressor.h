#pragma once

#include "platform/capture/FrameCodec.h"
#include "platform/capture/VfwTypes.h"

#include <cstdint>
#include <span>
#include <vector>

// The video decompressors: every compressed format of the format table (MJPG, YUY2 also as 'YUYV',
// UYVY, NV12, I420 also as 'IYUV', ...) into 24-bit bottom-up bitmaps of the same size, rows
// padded to 4 bytes. Handles are
// never 0 and never reused within a run. Call from one thread.
//
// ICDecompress flags: ICDECOMPRESS_NULLFRAME (no new picture) and ICDECOMPRESS_PREROLL (a frame
// that is not to be shown) write nothing and succeed, since every frame of these formats stands
// on its own and there is no state to build up. ICDECOMPRESS_HURRYUP decodes JPEG frames with the
// faster, slightly less exact transform. ICDECOMPRESS_UPDATE and ICDECOMPRESS_NOTKEYFRAME change
// nothing: every frame is a key frame.
namespace platform::vfw {

// hic 0 finds a decompressor for lpbiIn's format and opens it; a given hic must decode that format.
// Fills lpbiOut with the 24-bit BI_RGB format of the same size (positive height: bottom-up) and
// its biSizeImage. BitDepth, dx and dy are wishes this implementation does not need: the output
// is always 24-bit at the input's size. 0 when no decompressor takes the input.
HIC ICGetDisplayFormat(HIC hic, const BITMAPINFOHEADER *lpbiIn, BITMAPINFOHEADER *lpbiOut,
                       int BitDepth, int dx, int dy);

// ICM_DECOMPRESS_QUERY and ICM_DECOMPRESS_BEGIN (dw1: const BITMAPINFO *in, dw2: const
// BITMAPINFO *out, which QUERY may leave 0) answer ICERR_OK when in converts to out;
// ICM_DECOMPRESS_END answers ICERR_OK. Others: ICERR_UNSUPPORTED.
std::intptr_t ICSendMessage(HIC hic, std::uint32_t msg, std::intptr_t dw1, std::intptr_t dw2);

// Decodes one frame (data: its real bytes) into bits (the real output buffer). A damaged, short
// or mismatched frame fails with an ICERR code and changes nothing else: the next frame decodes.
// Nothing is ever read or written outside the two spans.
std::int32_t ICDecompress(HIC hic, std::uint32_t dwFlags, const BITMAPINFOHEADER *lpbiFormat,
                          std::span<const std::uint8_t> data, const BITMAPINFOHEADER *lpbi,
                          std::span<std::uint8_t> bits);

std::int32_t ICClose(HIC hic);

// Open decompressors, for leak checks.
std::size_t openDecompressorCount();

} // namespace platform::vfw
