// Throughput of each conversion kernel this processor runs, on 8-bit and
// 24-bit sources, beside memcpy of the same number of source bytes as the
// floor, and of process() itself with the kernel it picks.  The buffers are
// the program's own; after the first iteration their pages are resident, so
// this measures the loops alone, not the page faults of a fresh process.
//
//   build/bench/matconv_process_bench [Google Benchmark options]
#include "common/runstate.h"
#include "conversion/conversion.h"
#include "conversion/kernels.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <string>

namespace {

// The built-in table as it stands, and a table with every entry set, which
// is the worst case for the kernels that skip empty rows of the table.
unsigned char fullTable[256];

std::uint32_t nextRandom(std::uint32_t &seed)
{
    seed = seed * 1103515245u + 12345u;
    return seed >> 16;
}

// Material codes 0 to 15 (as a real map holds them) or any byte, in an
// irregular order.
void fillSource(std::int32_t bytes, unsigned mask)
{
    std::uint32_t seed = 12345;
    for (std::int32_t i = 0; i < bytes; ++i)
        indata[i] = static_cast<unsigned char>(nextRandom(seed) & mask);
}

void finish(benchmark::State &state, std::int64_t bytes)
{
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * bytes);
}

void runTranslate(benchmark::State &state, Kernel kernel, const unsigned char *table, unsigned mask)
{
    const auto bytes = static_cast<std::int32_t>(state.range(0));
    fillSource(bytes, mask);
    for (auto _ : state) {
        translateCodes(kernel, indata, static_cast<std::size_t>(bytes), outdata, table);
        benchmark::ClobberMemory();
    }
    finish(state, bytes);
}

void runGreen(benchmark::State &state, Kernel kernel)
{
    const auto bytes = static_cast<std::int32_t>(state.range(0));
    fillSource(bytes, 255);
    for (auto _ : state) {
        benchmark::DoNotOptimize(greenSamples(kernel, indata, static_cast<std::size_t>(bytes), outdata));
        benchmark::ClobberMemory();
    }
    finish(state, bytes);
}

void runProcess(benchmark::State &state, int bits)
{
    const auto bytes = static_cast<std::int32_t>(state.range(0));
    fillSource(bytes, bits == 8 ? 15 : 255);
    inputbufSize = bytes;
    depth = bits;
    for (auto _ : state) {
        benchmark::DoNotOptimize(process());
        benchmark::ClobberMemory();
    }
    finish(state, bytes);
}

void runMemcpy(benchmark::State &state)
{
    const auto bytes = static_cast<std::size_t>(state.range(0));
    fillSource(static_cast<std::int32_t>(bytes), 255);
    for (auto _ : state) {
        std::memcpy(outdata, indata, bytes);
        benchmark::ClobberMemory();
    }
    finish(state, static_cast<std::int64_t>(bytes));
}

// 1 MiB (a 1024 x 1024 map) and the full 64 MiB buffer.
void sizes(benchmark::internal::Benchmark *b)
{
    for (std::int64_t mib : {1, 64})
        b->Arg(mib << 20);
    b->Unit(benchmark::kMillisecond);
}

} // namespace

int main(int argc, char **argv)
{
    const char *chosen = kernelName(fastestKernel());
    std::uint32_t seed = 777;
    for (unsigned char &entry : fullTable)
        entry = static_cast<unsigned char>(nextRandom(seed) | 1u);

    benchmark::AddCustomContext("process() kernel", chosen);
    benchmark::RegisterBenchmark("memcpy", runMemcpy)->Apply(sizes);
    for (int k = 0; k < kernelCount; ++k) {
        const Kernel kernel = static_cast<Kernel>(k);
        if (!kernelRuns(kernel))
            continue;
        const std::string name = kernelName(kernel);
        benchmark::RegisterBenchmark(("8bit_builtin_table/" + name).c_str(), runTranslate, kernel, Translate, 15u)
            ->Apply(sizes);
        benchmark::RegisterBenchmark(("8bit_full_table/" + name).c_str(), runTranslate, kernel, fullTable, 255u)
            ->Apply(sizes);
        benchmark::RegisterBenchmark(("24bit/" + name).c_str(), runGreen, kernel)->Apply(sizes);
    }
    benchmark::RegisterBenchmark("process_8bit", runProcess, 8)->Apply(sizes);
    benchmark::RegisterBenchmark("process_24bit", runProcess, 24)->Apply(sizes);

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
