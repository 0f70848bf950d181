// links: mirrow_engine tarvo_com
// The resample engine on stereo 16-bit, 44.1 to 48 kHz and back, in both
// variants; items are input frames, so items per second over the input
// rate is the multiple of real time.
#include <benchmark/benchmark.h>

#include <mirrow/mirrow_engine.h>

#include <cmath>
#include <vector>

namespace {

template <class Engine>
void resample(benchmark::State &state)
{
  const DWORD ri = DWORD(state.range(0)), ro = DWORD(state.range(1));
  WAVEFORMATEX in{WAVE_FORMAT_PCM, 2, ri, ri * 4, 4, 16, 0}, out{WAVE_FORMAT_PCM, 2, ro, ro * 4, 4, 16, 0};
  Engine e(&in, &out, 2, 2);
  e.SetFilterHalfLength(8);
  if (e.Initialise() != S_OK) {
    state.SkipWithError("no memory");
    return;
  }
  const uint32_t frames = 4410;
  std::vector<int16_t> src(frames * 2), dst(frames * 4);
  for (uint32_t n = 0; n < frames; n++) src[2 * n] = src[2 * n + 1] = int16_t(16000 * std::sin(n * 0.142));
  for (auto _ : state) {
    uint32_t w = 0;
    e.Process(reinterpret_cast<BYTE *>(src.data()), frames, reinterpret_cast<BYTE *>(dst.data()), frames * 2, &w);
    benchmark::DoNotOptimize(dst.data());
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * frames);
  state.counters["x_realtime"] =
    benchmark::Counter(double(state.iterations()) * frames / ri, benchmark::Counter::kIsRate);
}

BENCHMARK_TEMPLATE(resample, ResampleEngineSse2)->Args({44100, 48000})->Args({48000, 44100});
BENCHMARK_TEMPLATE(resample, ResampleEngineFpu)->Args({44100, 48000})->Args({48000, 44100});

}  // namespace

BENCHMARK_MAIN();
