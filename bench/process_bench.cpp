// Throughput of process() on 8-bit and 24-bit sources, beside memcpy of the
// same number of source bytes as the floor.  The buffers are the program's
// own; after the first iteration their pages are resident, so this measures
// the loop alone, not the page faults of a fresh process.
#include "conversion/conversion.h"
#include "common/runstate.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>

namespace {

// Material codes 0 to 15 in an irregular order, as a real map holds them.
void fillSource(std::int32_t bytes)
{
    std::uint32_t seed = 12345;
    for (std::int32_t i = 0; i < bytes; ++i) {
        seed = seed * 1103515245u + 12345u;
        indata[i] = static_cast<unsigned char>((seed >> 16) & 15u);
    }
}

void runProcess(benchmark::State &state, int bits)
{
    const auto bytes = static_cast<std::int32_t>(state.range(0));
    fillSource(bytes);
    inputbufSize = bytes;
    depth = bits;
    for (auto _ : state) {
        benchmark::DoNotOptimize(process());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes));
}

void BM_process8(benchmark::State &state) { runProcess(state, 8); }
void BM_process24(benchmark::State &state) { runProcess(state, 24); }

void BM_memcpy(benchmark::State &state)
{
    const auto bytes = static_cast<std::size_t>(state.range(0));
    fillSource(static_cast<std::int32_t>(bytes));
    for (auto _ : state) {
        std::memcpy(outdata, indata, bytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes));
}

// 1 MiB (a 1024 x 1024 map), 16 MiB, 48 MiB (a 4096 x 4096 24-bit bitmap)
// and the full 64 MiB buffer.
void sizes(benchmark::internal::Benchmark *b)
{
    for (std::int64_t mib : {1, 16, 48, 64})
        b->Arg(mib << 20);
    b->Unit(benchmark::kMillisecond);
}

} // namespace

BENCHMARK(BM_memcpy)->Apply(sizes);
BENCHMARK(BM_process8)->Apply(sizes);
BENCHMARK(BM_process24)->Apply(sizes);

BENCHMARK_MAIN();
