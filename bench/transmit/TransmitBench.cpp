// The whole capture tick in-process (grab from the virtual camera, copy into PrevCap, preview,
// encode, image block, WebCamSnapShot to an in-process receiver, block released) against a bare
// TurboJPEG encode of the same frame at quality 70.
//   transmit_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QMouseEvent>
#include <QTemporaryDir>

#include <turbojpeg.h>
#include <unistd.h>

#include <memory>
#include <vector>

#include "automation/frmWebCam.h"
#include "automation/zozEZUdeZid.h"
#include "platform/capture/VirtualCamera.h"
#include "platform/core/System.h"
#include "platform/shm/HandleTable.h"
#include "support/CRegSettings.h"
#include "support/PanelTestAccess.h"
#include "support/cDibSection.h"

namespace {

namespace vfw = platform::vfw;

std::uint32_t g_now = 1000;
std::uint32_t now()
{
    return g_now;
}

// A panel transmitting from a virtual camera that offers only width x height 24-bit frames.
struct Call
{
    Call(int width, int height)
    {
        vfw::VirtualCameraConfig camera;
        camera.formats = {{vfw::BI_RGB, 24, width, height}};
        vfw::VirtualCameras::configure({camera});
        CRegSettings().SaveSetting("Defaults", "WebCamDevice", "0");
        object = std::make_unique<zozEZUdeZid>();
        QObject::connect(object->events(), &zozEZUdeZidEvents::WebCamSnapShot,
                         [this](QByteArray &picHdr, std::int32_t) { received += picHdr.size(); });
        view = std::make_unique<PanelTestAccess>(object->form()->WebCam());
        object->Show();
        object->Maximize();
        object->setCurrentTab(1);
        object->setTransmitPost(true);
        object->setTransmitStatus(true);
        // The camera starts the way the Play button starts it.
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton,
                          Qt::LeftButton, {});
        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(5, 5), QPointF(5, 5),
                            Qt::LeftButton, Qt::NoButton, {});
        QApplication::sendEvent(view->widget("imgCamOnMain"), &press);
        QApplication::sendEvent(view->widget("imgCamOnMain"), &release);
    }
    ~Call()
    {
        object.reset();
        vfw::VirtualCameras::reset();
    }
    void tick()
    {
        g_now += 160;
        view->tickMain();
        view->tickStart();
    }

    std::unique_ptr<zozEZUdeZid> object;
    std::unique_ptr<PanelTestAccess> view;
    long received = 0;
};

void BM_Tick(benchmark::State &state)
{
    Call call(int(state.range(0)), int(state.range(1)));
    if (!call.view->capture().CameraOn()) {
        state.SkipWithError("the camera did not start");
        return;
    }
    for (int i = 0; i < 20; ++i)
        call.tick();
    call.received = 0;
    for (auto _ : state)
        call.tick();
    // Every tick announced a frame.
    state.counters["sent"] = double(call.received / 24) / double(state.iterations());
    state.counters["scaled"] = call.view->capture().UseScaling() ? 1 : 0;
}

// The frame the tick grabbed, encoded bare: bottom-up BGR rows, quality 70, into a buffer made
// once.
void BM_BareEncode(benchmark::State &state)
{
    Call call(int(state.range(0)), int(state.range(1)));
    call.tick();
    const cDibSection &frame = *call.view->capture().PrevCap();
    tjhandle handle = tjInitCompress();
    std::vector<unsigned char> out(tjBufSize(frame.Width(), frame.Height(), TJSAMP_420));
    for (auto _ : state) {
        unsigned char *buffer = out.data();
        unsigned long length = out.size();
        tjCompress2(handle, frame.DIBSectionBitsPtr(), frame.Width(), frame.BytesPerScanLine(),
                    frame.Height(), TJPF_BGR, &buffer, &length, TJSAMP_420, 70,
                    TJFLAG_BOTTOMUP | TJFLAG_NOREALLOC);
        benchmark::DoNotOptimize(buffer);
    }
    tjDestroy(handle);
}

BENCHMARK(BM_BareEncode)->Args({176, 144})->Args({640, 480})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Tick)->Args({176, 144})->Args({640, 480})->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const QByteArray run = "/vedereve-bench-tx-" + QByteArray::number(qint64(::getpid())) + "-";
    qputenv("VEDEREVE_SHM_PREFIX", run);
    // Settings of the run's own, in a folder only this user may write.
    QTemporaryDir settings;
    qputenv("VEDEREVE_REGISTRY",
            (settings.path() + QStringLiteral("/registry.sqlite")).toLocal8Bit());
    platform::setTickCountSource(&now);
    {
        QApplication app(argc, argv);
        benchmark::Initialize(&argc, argv);
        if (benchmark::ReportUnrecognizedArguments(argc, argv))
            return 1;
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
    }
    platform::shm::removeObject("dirUzevevav");
    platform::shm::removeObject("ridEvadezaz");
    return 0;
}
