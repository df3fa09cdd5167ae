// The receive of participant pictures per format and size, against a bare decode of the same
// data: uncompress into the pixel rows for raw rows (1), QImage::loadFromData for picture files
// (2), uncompress and tjDecompress2 for zlib-wrapped JPEG streams (123). BM_ReceivePaired runs
// the whole receive, the bare decode and the receive's steps one by one in turn and reports the
// median of each and the ratio of the first two, the figures to quote:
//   receive_bench --benchmark_filter=Paired --benchmark_repetitions=5
//                 --benchmark_report_aggregates_only=true

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>

#include <turbojpeg.h>
#include <unistd.h>
#include <zlib.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "StepTimes.h"
#include "exchange/ParticipantDecode.h"
#include "exchange/modImageMemMapFunctions.h"
#include "panel/VbControls.h"
#include "panel/cveDerEve.h"
#include "platform/shm/HandleTable.h"
#include "receive/ParticipantBlocks.h"
#include "support/PanelTestAccess.h"
#include "support/cDibSection.h"

namespace {

namespace mm = modImageMemMapFunctions;
using recvtest::Bytes;

// A camera-like picture: smooth shading with some detail, so that JPEG and zlib work as they do
// on real frames.
QImage scene(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y,
                           qRgb((x * 255 / width + ((x / 8 + y / 8) % 2) * 24) & 0xff,
                                y * 255 / height, ((x ^ y) & 0x3f) + 96));
    return image;
}

int heightFor(int width)
{
    return width == 640 ? 480 : 144;
}

Bytes blockFor(int format, const QImage &picture)
{
    switch (format) {
    case 1:
        return recvtest::rawBlock(picture);
    case 2:
        return recvtest::fileBlock(recvtest::pictureFile(picture, "JPG", 70));
    default:
        return recvtest::jpegBlock(picture);
    }
}

// One parent-written block per format and width, kept for the whole run.
class Block
{
public:
    Block(std::int32_t number, const Bytes &bytes)
        : m_block(mm::ImageBlock::create(number, std::int64_t(bytes.size()))), m_bytes(bytes)
    {
        if (m_block)
            std::memcpy(m_block.MapView(), bytes.data(), bytes.size());
    }
    std::int32_t number() const { return m_block.ImageNumber(); }
    const Bytes &bytes() const { return m_bytes; }

private:
    mm::ImageBlock m_block;
    Bytes m_bytes;
};

// What the benchmarks share, made in main() and gone before it returns: the blocks must be
// released while the shared-memory layer still exists.
struct Context
{
    std::map<std::pair<int, int>, std::unique_ptr<Block>> blocks;
    std::unique_ptr<cveDerEve> panel;
};
Context *g_context = nullptr;

const Block &blockOf(int format, int width)
{
    auto &slot = g_context->blocks[{format, width}];
    if (!slot) {
        slot = std::make_unique<Block>(int(g_context->blocks.size()) + 9000,
                                       blockFor(format, scene(width, heightFor(width))));
    }
    return *slot;
}

cveDerEve &panel()
{
    if (!g_context->panel)
        g_context->panel = std::make_unique<cveDerEve>();
    return *g_context->panel;
}

void setLabel(benchmark::State &state, int format, int width)
{
    state.SetLabel("format " + std::to_string(format) + ", " + std::to_string(width) + " wide");
}

// The whole road of one picture: UpdateParticipant opens and queues the block, the queue tick
// copies, expands, decodes, paints, sets the labels and releases the block.
void receive(cveDerEve &p, const Block &block)
{
    p.UpdateParticipant(block.number(), QStringLiteral("Ann Lee"), QStringLiteral("Oslo"));
    PanelTestAccess(&p).tickQueue();
}

// The libraries alone on the same data and into the same form (bottom-up BGR rows padded to 4,
// or a decoded QImage), into buffers allocated once: the least any receiver has to do.
class BareDecoder
{
public:
    BareDecoder(int format, int width, const Bytes &block)
        : m_format(format), m_width(width), m_height(heightFor(width)),
          m_stride((width * 3 + 3) & ~3), m_data(block.data() + mm::kImageHeaderSize),
          m_length(block.size() - mm::kImageHeaderSize),
          m_expanded(
              std::size_t(mm::fromBytes(std::span(block.data(), mm::kImageHeaderSize))->OrigSize)),
          m_pixels(std::size_t(m_stride) * std::size_t(m_height)), m_tj(tjInitDecompress())
    { }
    ~BareDecoder() { tjDestroy(m_tj); }
    BareDecoder(const BareDecoder &) = delete;
    BareDecoder &operator=(const BareDecoder &) = delete;

