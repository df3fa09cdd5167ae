// One grab and its decompression through a capture window, on the camera driver over the fake
// device (frames as a camera sends them), against the bare library calls that turn the same
// frame into the same bottom-up BGR bitmap. BM_Paired runs both in turn and reports the ratio of
// their medians, the figure to quote:
//   capture_bench --benchmark_filter=Paired --benchmark_repetitions=5
//                 --benchmark_report_aggregates_only=true
#include "platform/capture/CaptureWindow.h"
#include "platform/capture/Decompressor.h"
#include "platform/capture/Drivers.h"
#include "platform/capture/V4l2Driver.h"
#include "platform/capture/VirtualCamera.h"
#include "platform/capture/fake/FakeV4l2.h"

#include "StepTimes.h"

#include <benchmark/benchmark.h>
#include <libyuv/convert_argb.h>
#include <libyuv/convert_from_argb.h>
#include <linux/videodev2.h>
#include <turbojpeg.h>

#include <algorithm>
#include <memory>
#include <vector>

using namespace platform::vfw;

namespace {

// What the frame callback needs; the callback is a plain function.
struct Decode
{
    HIC hic = 0;
    BITMAPINFOHEADER in {};
    BITMAPINFOHEADER out {};
    std::vector<std::uint8_t> bits;
    std::int32_t result = ICERR_OK;
};
Decode decode;

std::int32_t onFrame(HWND, const VIDEOHDR *header)
{
    const std::uint8_t *frame = frameAddress(header->lpData, header->dwBytesUsed);
    decode.result = ICDecompress(decode.hic, 0, &decode.in, {frame, header->dwBytesUsed},
                                 &decode.out, decode.bits);
    return 0;
}

struct Camera
{
    Camera(std::uint32_t compression, int w, int h) : io(std::make_shared<fake::FakeV4l2Io>())
    {
        device = &io->addDevice(fake::uvcCamera("Bench", 0));
        setV4l2Io(io);
        VirtualCameras::configure({});
        setPipeWireConnection({PipeWireConnection::Mode::Off});
        hwnd = capCreateCaptureWindowA("bench", 0, 0, 0, w, h, 0, 0);
        SendMessageA(hwnd, WM_CAP_DRIVER_CONNECT, 0, 0);
        BITMAPINFO format {};
        format.bmiHeader = headerFor({compression, 16, w, h});
        SendMessageA(hwnd, WM_CAP_SET_VIDEOFORMAT, sizeof format,
                     reinterpret_cast<std::intptr_t>(&format));
        SendMessageA(hwnd, WM_CAP_GET_VIDEOFORMAT, sizeof decode.in,
                     reinterpret_cast<std::intptr_t>(&decode.in));
        decode.hic = ICGetDisplayFormat(0, &decode.in, &decode.out, 0, 0, 0);
        decode.bits.assign(decode.out.biSizeImage, 0);
        SendMessageA(hwnd, WM_CAP_SET_CALLBACK_FRAME, 0, reinterpret_cast<std::intptr_t>(&onFrame));
    }
    ~Camera()
    {
        DestroyWindow(hwnd);
        ICClose(decode.hic);
        setV4l2Io(nullptr);
        VirtualCameras::reset();
    }

    std::shared_ptr<fake::FakeV4l2Io> io;
    fake::FakeDevice *device = nullptr;
    HWND hwnd = 0;
};

std::uint32_t compressionOf(const benchmark::State &state)
{
    return state.range(0) == 0 ? FOURCC_MJPG : FOURCC_YUY2;
}

void BM_GrabAndDecompress(benchmark::State &state)
{
    const int w = int(state.range(1)), h = int(state.range(2));
    Camera camera(compressionOf(state), w, h);
    for (auto _ : state) {
        if (SendMessageA(camera.hwnd, WM_CAP_GRAB_FRAME, 0, 0) != 1 || decode.result != ICERR_OK) {
            state.SkipWithError("grab or decompression failed");
            break;
        }
        benchmark::DoNotOptimize(decode.bits.data());
    }
}

// The bare library calls on the frames the camera sends: for YUY2 in whole-frame passes through
// a 32-bit intermediate (with strips, the same calls in strips of 16 rows, as the decompressor
// makes them). The frame comes from as many copies as the driver has buffers, as a camera's
// frames do, so that neither side reads a frame the cache still holds.
struct BareDecoder
{
    BareDecoder(std::uint32_t compression, int width, int height, bool inStrips)
        : w(width), h(height), stride((w * 3 + 3) & ~3), jpeg(compression == FOURCC_MJPG),
          strips(inStrips), bits(std::size_t(stride) * std::size_t(h)),
          argb(std::size_t(w) * 4 * std::size_t(strips ? 16 : h)), handle(tjInitDecompress())
    {
        Camera camera(compression, w, h);
        frames.assign(V4l2Driver::kBufferCount, camera.device->framePicture());
    }
    ~BareDecoder() { tjDestroy(handle); }

