// Carving speed: a 2400 x 1600 photograph (the coffee sample enlarged four
// times with bilinear interpolation) carved narrower and wider.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <string>

#include "engine/GEM.h"
#include "vcl/Graphics.h"

namespace {

GML_Color Photo(int32_t w, int32_t h) {
  TBitmap sample;
  sample.LoadFromFile(std::string(PLIVANE_SAMPLES) + "/coffee.bmp");
  const int32_t sw = sample.Width(), sh = sample.Height();
  GML_Color m(w, h);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      const double fx = (x + 0.5) * sw / w - 0.5, fy = (y + 0.5) * sh / h - 0.5;
      const int32_t x0 = fx < 0 ? 0 : int32_t(fx), y0 = fy < 0 ? 0 : int32_t(fy);
      const int32_t x1 = x0 + 1 < sw ? x0 + 1 : x0, y1 = y0 + 1 < sh ? y0 + 1 : y0;
      const double ax = fx - x0 < 0 ? 0 : fx - x0, ay = fy - y0 < 0 ? 0 : fy - y0;
      auto ch = [&](int shift) {
        auto v = [&](int32_t px, int32_t py) { return double((sample.PixelAt(px, py) >> shift) & 255); };
        double top = v(x0, y0) * (1 - ax) + v(x1, y0) * ax, bottom = v(x0, y1) * (1 - ax) + v(x1, y1) * ax;
        return uint8_t(top * (1 - ay) + bottom * ay + 0.5);
      };
      m.Set(x, y, MakePixel(ch(0), ch(8), ch(16), 1));
    }
  return m;
}

void Carve(benchmark::State& state) {
  static GML_Color source = Photo(2400, 1600);
  GML_Int weights(2400, 1600);
  const int32_t w = static_cast<int32_t>(state.range(0)), h = static_cast<int32_t>(state.range(1));
  for (auto _ : state) {
    GML_Int work(0, 0);
    GML_Color dest(0, 0);
    TGEM gem;
    gem.Fit_Image(source, weights, w, h, 400, 0, true, work, dest);
    benchmark::DoNotOptimize(dest.Row(0));
  }
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  state.counters["peak_MiB"] = double(ru.ru_maxrss) / 1024.0;
}

}  // namespace

BENCHMARK(Carve)->Args({1800, 1600})->Args({3000, 1600})->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();
BENCHMARK_MAIN();
