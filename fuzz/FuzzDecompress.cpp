// Feeds arbitrary frames to the video decompressors, as a camera or a driver could hand them
// over: any format, any claimed size, any bytes, and output buffers that may be too short. The
// sanitizers catch every read or write outside the two buffers.

#include "DecompressInput.h"

#include "platform/capture/Decompressor.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

using namespace platform::vfw;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < decompressfuzz::kPrefix)
        return 0;
    const decompressfuzz::Input input = decompressfuzz::parse(data);
    // Exactly the frame's bytes on the heap, so that a read past them is caught.
    const std::vector<std::uint8_t> frame(data + decompressfuzz::kPrefix, data + size);
    jpegFrameLooksComplete(frame, input.width, input.height);

    BITMAPINFOHEADER in = headerFor({input.compression, 16, input.width, input.height});
    BITMAPINFOHEADER out {};
    // One decompressor per format for the whole run: a frame that breaks one must not spoil the
    // next frame it decodes.
    static std::array<HIC, decompressfuzz::kFormats.size()> decompressors {};
    HIC &hic = decompressors[data[0] % decompressors.size()];
    const HIC opened = ICGetDisplayFormat(hic, &in, &out, 0, 0, 0);
    if (!opened)
        return 0;
    hic = opened;
    BITMAPINFO inInfo {}, outInfo {};
    inInfo.bmiHeader = in;
    outInfo.bmiHeader = out;
    if (ICSendMessage(hic, ICM_DECOMPRESS_BEGIN, reinterpret_cast<std::intptr_t>(&inInfo),
                      reinterpret_cast<std::intptr_t>(&outInfo))
        != ICERR_OK)
        __builtin_trap();

    std::uint32_t flags = 0;
    if (input.flags & 1)
        flags |= ICDECOMPRESS_HURRYUP;
    if (input.flags & 2)
        flags |= ICDECOMPRESS_NULLFRAME;
    std::vector<std::uint8_t> bits(out.biSizeImage
                                   - std::min<std::uint32_t>(out.biSizeImage, input.shortfall));
    const std::int32_t result = ICDecompress(hic, flags, &in, frame, &out, bits);
    // A buffer that falls short is always refused, whatever the frame holds.
    if (input.shortfall > 0 && !(flags & ICDECOMPRESS_NULLFRAME) && result == ICERR_OK)
        __builtin_trap();
    return 0;
}
