// The receive path of participant pictures per format and size, against a bare decode of the
// same data: uncompress into the pixel rows for raw rows (1), QImage::loadFromData for picture
// files (2), uncompress and tjDecompress2 for zlib-wrapped JPEG streams (123).
//   receive_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

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

#include "exchange/ParticipantDecode.h"
#include "exchange/modImageMemMapFunctions.h"
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
        const int height = width == 640 ? 480 : 144;
        slot = std::make_unique<Block>(int(g_context->blocks.size()) + 9000,
                                       blockFor(format, scene(width, height)));
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

// Copy out of the block, expansion and decoding, without the panel.
void BM_DecodeByFormat(benchmark::State &state)
{
    const int format = int(state.range(0)), width = int(state.range(1));
    const Block &block = blockOf(format, width);
    const mm::ImageBlock opened = mm::ImageBlock::open(block.number());
    participant::Receiver receiver;
    participant::DecodedPicture decoded;
    for (auto _ : state) {
        const auto received = receiver.read(opened);
        receiver.decode(*received, decoded);
        benchmark::DoNotOptimize(decoded.bitmap);
        benchmark::DoNotOptimize(decoded.picture.constBits());
    }
    setLabel(state, format, width);
}

// The whole road of one picture: UpdateParticipant opens and queues the block, the queue tick
// copies, expands, decodes, paints, sets the labels and releases the block.
void BM_UpdateParticipantNow(benchmark::State &state)
{
    const int format = int(state.range(0)), width = int(state.range(1));
    const Block &block = blockOf(format, width);
    cveDerEve &p = panel();
    const PanelTestAccess queue(&p);
    for (auto _ : state) {
        p.UpdateParticipant(block.number(), QStringLiteral("Ann Lee"), QStringLiteral("Oslo"));
        queue.tickQueue();
    }
    setLabel(state, format, width);
}

// The libraries alone on the same data and into the same form (bottom-up BGR rows padded to 4,
// or a decoded QImage), into buffers allocated once: the least any receiver has to do.
void BM_BareDecode(benchmark::State &state)
{
    const int format = int(state.range(0)), width = int(state.range(1));
    const Block &block = blockOf(format, width);
    const auto header = *mm::fromBytes(std::span(block.bytes().data(), mm::kImageHeaderSize));
    const std::uint8_t *data = block.bytes().data() + mm::kImageHeaderSize;
    const std::size_t length = block.bytes().size() - mm::kImageHeaderSize;
    const int height = width == 640 ? 480 : 144;
    const int stride = (width * 3 + 3) & ~3;
    Bytes expanded(std::size_t(header.OrigSize));
    Bytes pixels(std::size_t(stride) * std::size_t(height));
    tjhandle tj = tjInitDecompress();
    for (auto _ : state) {
        if (format == 2) {
            QImage image;
            image.loadFromData(data, int(length));
            benchmark::DoNotOptimize(image.constBits());
            continue;
        }
        if (format == 1) {
            // Raw rows are already in the pixels' form: they expand straight into place.
            uLongf size = uLongf(pixels.size());
            uncompress(pixels.data(), &size, data, uLong(length));
        } else {
            uLongf size = uLongf(expanded.size());
            uncompress(expanded.data(), &size, data, uLong(length));
            int w = 0, h = 0, sub = 0, cs = 0;
            tjDecompressHeader3(tj, expanded.data(), size, &w, &h, &sub, &cs);
            tjDecompress2(tj, expanded.data(), size, pixels.data(), w, stride, h, TJPF_BGR,
                          TJFLAG_BOTTOMUP);
        }
        benchmark::DoNotOptimize(pixels.data());
    }
    tjDestroy(tj);
    setLabel(state, format, width);
}

void formatsAndSizes(benchmark::internal::Benchmark *b)
{
    for (int format : {1, 2, 123})
        for (int width : {176, 640})
            b->Args({format, width});
}

BENCHMARK(BM_BareDecode)->Apply(formatsAndSizes)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeByFormat)->Apply(formatsAndSizes)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_UpdateParticipantNow)->Apply(formatsAndSizes)->Unit(benchmark::kMicrosecond);

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
