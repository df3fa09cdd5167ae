// The whole capture tick in-process (grab from the virtual camera, copy into PrevCap, preview,
// with UseScaling the 176 x 144 picture taken back from the preview, encode, image block,
// WebCamSnapShot to an in-process receiver, block released) against the bare library calls of
// the same steps on the same frames: the camera's own grab, one copy into a bottom-up bitmap,
// libyuv for the preview (and back), TurboJPEG at the size really encoded, shm_open + pwrite for
// the block. BM_TickPaired runs the tick, the bare steps and the tick's own steps one by one in
// turn and reports the median of each and the ratio of tick to bare, the figures to quote:
//   transmit_bench --benchmark_filter=Paired --benchmark_repetitions=5
//                  --benchmark_report_aggregates_only=true

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QMouseEvent>
#include <QTemporaryDir>

#include <fcntl.h>
#include <libyuv/convert_argb.h>
#include <libyuv/convert_from_argb.h>
#include <libyuv/scale_argb.h>
#include <sys/mman.h>
#include <sys/uio.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "StepTimes.h"
#include "automation/frmWebCam.h"
#include "automation/zozEZUdeZid.h"
#include "exchange/EncodeJpeg.h"
#include "exchange/ImageBlock.h"
#include "exchange/modImageMemMapFunctions.h"
#include "panel/VbControls.h"
#include "platform/capture/PipeWireSource.h"
#include "platform/capture/VirtualCamera.h"
#include "platform/core/System.h"
#include "platform/shm/HandleTable.h"
#include "platform/shm/ShmName.h"
#include "support/CRegSettings.h"
#include "support/PanelTestAccess.h"
#include "support/cDibSection.h"

