// The receive path of participant pictures per format and size, against a bare decode of the
// same data: uncompress and memcpy for raw rows (1), QImage::loadFromData for picture files (2),
// uncompress and tjDecompress2 for zlib-wrapped JPEG streams (123).
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
#include "receive/ParticipantBlocks.h"
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
    Block(std::int32_t number, const Bytes &bytes) : m_number(number), m_bytes(bytes)
    {
        m_handle = mm::CreateImageBlock(number, std::int64_t(bytes.size()));
        m_view = mm::MapImageBlock(m_handle);
        if (m_view)
            std::memcpy(m_view, bytes.data(), std::min(bytes.size(), mm::ViewSize(m_view)));
    }
    ~Block()
    {
        if (m_view)
            mm::UnmapViewOfFile(m_view);
        if (m_handle)
            mm::CloseHandle(m_handle);
    }
    std::int32_t number() const { return m_number; }
    const std::uint8_t *view() const { return m_view; }
    const Bytes &bytes() const { return m_bytes; }

private:
    std::int32_t m_number;
    Bytes m_bytes;
    std::uint32_t m_handle = 0;
    std::uint8_t *m_view = nullptr;
};

const Block &blockOf(int format, int width)
{
    static std::map<std::pair<int, int>, std::unique_ptr<Block>> blocks;
    auto &slot = blocks[{format, width}];
    if (!slot) {
        const int height = width == 640 ? 480 : 144;
        slot = std::make_unique<Block>(int(blocks.size()) + 9000,
                                       blockFor(format, scene(width, height)));
    }
    return *slot;
}

cveDerEve &panel()
{
    static cveDerEve *p = new cveDerEve();
    return *p;
}

void setLabel(benchmark::State &state, int format, int width)
{
    state.SetLabel("format " + std::to_string(format) + ", " + std::to_string(width) + " wide");
}

// Copy out of the block, expansion and decoding into a fresh bitmap.
void BM_DecodeByFormat(benchmark::State &state)
{
    const int format = int(state.range(0)), width = int(state.range(1));
    const Block &block = blockOf(format, width);
    for (auto _ : state) {
        auto received = participant::readParticipantBlock(block.view());
        auto decoded = participant::decodeByFormat(received->header, received->data);
        benchmark::DoNotOptimize(decoded.bitmap.get());
        benchmark::DoNotOptimize(decoded.picture.constBits());
    }
    setLabel(state, format, width);
}

// The whole routine: open, map, copy, expand, decode, paint, labels, close.
void BM_UpdateParticipantNow(benchmark::State &state)
{
    const int format = int(state.range(0)), width = int(state.range(1));
    const Block &block = blockOf(format, width);
    cveDerEve &p = panel();
    for (auto _ : state) {
        const std::uint32_t handle = mm::OpenImageBlock(block.number());
        p.UpdateParticipantNow(std::int32_t(handle), QStringLiteral("Ann Lee"),
                               QStringLiteral("Oslo"));
    }
    setLabel(state, format, width);
}

// The libraries alone on the same data, into buffers allocated once.
void BM_BareDecode(benchmark::State &state)
{
    const int format = int(state.range(0)), width = int(state.range(1));
    const Block &block = blockOf(format, width);
    const auto header = *mm::fromBytes(std::span(block.bytes().data(), mm::kImageHeaderSize));
    const std::uint8_t *data = block.bytes().data() + mm::kImageHeaderSize;
    const std::size_t length = block.bytes().size() - mm::kImageHeaderSize;
    Bytes expanded(std::size_t(header.OrigSize));
    Bytes pixels(std::size_t(width) * 3 * 480 + 4 * 480);
    tjhandle tj = tjInitDecompress();
    for (auto _ : state) {
        if (format == 2) {
            QImage image;
            image.loadFromData(data, int(length));
            benchmark::DoNotOptimize(image.constBits());
            continue;
        }
        uLongf size = uLongf(expanded.size());
        uncompress(expanded.data(), &size, data, uLong(length));
        if (format == 1) {
            std::memcpy(pixels.data(), expanded.data(), size);
        } else {
            int w = 0, h = 0, sub = 0, cs = 0;
            tjDecompressHeader3(tj, expanded.data(), size, &w, &h, &sub, &cs);
            tjDecompress2(tj, expanded.data(), size, pixels.data(), w, (w * 3 + 3) & ~3, h,
                          TJPF_BGR, TJFLAG_BOTTOMUP);
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
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
