// Cost of the image exchange: taking a number, and a picture's trip through a block (create,
// write, open, read, release) against a plain copy of the same bytes.
#include "exchange/modImageMemMapFunctions.h"
#include "platform/shm/HandleTable.h"
#include "platform/shm/ShmName.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

namespace mod = modImageMemMapFunctions;

// Keeps the benchmark's objects apart from a running component's.
void useOwnNamespace()
{
    const std::string prefix = "/vedereve-bench-" + std::to_string(::getpid()) + "-";
    ::setenv(platform::shm::kPrefixVariable, prefix.c_str(), 1);
}

void BM_NextImageNumber(benchmark::State &state)
{
    useOwnNamespace();
    mod::OpenSharedHeader();
    for (auto _ : state)
        benchmark::DoNotOptimize(mod::NextImageNumber());
    mod::CloseSharedHeader();
    platform::shm::removeObject(mod::kHeaderBlockName);
    platform::shm::removeObject(mod::kHeaderMutexName);
}
BENCHMARK(BM_NextImageNumber);

void BM_BlockRoundTrip(benchmark::State &state)
{
    useOwnNamespace();
    const std::vector<std::uint8_t> picture(std::size_t(state.range(0)), 0x5A);
    std::vector<std::uint8_t> received(picture.size());
    const auto length = std::int32_t(picture.size());
    std::int32_t number = 1;
    for (auto _ : state) {
        const std::uint32_t block = mod::CreateImageBlock(number, length + 24);
        std::uint8_t *view = mod::MapImageBlock(block);
        mod::WriteImageBlock(
            view, mod::BuildImageHeader(length, length, 176, 144, number, 8, 24, 2, 32), picture);

        const std::uint32_t reader = mod::OpenImageBlock(number);
        const std::uint8_t *readerView = mod::MapImageBlock(reader);
        const auto contents = mod::ReadImageBlock(readerView);
        if (!contents) {
            state.SkipWithError("block could not be read");
            break;
        }
        std::memcpy(received.data(), contents->data.data(), contents->data.size());
        benchmark::DoNotOptimize(received.data());

        mod::UnmapViewOfFile(readerView);
        mod::CloseHandle(reader);
        mod::UnmapViewOfFile(view);
        mod::CloseHandle(block);
        ++number;
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_BlockRoundTrip)->Arg(5 * 1024)->Arg(1024 * 1024);

// Baseline: the same bytes written and read back by plain copies.
void BM_PlainCopy(benchmark::State &state)
{
    const std::vector<std::uint8_t> picture(std::size_t(state.range(0)), 0x5A);
    std::vector<std::uint8_t> block(picture.size() + 24);
    std::vector<std::uint8_t> received(picture.size());
    for (auto _ : state) {
        std::memcpy(block.data() + 24, picture.data(), picture.size());
        benchmark::ClobberMemory();
        std::memcpy(received.data(), block.data() + 24, received.size());
        benchmark::DoNotOptimize(received.data());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_PlainCopy)->Arg(5 * 1024)->Arg(1024 * 1024);

} // namespace

BENCHMARK_MAIN();
