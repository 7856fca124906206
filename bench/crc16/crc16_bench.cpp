// Cost of the configuration block's CRC16 (16 bytes, what a write frame
// carries) and of a 64 KiB block, the most the routine takes at once.
#include <benchmark/benchmark.h>

#include <vector>

#include "frames.h"

static void BM_Crc16(benchmark::State &state) {
    std::vector<uint8_t> data(static_cast<size_t>(state.range(0)));
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 37 + 11);
    for (auto _ : state) {
        benchmark::DoNotOptimize(data.data());
        benchmark::DoNotOptimize(Crc16(data.data(), static_cast<uint32_t>(data.size())));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Crc16)->Arg(16)->Arg(65535);

static void BM_BuildConfigWriteFrame(benchmark::State &state) {
    ConfigValues v{0, 4095, 0, 1000, 0, 4095, 0, 2000};
    for (auto _ : state) {
        benchmark::DoNotOptimize(v);
        benchmark::DoNotOptimize(BuildConfigWriteFrame(v));
    }
}
BENCHMARK(BM_BuildConfigWriteFrame);

BENCHMARK_MAIN();