    int run()
    {
        const std::vector<std::uint8_t> &frame = frames[next++ % frames.size()];
        if (jpeg)
            return tjDecompress2(handle, frame.data(), frame.size(), bits.data(), w, stride, h,
                                 TJPF_BGR, TJFLAG_BOTTOMUP);
        if (!strips)
            return libyuv::YUY2ToARGB(frame.data(), w * 2, argb.data(), w * 4, w, h)
                | libyuv::ARGBToRGB24(argb.data(), w * 4, bits.data(), stride, w, -h);
        int result = 0;
        for (int row = 0; row < h; row += 16) {
            const int rows = std::min(16, h - row);
            result |= libyuv::YUY2ToARGB(frame.data() + std::size_t(row) * w * 2, w * 2,
                                         argb.data(), w * 4, w, rows)
                | libyuv::ARGBToRGB24(argb.data(), w * 4,
                                      bits.data() + std::size_t(h - row - rows) * stride, stride, w,
                                      -rows);
        }
        return result;
    }

    int w, h, stride;
    bool jpeg, strips;
    std::vector<std::vector<std::uint8_t>> frames;
    std::size_t next = 0;
    std::vector<std::uint8_t> bits, argb;
    tjhandle handle;
};

void BM_BareLibrary(benchmark::State &state)
{
    BareDecoder bare(compressionOf(state), int(state.range(1)), int(state.range(2)),
                     state.range(3) != 0);
    for (auto _ : state) {
        if (bare.run() != 0) {
            state.SkipWithError("decoding failed");
            break;
        }
        benchmark::DoNotOptimize(bare.bits.data());
    }
}

// Both in turn, each timed on its own, so that whatever else the machine does hits both alike.
// Reports the median time of each and their ratio (grab and decompression over bare library).
void BM_Paired(benchmark::State &state)
{
    const int w = int(state.range(1)), h = int(state.range(2));
    BareDecoder bare(compressionOf(state), w, h, state.range(3) != 0);
    Camera camera(compressionOf(state), w, h);
    benchsupport::StepTimes times;
    for (auto _ : state) {
        times.start();
        const bool grabbed = SendMessageA(camera.hwnd, WM_CAP_GRAB_FRAME, 0, 0) == 1;
        times.lap("ours");
        const int result = bare.run();
        times.lap("bare");
        if (!grabbed || decode.result != ICERR_OK || result != 0) {
            state.SkipWithError("grab or decompression failed");
            break;
        }
    }
    times.report(state, "ours", "bare");
}

// Arguments: format (0 MJPG, 1 YUY2), width, height and, for the bare calls, YUY2 in strips.
void formatsAndSizes(benchmark::internal::Benchmark *benchmark, bool withStrips)
{
    benchmark->ArgNames({"yuy2", "w", "h", "strips"})->Unit(benchmark::kMicrosecond);
    for (const int yuy2 : {0, 1}) {
        for (const int strips : {0, 1}) {
            if (strips && (!yuy2 || !withStrips))
                continue;
            benchmark->Args({yuy2, 640, 480, strips})->Args({yuy2, 1280, 720, strips});
        }
    }
}
// A Bayer camera's grab: the conversion library turns the frame into 24-bit rows, which the driver
// copies into a bottom-up bitmap; to set against BM_GrabAndDecompress of a YUY2 camera, whose
// grab and decompression give the same bitmap.
void BM_GrabConverted(benchmark::State &state)
{
    auto io = std::make_shared<fake::FakeV4l2Io>();
    fake::FakeDeviceProfile profile = fake::uvcCamera("Bayer", 0);
    const auto w = std::uint32_t(state.range(0)), h = std::uint32_t(state.range(1));
    profile.formats = {{V4L2_PIX_FMT_SBGGR8, {{w, h}}}};
    io->addDevice(profile);
    setV4l2Io(io);
    VirtualCameras::configure({});
    setPipeWireConnection({PipeWireConnection::Mode::Off});
    std::unique_ptr<CaptureDriver> driver = captureDrivers().at(0).open();
    const bool connected = driver->connect() == 0;
    for (auto _ : state) {
        if (!connected || driver->grab().empty()) {
            state.SkipWithError("grab or conversion failed");
            break;
        }
    }
    driver.reset();
    setV4l2Io(nullptr);
    VirtualCameras::reset();
}

BENCHMARK(BM_GrabAndDecompress)->Apply([](auto *b) { formatsAndSizes(b, false); });
BENCHMARK(BM_GrabConverted)->Args({640, 480})->Args({1280, 720})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BareLibrary)->Apply([](auto *b) { formatsAndSizes(b, true); });
BENCHMARK(BM_Paired)->Apply([](auto *b) { formatsAndSizes(b, true); });

} // namespace

BENCHMARK_MAIN();
