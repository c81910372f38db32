// Speed of the synthesizer: the whole song (or a part of it) on one core.
//   taskset -c 1 build-synth/bin/synth-benchmark --benchmark_filter=WholeSong
// Reports frames per second and the real-time factor (song seconds per
// second of wall time).
#include <benchmark/benchmark.h>

#include <vector>

#include "render_loop.h"

namespace {

void renderRange(benchmark::State& bench, bool fast, std::uint32_t frames) {
    std::vector<StereoFrame> out(frames);
    for (auto _ : bench) {
        bench.PauseTiming();
        auto state = makeSynthState();
        bench.ResumeTiming();
        const std::uint32_t done = fast ? renderSongFramesFast(*state, out.data(), frames)
                                        : renderSongFramesReference(*state, out.data(), frames);
        benchmark::DoNotOptimize(done);
        benchmark::ClobberMemory();
    }
    bench.counters["frames/s"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsIterationInvariantRate);
    bench.counters["realtime_x"] =
        benchmark::Counter(static_cast<double>(frames) / SAMPLE_RATE, benchmark::Counter::kIsIterationInvariantRate);
}

void WholeSongFast(benchmark::State& bench) { renderRange(bench, true, SONG_FRAMES); }
void WholeSongReference(benchmark::State& bench) { renderRange(bench, false, SONG_FRAMES); }
void First20sFast(benchmark::State& bench) { renderRange(bench, true, 20 * SAMPLE_RATE); }
void First20sReference(benchmark::State& bench) { renderRange(bench, false, 20 * SAMPLE_RATE); }

}  // namespace

BENCHMARK(WholeSongFast)->Unit(benchmark::kSecond)->Iterations(3);
BENCHMARK(WholeSongReference)->Unit(benchmark::kSecond)->Iterations(1);
BENCHMARK(First20sFast)->Unit(benchmark::kMillisecond);
BENCHMARK(First20sReference)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