    void run()
    {
        if (m_format == 2) {
            QImage image;
            image.loadFromData(m_data, int(m_length));
            benchmark::DoNotOptimize(image.constBits());
            return;
        }
        if (m_format == 1) {
            // Raw rows are already in the pixels' form: they expand straight into place.
            uLongf size = uLongf(m_pixels.size());
            uncompress(m_pixels.data(), &size, m_data, uLong(m_length));
        } else {
            uLongf size = uLongf(m_expanded.size());
            uncompress(m_expanded.data(), &size, m_data, uLong(m_length));
            int w = 0, h = 0, sub = 0, cs = 0;
            tjDecompressHeader3(m_tj, m_expanded.data(), size, &w, &h, &sub, &cs);
            tjDecompress2(m_tj, m_expanded.data(), size, m_pixels.data(), w, m_stride, h, TJPF_BGR,
                          TJFLAG_BOTTOMUP);
        }
        benchmark::DoNotOptimize(m_pixels.data());
    }

private:
    int m_format, m_width, m_height, m_stride;
    const std::uint8_t *m_data;
    std::size_t m_length;
    Bytes m_expanded, m_pixels;
    tjhandle m_tj;
};

// The receive's steps one by one, with the calls the panel makes, into a box of the participant
// area's size: where the time of the whole receive goes.
class ReceiveSteps
{
public:
    ReceiveSteps() : m_box(nullptr, QStringLiteral("picParticipant"))
    {
        m_box.place(0, 0, 174, 144);
    }

    // Gives the time of all steps together.
    double run(const Block &block, benchsupport::StepTimes &times)
    {
        times.start();
        mm::ImageBlock opened = mm::ImageBlock::open(block.number());
        double sum = times.lap("open");
        // Receiver::read() without its expand(): the header and data copies.
        mm::Header bytes {};
        opened.read(0, bytes);
        const mm::ImageHeader header = *mm::fromBytes(bytes);
        m_copy.resize(std::size_t(header.DataLength));
        opened.read(mm::kImageHeaderSize, m_copy);
        sum += times.lap("copy");
        const auto received = m_receiver.expand(header, m_copy);
        sum += times.lap("expand");
        participant::DecodedPicture decoded;
        m_receiver.decode(*received, decoded);
        sum += times.lap("decode");
        if (decoded.kind == participant::DecodedPicture::Kind::Bitmap) {
            m_box.setPicture(QImage());
            decoded.bitmap->PaintPicture(m_box.hDC(), decoded.offset.x(), decoded.offset.y(), -1,
                                         -1, 0, 0, platform::gdi::SRCCOPY);
            m_box.keepDrawing();
        } else {
            m_box.setPicture(decoded.picture);
        }
        sum += times.lap("paint");
        opened.release();
        return sum + times.lap("release");
    }

private:
    participant::Receiver m_receiver;
    Bytes m_copy;
    vb::PictureBox m_box;
};

void BM_BareDecode(benchmark::State &state)
{
    const int format = int(state.range(0)), width = int(state.range(1));
    BareDecoder bare(format, width, blockOf(format, width).bytes());
    for (auto _ : state)
        bare.run();
    setLabel(state, format, width);
}

void BM_UpdateParticipantNow(benchmark::State &state)
{
    const int format = int(state.range(0)), width = int(state.range(1));
    const Block &block = blockOf(format, width);
    for (auto _ : state)
        receive(panel(), block);
    setLabel(state, format, width);
}

// The whole receive, the bare decode and the steps in turn; "rest" is what the whole receive
// spends beyond its steps (queue, guard, labels, trace checks).
void BM_ReceivePaired(benchmark::State &state)
{
    const int format = int(state.range(0)), width = int(state.range(1));
    const Block &block = blockOf(format, width);
    BareDecoder bare(format, width, block.bytes());
    ReceiveSteps steps;
    cveDerEve &p = panel();
    benchsupport::StepTimes times;
    for (auto _ : state) {
        times.start();
        receive(p, block);
        const double whole = times.lap("whole");
        bare.run();
        times.lap("bare");
        times.add("rest", whole - steps.run(block, times));
    }
    times.report(state, "whole", "bare");
    setLabel(state, format, width);
}

void formatsAndSizes(benchmark::internal::Benchmark *b)
{
    for (int format : {1, 2, 123})
        for (int width : {176, 640})
            b->Args({format, width});
}

BENCHMARK(BM_BareDecode)->Apply(formatsAndSizes)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_UpdateParticipantNow)->Apply(formatsAndSizes)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReceivePaired)->Apply(formatsAndSizes)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Blocks of a namespace of our own, so that a run never meets a real parent's pictures.
    if (qEnvironmentVariableIsEmpty("VEDEREVE_SHM_PREFIX"))
        qputenv("VEDEREVE_SHM_PREFIX",
                QByteArray("/vedereve-bench-recv-") + QByteArray::number(qint64(::getpid())) + "-");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    {
        Context context;
        g_context = &context;
        benchmark::RunSpecifiedBenchmarks();
        g_context = nullptr;
    }
    benchmark::Shutdown();
    // The counter objects of the run's own namespace go with it.
    platform::shm::removeObject("dirUzevevav");
    platform::shm::removeObject("ridEvadezaz");
    return 0;
}