namespace {

namespace vfw = platform::vfw;
namespace mm = modImageMemMapFunctions;

std::uint32_t g_now = 1000;
std::uint32_t now()
{
    return g_now;
}

// The preview box and the picture sent with scaling.
constexpr int kBoxWidth = 174, kBoxHeight = 144;
constexpr int kSentWidth = 176, kSentHeight = 144;

int strideOf(int width)
{
    return (width * 3 + 3) & ~3;
}

// A panel transmitting from a virtual camera that offers only width x height 24-bit frames.
struct Call
{
    Call(int width, int height)
    {
        vfw::VirtualCameraConfig camera;
        camera.formats = {{vfw::BI_RGB, 24, width, height}};
        vfw::VirtualCameras::configure({camera});
        vfw::setPipeWireConnection({vfw::PipeWireConnection::Mode::Off});
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
    bool started() const { return view->capture().CameraOn(); }
    bool scaled() const { return view->capture().UseScaling(); }
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

// The same steps as bare library calls, on frames of a second driver of the same camera, into
// buffers made once.
class BareTick
{
public:
    BareTick(int width, int height, bool scaled)
        : m_width(width), m_height(height), m_scaled(scaled),
          m_bits(std::size_t(strideOf(width)) * std::size_t(height)),
          m_argb(scaled ? std::size_t(width) * 4 * std::size_t(height) : 0),
          m_preview(std::size_t(kBoxWidth) * 4 * kBoxHeight, 0xff),
          m_sent(std::size_t(strideOf(kSentWidth)) * kSentHeight), m_tj(tjInitCompress()),
          m_name(platform::shm::objectName("DADevev-bare"))
    {
        const auto cameras = vfw::VirtualCameras::list();
        if (!cameras.empty()) {
            m_camera = cameras.front().open();
            m_camera->connect();
            m_camera->setFormat({vfw::BI_RGB, 24, width, height});
        }
        const int encoded = scaled ? kSentWidth : width;
        m_jpeg.resize(tjBufSize(encoded, scaled ? kSentHeight : height, TJSAMP_420));
    }
    ~BareTick() { tjDestroy(m_tj); }
    BareTick(const BareTick &) = delete;
    BareTick &operator=(const BareTick &) = delete;

    // The frame of the last grab, for the tick's own steps.
    const std::vector<std::uint8_t> &bits() const { return m_bits; }

    // Gives the time of all steps together, or a negative value when a step failed.
    double run(benchsupport::StepTimes &times)
    {
        times.start();
        const vfw::GrabbedFrame frame = m_camera ? m_camera->grab() : vfw::GrabbedFrame {};
        if (frame.bytes.size() != m_bits.size())
            return -1;
        double sum = times.lap("bare_grab");
        std::memcpy(m_bits.data(), frame.bytes.data(), m_bits.size());
        sum += times.lap("bare_copy");

        const int stride = strideOf(m_width);
        const std::uint8_t *top = m_bits.data() + std::ptrdiff_t(m_height - 1) * stride;
        const std::uint8_t *bits = m_bits.data();
        int width = m_width, height = m_height;
        if (m_scaled) {
            // Scaled into the preview at 8, 8 and taken back from its top-left corner.
            libyuv::RGB24ToARGB(top, -stride, m_argb.data(), m_width * 4, m_width, m_height);
            libyuv::ARGBScale(m_argb.data(), m_width * 4, m_width, m_height,
                              m_preview.data() + (8 * kBoxWidth + 8) * 4, kBoxWidth * 4, 160, 120,
                              libyuv::kFilterBox);
            sum += times.lap("bare_preview");
            const int sentStride = strideOf(kSentWidth);
            libyuv::ARGBToRGB24(m_preview.data(), kBoxWidth * 4,
                                m_sent.data() + std::ptrdiff_t(kSentHeight - 1) * sentStride,
                                -sentStride, kBoxWidth, kBoxHeight);
            sum += times.lap("bare_back");
            bits = m_sent.data();
            width = kSentWidth;
            height = kSentHeight;
        } else {
            libyuv::RGB24ToARGB(top, -stride, m_preview.data(), kBoxWidth * 4,
                                std::min(m_width, kBoxWidth), std::min(m_height, kBoxHeight));
            sum += times.lap("bare_preview");
        }

        unsigned char *jpeg = m_jpeg.data();
        unsigned long length = m_jpeg.size();
        if (tjCompress2(m_tj, bits, width, strideOf(width), height, TJPF_BGR, &jpeg, &length,
                        TJSAMP_420, 70, TJFLAG_BOTTOMUP | TJFLAG_NOREALLOC)
            != 0)
            return -1;
        sum += times.lap("bare_encode");

        std::uint8_t header[mm::kImageHeaderSize] = {};
        const int fd = ::shm_open(m_name.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
        if (fd < 0)
            return -1;
        iovec parts[] = {{header, sizeof header}, {jpeg, length}};
        const bool written = ::ftruncate(fd, off_t(sizeof header + length)) == 0
            && ::pwritev(fd, parts, 2, 0) == ssize_t(sizeof header + length);
        ::shm_unlink(m_name.c_str());
        ::close(fd);
        if (!written)
            return -1;
        return sum + times.lap("bare_block");
    }

private:
    int m_width, m_height;
    bool m_scaled;
    std::unique_ptr<vfw::CaptureDriver> m_camera;
    std::vector<std::uint8_t> m_bits, m_argb, m_preview, m_sent, m_jpeg;
    tjhandle m_tj;
    std::string m_name;
};

// The tick's own steps after the grab, one by one with the calls the tick makes, on a copy of the
// frame and into a box of the preview's size: where the tick's time goes beyond the bare steps.
class OwnSteps
{
public:
    OwnSteps(int width, int height, bool scaled)
        : m_scaled(scaled), m_box(nullptr, QStringLiteral("picWebCam"))
    {
        m_box.place(0, 0, kBoxWidth, kBoxHeight);
        m_frame.Create(width, height, 24);
        m_sent.Create(kSentWidth, kSentHeight, 24);
        // Numbers come from the process's share of the header, as the sender's do.
        mm::OpenSharedHeader();
    }
    ~OwnSteps() { mm::CloseSharedHeader(); }
    OwnSteps(const OwnSteps &) = delete;
    OwnSteps &operator=(const OwnSteps &) = delete;

    double run(const std::vector<std::uint8_t> &frame, benchsupport::StepTimes &times)
    {
        std::memcpy(m_frame.DIBSectionBitsPtr(), frame.data(),
                    std::min(frame.size(), std::size_t(m_frame.TotalBytes())));
        times.start();
        const cDibSection *encoded = &m_frame;
        double sum = 0;
        if (m_scaled) {
            platform::gdi::SetStretchBltMode(m_box.hDC(), platform::gdi::HALFTONE);
            platform::gdi::StretchBlt(m_box.hDC(), 8, 8, 160, 120, m_frame.HDC(), 0, 0,
                                      m_frame.Width(), m_frame.Height(), platform::gdi::SRCCOPY);
            m_box.keepDrawing();
            sum += times.lap("own_preview");
            m_sent.LoadPictureBlt(m_box.hDC(), 0, 0, -1, -1, platform::gdi::SRCCOPY);
            sum += times.lap("own_back");
            encoded = &m_sent;
        } else {
            m_frame.PaintPicture(m_box.hDC(), 0, 0, -1, -1, 0, 0, platform::gdi::SRCCOPY);
            m_box.keepDrawing();
            sum += times.lap("own_preview");
        }
        const std::vector<std::uint8_t> jpeg = EncodeJpeg(*encoded, true);
        sum += times.lap("own_encode");
        const auto length = std::int32_t(jpeg.size());
        std::int32_t number = 0;
        mm::ImageBlock block
            = mm::ImageBlock::createNext(mm::NextImageNumber, std::int64_t(length) + 24, &number);
        const mm::Header header = mm::BuildImageHeader(length, length, encoded->Width(),
                                                       encoded->Height(), number, 8, 24, 2, 32);
        const bool written = block && block.fill(header, jpeg);
        block.release();
        sum += times.lap("own_block");
        return written ? sum : -1;
    }

private:
    bool m_scaled;
    cDibSection m_frame, m_sent;
    vb::PictureBox m_box;
};

void BM_Tick(benchmark::State &state)
{
    Call call(int(state.range(0)), int(state.range(1)));
    if (!call.started()) {
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
    state.counters["scaled"] = call.scaled() ? 1 : 0;
}

// The tick, its bare steps and its own steps in turn. "own_rest" is what the tick spends beyond
// its own steps timed here: the grab and the copies into the frame record and PrevCap, the
// trace checks, the status label and the event.
void BM_TickPaired(benchmark::State &state)
{
    const int width = int(state.range(0)), height = int(state.range(1));
    Call call(width, height);
    if (!call.started()) {
        state.SkipWithError("the camera did not start");
        return;
    }
    for (int i = 0; i < 20; ++i)
        call.tick();
    BareTick bare(width, height, call.scaled());
    OwnSteps own(width, height, call.scaled());
    benchsupport::StepTimes times;
    for (auto _ : state) {
        times.start();
        call.tick();
        const double tick = times.lap("tick");
        const double bareSum = bare.run(times);
        const double ownSum = own.run(bare.bits(), times);
        if (bareSum < 0 || ownSum < 0) {
            state.SkipWithError("a bare or own step failed");
            break;
        }
        times.add("bare", bareSum);
        times.add("own_rest", tick - ownSum);
    }
    times.report(state, "tick", "bare");
    state.counters["scaled"] = call.scaled() ? 1 : 0;
}

BENCHMARK(BM_Tick)->Args({176, 144})->Args({640, 480})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TickPaired)->Args({176, 144})->Args({640, 480})->Unit(benchmark::kMicrosecond);

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
