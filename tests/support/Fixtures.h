#pragma once
// Small pictures and matrices for the engine and job tests.
#include <cstdint>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "engine/GEM.h"
#include "os/MessageBox.h"

// A picture of smooth gradients with a few hard edges, so that seams have
// real choices to make.
inline GML_Color MakePicture(int32_t w, int32_t h, uint32_t seed = 1) {
  GML_Color m(w, h);
  std::mt19937 rng(seed);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      uint8_t r = uint8_t((x * 255) / (w > 1 ? w - 1 : 1));
      uint8_t g = uint8_t((y * 255) / (h > 1 ? h - 1 : 1));
      uint8_t b = uint8_t(((x / 7 + y / 5) % 2) ? 200 : 30);
      r = uint8_t(r ^ (rng() & 15));
      m.Set(x, y, MakePixel(r, g, b, 1));
    }
  return m;
}

inline GML_Int MakeRandomInt(int32_t w, int32_t h, int32_t lo, int32_t hi, uint32_t seed) {
  GML_Int m(w, h);
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int32_t> d(lo, hi);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) m.Set(x, y, d(rng));
  return m;
}

template <typename M>
bool SameContent(const M& a, const M& b) {
  if (a.Width != b.Width || a.Height != b.Height) return false;
  for (int32_t y = 0; y < a.Height; ++y)
    for (int32_t x = 0; x < a.Width; ++x)
      if (a.Get(x, y) != b.Get(x, y)) return false;
  return true;
}

// Collects message boxes while it lives.
class TMessageCapture {
 public:
  TMessageCapture() {
    os::SetMessageBoxSink([this](const std::string& text, const std::string&, unsigned) {
      std::lock_guard<std::mutex> l(FLock);
      FTexts.push_back(text);
      return os::IDOK;
    });
  }
  ~TMessageCapture() { os::SetMessageBoxSink(nullptr); }
  std::vector<std::string> Texts() {
    std::lock_guard<std::mutex> l(FLock);
    return FTexts;
  }

 private:
  std::mutex FLock;
  std::vector<std::string> FTexts;
};
