// Resampling speed: a 2400 x 1600 24-bit photograph (the coffee sample
// stretched four times) scaled down to 1200 x 800 and up to 3600 x 2400 with
// "Good" (bilinear) and "High" (Mitchell). The contributor tables of "High"
// are built in the first iteration and reused after it, as in the add-in.
#include <benchmark/benchmark.h>

#include <string>

#include "jobs/Resampling.h"
#include "vcl/Graphics.h"

namespace {

const TBitmap& Photo() {
  static const TBitmap* photo = [] {
    TBitmap sample;
    sample.LoadFromFile(std::string(PLIVANE_SAMPLES) + "/coffee.bmp");
    auto* b = new TBitmap;
    b->SetPixelFormat(pf24bit);
    b->SetSize(4 * sample.Width(), 4 * sample.Height());
    b->Canvas()->StretchDraw({0, 0, b->Width(), b->Height()}, sample);
    return b;
  }();
  return *photo;
}

void Resampling(benchmark::State& state) {
  TBitmap source;
  source.Assign(Photo());
  const auto method = static_cast<TResampleMethod>(state.range(0));
  TBitmap dest;
  dest.SetPixelFormat(pf24bit);
  dest.SetSize(static_cast<int32_t>(state.range(1)), static_cast<int32_t>(state.range(2)));
  for (auto _ : state) {
    Resample(source, dest, method);
    benchmark::DoNotOptimize(dest.ScanLine(0));
    benchmark::ClobberMemory();
  }
  state.SetLabel(std::string(method == rmBilinear ? "Good " : "High ") + std::to_string(source.Width()) + "x" +
                 std::to_string(source.Height()) + " -> " + std::to_string(dest.Width()) + "x" +
                 std::to_string(dest.Height()));
}

}  // namespace

BENCHMARK(Resampling)
    ->ArgNames({"method", "w", "h"})
    ->Args({rmBilinear, 1200, 800})
    ->Args({rmBilinear, 3600, 2400})
    ->Args({rmMitchell, 1200, 800})
    ->Args({rmMitchell, 3600, 2400})
    ->Unit(benchmark::kSecond)
    ->UseRealTime();
BENCHMARK_MAIN();
