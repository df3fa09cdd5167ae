// A PipeWire camera against a Video4Linux one (the fake device the capture benchmarks use), same
// format, size and picture: the CPU time of one grab of a frame that has already arrived plus its
// conversion to the session's 24-bit bottom-up bitmap, measured on the calling thread with both
// drivers open side by side. BM_Paired reports each median and their ratio (PipeWire over
// Video4Linux), the figure to quote:
//   pipewire_bench --benchmark_filter=Paired --benchmark_repetitions=3
//                  --benchmark_report_aggregates_only=true
// BM_FirstFrame: from opening the PipeWire camera to its first frame (connect, format, first
// grab that answers), wall-clock time. Runs a private daemon of its own.
#include "pipewire/PrivatePipeWire.h"

#include "platform/capture/Decompressor.h"
#include "platform/capture/Drivers.h"
#include "platform/capture/PipeWireSource.h"
#include "platform/capture/VirtualCamera.h"
#include "platform/capture/fake/FakeV4l2.h"

#include "StepTimes.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QThread>

#include <chrono>
#include <cstdio>
#include <ctime>

using namespace platform::vfw;

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;

double threadCpuUs()
{
    timespec t {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e6 + double(t.tv_nsec) / 1e3;
}

std::uint32_t compressionOf(const benchmark::State &state)
{
    return state.range(0) == 0 ? FOURCC_MJPG : FOURCC_YUY2;
}

std::unique_ptr<CaptureDriver> openCamera(const std::string &description, std::uint32_t compression)
{
    for (const DriverEntry &entry : captureDrivers()) {
        if (entry.description.name != description)
            continue;
        std::unique_ptr<CaptureDriver> driver = entry.open();
        if (driver->connect() != 0 || driver->setFormat({compression, 16, kWidth, kHeight}) != 0)
            return nullptr;
        return driver;
    }
    return nullptr;
}

// One driver with its decompressor into the session's bitmap.
struct Grabber
{
    explicit Grabber(std::unique_ptr<CaptureDriver> opened) : driver(std::move(opened))
    {
        if (!driver)
            return;
        in = headerFor(driver->format());
        hic = ICGetDisplayFormat(0, &in, &out, 24, 0, 0);
        bits.assign(out.biSizeImage, 0);
    }
    ~Grabber() { ICClose(hic); }
    // A frame grabbed and decoded; false when there was none or it did not decode.
    bool run()
    {
        frame = driver->grab();
        return !frame.empty() && ICDecompress(hic, 0, &in, frame.bytes, &out, bits) == ICERR_OK;
    }

    std::unique_ptr<CaptureDriver> driver;
    BITMAPINFOHEADER in {};
    BITMAPINFOHEADER out {};
    HIC hic = 0;
    std::vector<std::uint8_t> bits;
    GrabbedFrame frame; // the last one grabbed
};

std::string pipeWireCamera(std::uint32_t compression)
{
    return compression == FOURCC_MJPG ? "Bench MJPG" : "Bench YUY2";
}

void BM_Paired(benchmark::State &state)
{
    const std::uint32_t compression = compressionOf(state);
    auto io = std::make_shared<fake::FakeV4l2Io>();
    fake::FakeDevice &device = io->addDevice(fake::uvcCamera("Bench", 0));
    setV4l2Io(io);
    {
        Grabber pipeWire(openCamera(pipeWireCamera(compression), compression));
        Grabber v4l2(openCamera("Bench", compression));
        if (!pipeWire.driver || !v4l2.driver) {
            state.SkipWithError("a camera did not open");
        } else {
            // Both streaming before the first measurement, and the same picture on both: a
            // JPEG frame's decoding time depends on what it shows.
            for (int i = 0; i < 100 && !pipeWire.run(); ++i)
                QThread::msleep(10);
            device.payload.assign(pipeWire.frame.bytes.begin(), pipeWire.frame.bytes.end());
            device.usePayload = true;
            benchsupport::StepTimes times;
            int missedPipeWire = 0, missedV4l2 = 0;
            for (auto _ : state) {
                // More than a frame period, so that each grab finds a frame that has arrived
                // meanwhile.
                state.PauseTiming();
                QThread::msleep(45);
                state.ResumeTiming();
                double before = threadCpuUs();
                const bool fromPipeWire = pipeWire.run();
                double after = threadCpuUs();
                before = after - before;
                const bool fromV4l2 = v4l2.run();
                after = threadCpuUs() - after;
                // A frame late or lost counts on neither side; the count says how often.
                if (fromPipeWire && fromV4l2) {
                    times.add("pipewire", before);
                    times.add("v4l2", after);
                } else {
                    missedPipeWire += !fromPipeWire;
                    missedV4l2 += !fromV4l2;
                }
            }
            state.counters["missed_pipewire"] = missedPipeWire;
            state.counters["missed_v4l2"] = missedV4l2;
            times.report(state, "pipewire", "v4l2");
        }
    }
    setV4l2Io(nullptr);
}

void BM_FirstFrame(benchmark::State &state)
{
    const std::uint32_t compression = compressionOf(state);
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        Grabber camera(openCamera(pipeWireCamera(compression), compression));
        bool framed = false;
        for (int i = 0; camera.driver && i < 100 && !framed; ++i)
            framed = camera.run();
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        if (!framed) {
            state.SkipWithError("no first frame");
            break;
        }
    }
}

BENCHMARK(BM_Paired)->ArgName("yuy2")->Arg(0)->Arg(1)->Iterations(200)->Unit(
    benchmark::kMicrosecond);
BENCHMARK(BM_FirstFrame)
    ->ArgName("yuy2")
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Iterations(10)
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    VirtualCameras::configure({});
    PrivatePipeWire pipeWire;
    const QString size = QStringLiteral("%1x%2").arg(kWidth).arg(kHeight);
    if (!pipeWire.start()
        || !pipeWire.plug(QStringLiteral("vedereve-bench-yuy2"), QStringLiteral("yuy2"),
                          QStringLiteral("Bench YUY2"), size)
        || !pipeWire.plug(QStringLiteral("vedereve-bench-mjpg"), QStringLiteral("mjpg"),
                          QStringLiteral("Bench MJPG"), size)) {
        std::fprintf(stderr, "pipewire_bench: %s\n", qPrintable(pipeWire.error()));
        return 1;
    }
    setPipeWireConnection({});
    // Both listed before the measurements start.
    waitUntil(
        [] {
            int found = 0;
            for (const DriverEntry &entry : captureDrivers())
                found += entry.description.name.starts_with("Bench ");
            return found == 2;
        },
        5000);
    // The GStreamer cameras crash when linked to before their first frame.
    QThread::msleep(1000);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    setPipeWireConnection({PipeWireConnection::Mode::Off});
    VirtualCameras::reset();
    return 0;
}
