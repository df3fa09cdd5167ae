// EncodeJpeg and the decode of a received JPEG into a bitmap, each against the bare library call
// on the same pixels, which is the floor they can reach.

#include "exchange/EncodeJpeg.h"
#include "platform/jpeg/Jpeg.h"
#include "support/cDibSection.h"

#include <benchmark/benchmark.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

// A camera-like picture: smooth shading with some sensor noise, written straight into the bits.
void fillFrame(cDibSection &dib)
{
    std::uint32_t noise = 12345;
    const int stride = dib.BytesPerScanLine();
    for (int y = 0; y < dib.Height(); ++y) {
        std::uint8_t *row = dib.DIBSectionBitsPtr() + std::ptrdiff_t(y) * stride;
        for (int x = 0; x < dib.Width(); ++x) {
            noise = noise * 1664525u + 1013904223u;
            const int n = int(noise >> 28) - 8;
            const double shade = 0.5 + 0.5 * std::sin(x * 0.03) * std::cos(y * 0.02);
            row[3 * x] = std::uint8_t(std::clamp(int(60 + 120 * shade) + n, 0, 255));
            row[3 * x + 1] = std::uint8_t(std::clamp(int(90 + 100 * shade) + n, 0, 255));
            row[3 * x + 2] = std::uint8_t(std::clamp(int(150 + 80 * (1 - shade)) + n, 0, 255));
        }
    }
}

void BM_EncodeJpeg(benchmark::State &state)
{
    cDibSection frame;
    frame.Create(int(state.range(0)), int(state.range(1)), 24);
    fillFrame(frame);
    std::size_t bytes = 0;
    for (auto _ : state) {
        const std::vector<std::uint8_t> jpeg = EncodeJpeg(frame, true);
        bytes = jpeg.size();
        benchmark::DoNotOptimize(jpeg.data());
    }
    state.counters["jpeg_bytes"] = double(bytes);
}

void BM_BareCompress(benchmark::State &state)
{
    cDibSection frame;
    frame.Create(int(state.range(0)), int(state.range(1)), 24);
    fillFrame(frame);
    tjhandle handle = tjInitCompress();
    std::vector<unsigned char> out(tjBufSize(frame.Width(), frame.Height(), TJSAMP_420));
    unsigned long length = 0;
    for (auto _ : state) {
        unsigned char *buffer = out.data();
        length = out.size();
        tjCompress2(handle, frame.DIBSectionBitsPtr(), frame.Width(), frame.BytesPerScanLine(),
                    frame.Height(), TJPF_BGR, &buffer, &length, TJSAMP_420, 70,
                    TJFLAG_BOTTOMUP | TJFLAG_NOREALLOC);
        benchmark::DoNotOptimize(buffer);
    }
    state.counters["jpeg_bytes"] = double(length);
    tjDestroy(handle);
}

std::vector<std::uint8_t> jpegOf(int width, int height)
{
    cDibSection frame;
    frame.Create(width, height, 24);
    fillFrame(frame);
    return EncodeJpeg(frame, false);
}

// The receive path: header, a fresh bitmap of the stream's size, decode into its bits.
void BM_DecodeIntoDib(benchmark::State &state)
{
    const std::vector<std::uint8_t> jpeg = jpegOf(int(state.range(0)), int(state.range(1)));
    platform::jpeg::Decoder decoder;
    for (auto _ : state) {
        const auto header = decoder.readHeader(jpeg.data(), jpeg.size());
        cDibSection dib;
        dib.Create(header->width, header->height, 24);
        const bool ok = decoder.decode(jpeg.data(), jpeg.size(),
                                       {dib.DIBSectionBitsPtr(), std::size_t(dib.TotalBytes()),
                                        dib.Width(), dib.Height(), dib.BytesPerScanLine()});
        benchmark::DoNotOptimize(ok);
    }
}

void BM_BareDecompress(benchmark::State &state)
{
    const int width = int(state.range(0)), height = int(state.range(1));
    const std::vector<std::uint8_t> jpeg = jpegOf(width, height);
    tjhandle handle = tjInitDecompress();
    const int stride = (width * 3 + 3) & ~3;
    std::vector<unsigned char> out(std::size_t(stride) * height);
    for (auto _ : state) {
        const int result = tjDecompress2(handle, jpeg.data(), jpeg.size(), out.data(), width,
                                         stride, height, TJPF_BGR, TJFLAG_BOTTOMUP);
        benchmark::DoNotOptimize(result);
    }
    tjDestroy(handle);
}

} // namespace

BENCHMARK(BM_EncodeJpeg)->Args({176, 144})->Args({640, 480})->Args({1280, 720});
BENCHMARK(BM_BareCompress)->Args({176, 144})->Args({640, 480})->Args({1280, 720});
BENCHMARK(BM_DecodeIntoDib)->Args({176, 144})->Args({640, 480});
BENCHMARK(BM_BareDecompress)->Args({176, 144})->Args({640, 480});

BENCHMARK_MAIN();
