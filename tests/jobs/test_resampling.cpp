// The image resampler: stretch drawing, fixed-point bilinear interpolation and
// the two-pass Mitchell filter with its cached contributor tables.
//
// Exact expectations come from a reference written here from the rules: the
// kernel in its nested form (checked against the general form of its family),
// contributor lists found by a search wider than any window, and both integer
// methods computed pixel by pixel in 64-bit arithmetic.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "jobs/Resampling.h"

namespace {

// ---- pictures as the integer methods see them

struct TFormatInfo {
  TPixelFormat Format;
  int32_t Depth;
  int32_t Bytes;
  uint32_t Bits;  // what a pixel holds below its fourth byte
};

const TFormatInfo kLayouts[] = {
    {pf15bit, 15, 2, 0x7FFF}, {pf16bit, 16, 2, 0xFFFF}, {pf24bit, 24, 3, 0xFFFFFF}, {pf32bit, 32, 4, 0xFFFFFF}};

std::string Name(const TFormatInfo& f) { return std::to_string(f.Depth) + "-bit"; }

// Pixel (x, y): the 16-bit word, or bytes 0 to 2 with blue lowest.
uint32_t RawAt(const TBitmap& b, int32_t x, int32_t y, int32_t bytes) {
  const uint8_t* p = b.ScanLine(y) + x * bytes;
  return bytes == 2 ? uint32_t(p[0] | p[1] << 8) : uint32_t(p[0] | p[1] << 8 | p[2] << 16);
}

void SetRaw(TBitmap& b, int32_t x, int32_t y, int32_t bytes, uint32_t v) {
  uint8_t* p = b.ScanLine(y) + x * bytes;
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  if (bytes > 2) p[2] = uint8_t(v >> 16);
}

struct TPicture {
  int32_t W = 0, H = 0;
  std::vector<uint32_t> Px;
  TPicture(int32_t w, int32_t h) : W(w), H(h), Px(size_t(w) * size_t(h)) {}
  uint32_t& At(int32_t x, int32_t y) { return Px[size_t(y) * size_t(W) + size_t(x)]; }
  uint32_t At(int32_t x, int32_t y) const { return Px[size_t(y) * size_t(W) + size_t(x)]; }
};

TPicture RandomPicture(int32_t w, int32_t h, uint32_t bits, uint32_t seed) {
  TPicture p(w, h);
  std::mt19937 rng(seed);
  for (uint32_t& v : p.Px) v = rng() & bits;
  return p;
}

TPicture ReadPicture(const TBitmap& b, int32_t bytes) {
  TPicture p(b.Width(), b.Height());
  for (int32_t y = 0; y < p.H; ++y)
    for (int32_t x = 0; x < p.W; ++x) p.At(x, y) = RawAt(b, x, y, bytes);
  return p;
}

void MakeBitmap(TBitmap& b, TPixelFormat f, int32_t w, int32_t h) {
  b.SetPixelFormat(f);
  b.SetSize(w, h);
}

void WritePicture(TBitmap& b, const TFormatInfo& f, const TPicture& p) {
  MakeBitmap(b, f.Format, p.W, p.H);
  for (int32_t y = 0; y < p.H; ++y)
    for (int32_t x = 0; x < p.W; ++x) SetRaw(b, x, y, f.Bytes, p.At(x, y));
}

// Every byte of every row, padding excluded.
std::vector<uint8_t> Bytes(const TBitmap& b) {
  std::vector<uint8_t> out;
  const int32_t used = (b.Width() * b.BitsPerPixel() + 7) / 8;
  for (int32_t y = 0; y < b.Height(); ++y) out.insert(out.end(), b.ScanLine(y), b.ScanLine(y) + used);
  return out;
}

// ---- the kernel

// Mitchell-Netravali cubic with B = C = 1/3 in the general form of its family.
long double FamilyKernel(long double x) {
  const long double B = 1.0L / 3, C = 1.0L / 3;
  if (x < 1) return ((12 - 9 * B - 6 * C) * x * x * x + (-18 + 12 * B + 6 * C) * x * x + (6 - 2 * B)) / 6;
  if (x < 2)
    return ((-B - 6 * C) * x * x * x + (6 * B + 30 * C) * x * x + (-12 * B - 48 * C) * x + (8 * B + 24 * C)) / 6;
  return 0;
}

// The nested evaluation with five extended constants that the weights are
// fixed to. The two forms can differ in the last bit, and that bit decides
// weights whose exact value is a half: 16 -> 1 at x = 29/16 is exactly -37.5,
// and the nested form gives -37.4999..., so -37.
long double Kernel(float xf) {
  const long double x = xf;
  if (x < 1) return ((7.0L / 6.0L) * x - 2) * x * x + 8.0L / 9.0L;
  if (x < 2) return (((-7.0L / 18.0L) * x + 2) * x - 10.0L / 3.0L) * x + 16.0L / 9.0L;
  return 0;
}

// Nearest integer, halves to even (the default rounding mode).
int32_t RoundEven(long double v) { return static_cast<int32_t>(std::llrint(v)); }

// w(x) = Round(K(x) x 65536).
int32_t W(float x) { return RoundEven(Kernel(x) * 65536.0L); }

// ---- reference contributor lists

struct TRef {
  int32_t Pixel, Weight;
};
using TRefTable = std::vector<std::vector<TRef>>;

int32_t Mirrored(int64_t j, int32_t n) {
  int64_t p = j < 0 ? -j : j < n ? j : 2 * int64_t(n) - 1 - j;
  // Past the mirrored range: the nearest edge pixel.
  return int32_t(p < 0 ? 0 : p > n - 1 ? n - 1 : p);
}

// Every j whose distance is under 2, in increasing order.
TRefTable RefContributors(int32_t n, int32_t m) {
  TRefTable t(static_cast<size_t>(m));
  for (int32_t i = 0; i < m; ++i)
    for (int64_t j = -3 * int64_t(n) - 8; j <= 4 * int64_t(n) + 8; ++j) {
      if (m < n) {
        const float e = float(static_cast<long double>(m) / n);
        const float x = float(std::fabs(i - static_cast<long double>(j) * e));
        if (x < 2) t[size_t(i)].push_back({Mirrored(j, n), RoundEven(Kernel(x) * e * 65536.0L)});
      } else {
        const float e = float(static_cast<long double>(n) / m);
        const float c = float(i * static_cast<long double>(e));
        const float x = float(std::fabs(c - static_cast<long double>(j)));
        if (x < 2) t[size_t(i)].push_back({Mirrored(j, n), RoundEven(Kernel(x) * 65536.0L)});
      }
    }
  return t;
}

// ---- reference methods

// The filter's three channels (blue, green, red); green of a 16-bit word stays
// in place. Max is each channel's largest value.
void FilterSplit(int32_t depth, uint32_t v, int64_t c[3]) {
  if (depth == 15) {
    c[0] = v & 0x1F, c[1] = v & 0x3E0, c[2] = v >> 10;
  } else if (depth == 16) {
    c[0] = v & 0x1F, c[1] = v & 0x7E0, c[2] = v >> 11;
  } else {
    c[0] = v & 0xFF, c[1] = (v >> 8) & 0xFF, c[2] = (v >> 16) & 0xFF;
  }
}
int64_t FilterMax(int32_t depth, int n) {
  if (depth == 15) return n == 1 ? 0x3E0 : 31;
  if (depth == 16) return n == 1 ? 0x7E0 : 31;
  return 255;
}
uint32_t FilterJoin(int32_t depth, const int64_t c[3]) {
  if (depth == 15) return uint32_t(c[0] | (c[1] & 0x3E0) | c[2] << 10);
  if (depth == 16) return uint32_t(c[0] | (c[1] & 0x7E0) | c[2] << 11);
  return uint32_t(c[0] | c[1] << 8 | c[2] << 16);
}
int64_t ClampSum(int64_t s, int64_t max) { return s < 0 ? 0 : s > max * 65536 ? max : s / 65536; }

// Contributor list L applied to pixels get(0 .. n - 1), clamped per channel.
template <class Get>
uint32_t Filter(int32_t depth, const std::vector<TRef>& list, Get get) {
  int64_t s[3] = {0, 0, 0}, c[3];
  for (const TRef& r : list) {
    FilterSplit(depth, get(r.Pixel), c);
    for (int n = 0; n < 3; ++n) s[n] += r.Weight * c[n];
  }
  for (int n = 0; n < 3; ++n) s[n] = ClampSum(s[n], FilterMax(depth, n));
  return FilterJoin(depth, s);
}

// The whole horizontal pass first, then the vertical one.
TPicture RefFiltered(const TPicture& src, int32_t depth, int32_t dw, int32_t dh) {
  const TRefTable h = RefContributors(src.W, dw), v = RefContributors(src.H, dh);
  TPicture mid(dw, src.H), out(dw, dh);
  for (int32_t y = 0; y < src.H; ++y)
    for (int32_t i = 0; i < dw; ++i)
      mid.At(i, y) = Filter(depth, h[size_t(i)], [&](int32_t p) { return src.At(p, y); });
  for (int32_t j = 0; j < dh; ++j)
    for (int32_t i = 0; i < dw; ++i)
      out.At(i, j) = Filter(depth, v[size_t(j)], [&](int32_t p) { return mid.At(i, p); });
  return out;
}

// Each channel interpolated in place with its mask: the same as byte by byte
// for the 8-bit channels, given 64 bits for the products.
TPicture RefBilinear(const TPicture& src, int32_t depth, int32_t dw, int32_t dh) {
  const uint64_t masks15[3] = {0x1F, 0x3E0, 0x7C00}, masks16[3] = {0x1F, 0x7E0, 0xF800},
                 masks8[3] = {0xFF, 0xFF00, 0xFF0000};
  const uint64_t* masks = depth == 15 ? masks15 : depth == 16 ? masks16 : masks8;
  const int64_t xstep = int64_t(src.W) * 65536 / dw, ystep = int64_t(src.H) * 65536 / dh;
  TPicture out(dw, dh);
  for (int32_t l = 0; l < dh; ++l) {
    const int64_t y = l * ystep;
    const int32_t y0 = int32_t(y >> 16), y1 = y0 < src.H - 1 ? y0 + 1 : y0;
    const uint64_t fy = uint64_t(y & 0xFFFF), gy = 65535 - fy;
    for (int32_t k = 0; k < dw; ++k) {
      const int64_t x = k * xstep;
      const int32_t x0 = int32_t(x >> 16), x1 = x0 < src.W - 1 ? x0 + 1 : x0;
      const uint64_t fx = uint64_t(x & 0xFFFF);
      const uint64_t wTR = (gy * fx) >> 16, wTL = gy - wTR, wBR = (fy * fx) >> 16, wBL = fy - wBR;
      uint64_t v = 0;
      for (int n = 0; n < 3; ++n) {
        const uint64_t m = masks[n];
        v |= (((src.At(x0, y0) & m) * wTL + (src.At(x1, y0) & m) * wTR + (src.At(x0, y1) & m) * wBL +
               (src.At(x1, y1) & m) * wBR) >>
              16) &
             m;
      }
      out.At(k, l) = uint32_t(v);
    }
  }
  return out;
}

// ---- the kernel and the contributor tables

TEST(Kernel, NestedFormIsMitchellNetravaliWithAPartitionOfUnity) {
  for (int32_t k = 0; k < 128; ++k) {
    const float x = float(k) / 64;
    EXPECT_NEAR(double(Kernel(x)), double(FamilyKernel(x)), 1e-15) << x;
    // Shifted copies at the integers add up to 1 everywhere.
    long double sum = 0;
    for (int32_t j = -2; j <= 2; ++j) sum += FamilyKernel(std::fabs(x / 2 - j));
    EXPECT_NEAR(double(sum), 1.0, 1e-15) << x;
  }
  // 65536 x 8/9 and 65536 / 18, rounded.
  EXPECT_EQ(W(0), 58254);
  EXPECT_EQ(W(1), 3641);
}

// Includes pairs such as 16 -> 1, 16 -> 3 and 16 -> 9 whose weights lie on or
// within the last bit of a half.
TEST(ContributorTables, MatchTheKernelOverEveryWindow) {
  std::vector<std::pair<int32_t, int32_t>> pairs;
  for (int32_t n = 1; n <= 24; ++n)
    for (int32_t m = 1; m <= 24; ++m) pairs.push_back({n, m});
  const std::pair<int32_t, int32_t> larger[] = {{2400, 1200}, {1600, 2400}, {600, 2400},  {1, 40},    {40, 1},
                                                {10, 3},      {16, 9},      {1920, 1080}, {97, 1000}, {1000, 97}};
  pairs.insert(pairs.end(), std::begin(larger), std::end(larger));
  for (auto [n, m] : pairs) {
    SCOPED_TRACE(std::to_string(n) + " -> " + std::to_string(m));
    const TContributorList* t = GetContributors(n, m);
    ASSERT_NE(t, nullptr);
    const TRefTable ref = RefContributors(n, m);
    for (int32_t i = 0; i < m; ++i) {
      const std::vector<TRef>& want = ref[size_t(i)];
      ASSERT_EQ(t[i].LastIndex, int32_t(want.size()) - 1) << "list " << i;
      int64_t sum = 0;
      for (int32_t k = 0; k <= t[i].LastIndex; ++k) {
        ASSERT_EQ(t[i].Contributors[k].Pixel, want[size_t(k)].Pixel) << "list " << i << " contributor " << k;
        ASSERT_EQ(t[i].Contributors[k].Weight, want[size_t(k)].Weight) << "list " << i << " contributor " << k;
        sum += t[i].Contributors[k].Weight;
      }
      // Pixels past the mirrored range are kept, on the edge pixel, so every
      // list still sums to about 1.0: within the rounding of four weights
      // when growing; when shrinking, within the ripple of the kernel sampled
      // at the scale (about 1.2 % at most, for mild shrinking such as 3 -> 2).
      if (m >= n)
        EXPECT_LE(std::abs(sum - 65536), 2) << "list " << i;
      else
        EXPECT_LE(std::abs(sum - 65536), 65536 / 50) << "list " << i;
    }
  }
}

TEST(ContributorTables, WeightsOnAHalfFollowTheNestedExtendedEvaluation) {
  // 16 -> 1: e = 1/16, window j = -31 .. 31. At j = +-29, x = 29/16 and
  // K(x) x 4096 is exactly -37.5: (-7x^3 + 36x^2 - 60x + 32) / 18 with
  // x = 29/16 is -675/4096/18. Halves to even would give -38 (so does double
  // precision); the nested form in extended precision lands a hair above.
  ASSERT_EQ(RoundEven(Kernel(29.0f / 16) * (1.0f / 16) * 65536.0L), -37);
  const TContributorList* t = GetContributors(16, 1);
  ASSERT_EQ(t[0].LastIndex, 62);
  EXPECT_EQ(t[0].Contributors[2].Weight, -37);   // j = -29
  EXPECT_EQ(t[0].Contributors[60].Weight, -37);  // j = 29
  EXPECT_EQ(t[0].Contributors[2].Pixel, 15);     // 29, past the mirrored range
  EXPECT_EQ(t[0].Contributors[60].Pixel, 2);     // 2n - 1 - 29
}

TEST(ContributorTables, SameSizeTakesEachPixelAndItsTwoNeighbours) {
  const int32_t n = 5;
  const TContributorList* t = GetContributors(n, n);
  // The left edge mirrors without repeating pixel 0, the right edge repeats
  // pixel n - 1.
  const int32_t pixels[5][3] = {{1, 0, 1}, {0, 1, 2}, {1, 2, 3}, {2, 3, 4}, {3, 4, 4}};
  for (int32_t i = 0; i < n; ++i) {
    ASSERT_EQ(t[i].LastIndex, 2) << i;
    const int32_t weights[3] = {W(1), W(0), W(1)};
    for (int32_t k = 0; k < 3; ++k) {
      EXPECT_EQ(t[i].Contributors[k].Pixel, pixels[i][k]) << i << " " << k;
      EXPECT_EQ(t[i].Contributors[k].Weight, weights[k]) << i << " " << k;
    }
  }
}

TEST(ContributorTables, DoublingAlternatesThreeAndFourContributors) {
  const TContributorList* t = GetContributors(4, 8);
  struct Case {
    int32_t pixels[4];
    int32_t count;
  };
  // Even i: around source i / 2. Odd i: the four nearest source pixels.
  const Case cases[8] = {{{1, 0, 1}, 3}, {{1, 0, 1, 2}, 4}, {{0, 1, 2}, 3}, {{0, 1, 2, 3}, 4},
                         {{1, 2, 3}, 3}, {{1, 2, 3, 3}, 4}, {{2, 3, 3}, 3}, {{2, 3, 3, 2}, 4}};
  for (int32_t i = 0; i < 8; ++i) {
    const Case& c = cases[i];
    ASSERT_EQ(t[i].LastIndex, c.count - 1) << i;
    const int32_t even[3] = {W(1), W(0), W(1)}, odd[4] = {W(1.5f), W(0.5f), W(0.5f), W(1.5f)};
    for (int32_t k = 0; k < c.count; ++k) {
      EXPECT_EQ(t[i].Contributors[k].Pixel, c.pixels[k]) << i << " " << k;
      EXPECT_EQ(t[i].Contributors[k].Weight, i % 2 ? odd[k] : even[k]) << i << " " << k;
    }
  }
  EXPECT_LT(W(1.5f), 0);
  EXPECT_GT(W(0.5f), 0);
}

TEST(ContributorTables, HalvingTakesSevenMirroredPixelsAtTheLeftEdge) {
  const TContributorList* t = GetContributors(8, 4);
  ASSERT_EQ(t[0].LastIndex, 6);
  for (int32_t k = 0; k <= 6; ++k) {
    const int32_t j = k - 3;  // -3 .. 3
    EXPECT_EQ(t[0].Contributors[k].Pixel, std::abs(j)) << j;
    EXPECT_EQ(t[0].Contributors[k].Weight, RoundEven(Kernel(float(std::abs(j)) / 2) * 0.5L * 65536)) << j;
    EXPECT_EQ(t[0].Contributors[k].Weight, t[0].Contributors[6 - k].Weight) << j;
  }
  EXPECT_LT(t[0].Contributors[0].Weight, 0);
  EXPECT_LT(t[0].Contributors[6].Weight, 0);
  for (int32_t k = 0; k <= 6; ++k) {
    if (k == 3) continue;
    EXPECT_GT(t[0].Contributors[3].Weight, t[0].Contributors[k].Weight) << k;
  }
}

TEST(ContributorTables, AreBuiltOncePerPair) {
  const TContributorList* t = GetContributors(7, 12);
  EXPECT_EQ(GetContributors(7, 12), t);
  EXPECT_NE(GetContributors(12, 7), t);
  EXPECT_NE(GetContributors(7, 13), t);
  EXPECT_EQ(GetContributors(7, 12), t);
  const std::pair<int32_t, int32_t> invalid[] = {{0, 5}, {5, 0}, {-1, 3}, {3, -1}};
  for (auto [n, m] : invalid) EXPECT_THROW(GetContributors(n, m), Exception) << n << " " << m;
}

// ---- resampling against the reference

struct TSizeCase {
  int32_t SW, SH, DW, DH;
  const char* What;
};

const TSizeCase kSizeCases[] = {
    {6, 5, 6, 5, "same size"},
    {8, 8, 4, 4, "halved"},
    {4, 4, 8, 8, "doubled"},
    {10, 3, 3, 10, "shrunk across, grown down"},
    {13, 11, 17, 4, "odd ratios"},
    {16, 16, 9, 9, "16 to 9, whose weights include exact halves"},
    {1, 1, 5, 4, "one pixel enlarged"},
    {7, 6, 1, 1, "shrunk to one pixel"},
    {2, 9, 1, 13, "shrunk to one column, grown down"},
    {5, 1, 9, 1, "one row"},
    {1, 7, 1, 3, "one column"},
};

TEST(Resample, IntegerMethodsMatchTheReferenceInEveryLayout) {
  uint32_t seed = 1;
  for (const TSizeCase& sc : kSizeCases)
    for (const TFormatInfo& f : kLayouts)
      for (TResampleMethod method : {rmBilinear, rmMitchell}) {
        SCOPED_TRACE(std::string(sc.What) + ", " + Name(f) + (method == rmBilinear ? ", Good" : ", High"));
        const TPicture picture = RandomPicture(sc.SW, sc.SH, f.Bits, seed++);
        TBitmap source, dest;
        WritePicture(source, f, picture);
        if (f.Bytes == 4)  // random fourth bytes, which the filter must not read
          for (int32_t y = 0; y < sc.SH; ++y)
            for (int32_t x = 0; x < sc.SW; ++x) source.ScanLine(y)[4 * x + 3] = uint8_t(seed * 7 + x * 3 + y);
        const std::vector<uint8_t> sourceBefore = Bytes(source);
        WritePicture(dest, f, RandomPicture(sc.DW, sc.DH, f.Bits, seed++));
        std::vector<uint8_t> fourth;
        if (f.Bytes == 4)
          for (int32_t y = 0; y < sc.DH; ++y)
            for (int32_t x = 0; x < sc.DW; ++x) {
              dest.ScanLine(y)[4 * x + 3] = uint8_t(0xA0 + x + 5 * y);
              fourth.push_back(dest.ScanLine(y)[4 * x + 3]);
            }

        Resample(source, dest, method);

        ASSERT_EQ(dest.Width(), sc.DW);
        ASSERT_EQ(dest.Height(), sc.DH);
        ASSERT_EQ(dest.PixelFormat(), f.Format);
        const TPicture want = method == rmBilinear ? RefBilinear(picture, f.Depth, sc.DW, sc.DH)
                                                   : RefFiltered(picture, f.Depth, sc.DW, sc.DH);
        const TPicture got = ReadPicture(dest, f.Bytes);
        for (int32_t y = 0; y < sc.DH; ++y)
          for (int32_t x = 0; x < sc.DW; ++x)
            ASSERT_EQ(got.At(x, y), want.At(x, y)) << "pixel (" << x << ", " << y << ")";
        if (f.Bytes == 4) {
          size_t k = 0;
          for (int32_t y = 0; y < sc.DH; ++y)
            for (int32_t x = 0; x < sc.DW; ++x)
              ASSERT_EQ(dest.ScanLine(y)[4 * x + 3], fourth[k++]) << "fourth byte of (" << x << ", " << y << ")";
        }
        EXPECT_EQ(Bytes(source), sourceBefore) << "the source was written";
      }
}

// ---- worked examples

TEST(Bilinear, UniformAreasComeOutOneStepDarker) {
  // The four weights add up to 65535, and the sum is truncated.
  struct Case {
    TPixelFormat format;
    int32_t bytes;
    uint32_t in, out;
  };
  const Case cases[] = {
      {pf24bit, 3, 0xFFFFFF, 0xFEFEFE},         {pf24bit, 3, 0x010101, 0x000000},
      {pf32bit, 4, 0x80FF01, 0x7FFE00},         {pf15bit, 2, 31u << 10 | 31u << 5 | 31u, 30u << 10 | 30u << 5 | 30u},
      {pf15bit, 2, 1u << 10 | 1u << 5 | 1u, 0}, {pf16bit, 2, 31u << 11 | 63u << 5 | 31u, 30u << 11 | 62u << 5 | 30u},
      {pf16bit, 2, 1u << 11 | 1u << 5 | 1u, 0},
  };
  const std::pair<int32_t, int32_t> sizes[] = {{11, 7}, {3, 2}};
  for (const Case& c : cases)
    for (auto [dw, dh] : sizes) {
      SCOPED_TRACE(std::to_string(c.in) + " to " + std::to_string(dw) + " x " + std::to_string(dh));
      TBitmap source, dest;
      MakeBitmap(source, c.format, 5, 4);
      for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 5; ++x) SetRaw(source, x, y, c.bytes, c.in);
      MakeBitmap(dest, c.format, dw, dh);
      Resample(source, dest, rmBilinear);
      for (int32_t y = 0; y < dh; ++y)
        for (int32_t x = 0; x < dw; ++x) ASSERT_EQ(RawAt(dest, x, y, c.bytes), c.out) << x << ", " << y;
    }
}

TEST(Bilinear, LastColumnsOfAnEnlargementTakeTheLastSourceColumn) {
  // 2 -> 4 columns: xstep = 32768. Column 1 weighs (32768, 32767); columns 2
  // and 3 start at source column 1, the last, which is their own right
  // neighbour. 24 bits: 200 x 32767 >> 16 = 99 and 200 x 65535 >> 16 = 199.
  // 15 bits: red 0x7C00 x 32768 >> 16 = 0x3E00, masked 0x3C00; blue
  // 31 x 32767 >> 16 = 15; alone, 31 -> 30.
  struct Case {
    TPixelFormat format;
    int32_t bytes;
    uint32_t in[2], out[4];
  };
  const Case cases[] = {
      {pf24bit, 3, {0x000000, 0xC8C8C8}, {0x000000, 0x636363, 0xC7C7C7, 0xC7C7C7}},
      {pf15bit, 2, {0x7C00, 0x001F}, {0x7800, 0x3C0F, 0x001E, 0x001E}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.format));
    TBitmap source, dest;
    MakeBitmap(source, c.format, 2, 1);
    SetRaw(source, 0, 0, c.bytes, c.in[0]);
    SetRaw(source, 1, 0, c.bytes, c.in[1]);
    MakeBitmap(dest, c.format, 4, 1);
    Resample(source, dest, rmBilinear);
    for (int32_t x = 0; x < 4; ++x) EXPECT_EQ(RawAt(dest, x, 0, c.bytes), c.out[x]) << x;
  }
}

TEST(Mitchell, SameSizeBlursByTheKernelAtOneAndZero) {
  // One row 0, 255, 0. Pixel 0's neighbours are both pixel 1 (no repeat at
  // the left edge); pixel 2's are 1 and itself. The single row passes the
  // vertical pass unchanged: its three weights all land on row 0 and add up
  // to exactly 65536.
  ASSERT_EQ(W(1) + W(0) + W(1), 65536);
  const int32_t want[3] = {(2 * W(1) * 255) >> 16, (W(0) * 255) >> 16, (W(1) * 255) >> 16};
  EXPECT_GT(want[0], want[2]);
  for (const TFormatInfo& f : {kLayouts[2], kLayouts[3]}) {
    SCOPED_TRACE(Name(f));
    TBitmap source, dest;
    MakeBitmap(source, f.Format, 3, 1);
    SetRaw(source, 1, 0, f.Bytes, 0xFF00FF);
    MakeBitmap(dest, f.Format, 3, 1);
    Resample(source, dest, rmMitchell);
    for (int32_t x = 0; x < 3; ++x) {
      const uint32_t v = uint32_t(want[x]);
      EXPECT_EQ(RawAt(dest, x, 0, f.Bytes), v | v << 16) << x;
    }
  }
}

TEST(Mitchell, HardEdgesAreClampedAfterEachPassNotWrapped) {
  // 0 0 255 255 doubled. Position i is centred on source i / 2.
  const int64_t w0 = W(0), w1 = W(1), wh = W(0.5f), w3h = W(1.5f);
  const int64_t sums[8] = {0,                          // c = 0: pixels 1, 0, 1, all black
                           255 * w3h,                  // c = 0.5: only the negative lobe reaches the white
                           255 * w1,                   // c = 1
                           255 * (wh + w3h),           // c = 1.5
                           255 * (w0 + w1),            // c = 2
                           255 * (2 * wh + w3h),       // c = 2.5: pixel 4 mirrors to 3
                           255 * (w1 + w0 + w1),       // c = 3
                           255 * (2 * wh + 2 * w3h)};  // c = 3.5: pixels 2, 3, 3, 2
  ASSERT_LT(sums[1], 0);
  ASSERT_GT(sums[5], 255 * 65536);
  for (TPixelFormat format : {pf24bit, pf32bit}) {
    SCOPED_TRACE(int(format));
    const int32_t bytes = format == pf24bit ? 3 : 4;
    TBitmap source, dest;
    MakeBitmap(source, format, 4, 1);
    SetRaw(source, 2, 0, bytes, 0xFFFFFF);
    SetRaw(source, 3, 0, bytes, 0xFFFFFF);
    MakeBitmap(dest, format, 8, 1);
    Resample(source, dest, rmMitchell);
    for (int32_t i = 0; i < 8; ++i) {
      const int64_t v = sums[i] < 0 ? 0 : sums[i] > 255 * 65536 ? 255 : sums[i] >> 16;
      EXPECT_EQ(RawAt(dest, i, 0, bytes), uint32_t(v * 0x010101)) << i;
    }
    EXPECT_EQ(RawAt(dest, 1, 0, bytes), 0u);
    EXPECT_EQ(RawAt(dest, 5, 0, bytes), 0xFFFFFFu);
  }
  // In two dimensions the vertical pass must see the clamped values: a
  // checkerboard of 2 x 2 blocks doubled both ways, against a reference that
  // clamps after each pass (and would differ if the first pass were not).
  TPicture board(4, 4);
  for (int32_t y = 0; y < 4; ++y)
    for (int32_t x = 0; x < 4; ++x) board.At(x, y) = ((x / 2 + y / 2) % 2) ? 0xFFFFFF : 0;
  TBitmap source, dest;
  WritePicture(source, kLayouts[2], board);
  MakeBitmap(dest, pf24bit, 8, 8);
  Resample(source, dest, rmMitchell);
  const TPicture want = RefFiltered(board, 24, 8, 8);
  EXPECT_EQ(ReadPicture(dest, 3).Px, want.Px);
}

TEST(Mitchell, ASecondResampleReusesTheTablesAndRepeatsTheOutput) {
  const TPicture picture = RandomPicture(29, 23, 0xFFFFFF, 77);
  TBitmap source, first, second;
  WritePicture(source, kLayouts[2], picture);
  MakeBitmap(first, pf24bit, 41, 19);
  Resample(source, first, rmMitchell);
  const TContributorList* h = GetContributors(29, 41);
  const TContributorList* v = GetContributors(23, 19);
  MakeBitmap(second, pf24bit, 41, 19);
  Resample(source, second, rmMitchell);
  EXPECT_EQ(GetContributors(29, 41), h);
  EXPECT_EQ(GetContributors(23, 19), v);
  EXPECT_EQ(Bytes(second), Bytes(first));
  EXPECT_EQ(ReadPicture(first, 3).Px, RefFiltered(picture, 24, 41, 19).Px);
}

// ---- what Resample does around the methods

TEST(Resample, ThirtyTwoBitDestinationKeepsItsFourthByte) {
  for (TResampleMethod method : {rmBilinear, rmMitchell}) {
    SCOPED_TRACE(int(method));
    TBitmap source, dest;
    WritePicture(source, kLayouts[3], RandomPicture(6, 4, 0xFFFFFF, 9));
    MakeBitmap(dest, pf32bit, 9, 7);
    for (int32_t y = 0; y < 7; ++y)
      for (int32_t x = 0; x < 9; ++x) dest.ScanLine(y)[4 * x + 3] = uint8_t(0x40 + 9 * y + x);
    Resample(source, dest, method);
    bool wrote = false;
    for (int32_t y = 0; y < 7; ++y)
      for (int32_t x = 0; x < 9; ++x) {
        ASSERT_EQ(dest.ScanLine(y)[4 * x + 3], uint8_t(0x40 + 9 * y + x)) << x << ", " << y;
        wrote = wrote || RawAt(dest, x, y, 4) != 0;
      }
    EXPECT_TRUE(wrote);
  }
}

TEST(Resample, SourceTakesTheDestinationLayoutWithTheIntegerMethods) {
  struct Case {
    TPixelFormat source, dest;
    uint8_t method;
    TPixelFormat after;
  };
  const Case cases[] = {
      {pf32bit, pf24bit, rmBilinear, pf24bit},  {pf32bit, pf24bit, rmMitchell, pf24bit},
      {pf24bit, pf16bit, rmBilinear, pf16bit},  {pf8bit, pf15bit, rmMitchell, pf15bit},
      {pfDevice, pf32bit, rmBilinear, pf32bit}, {pf32bit, pf24bit, rmStretch, pf32bit},
      {pf32bit, pf24bit, 3, pf32bit},           {pf24bit, pf8bit, rmMitchell, pf24bit},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.source) + " into " + std::to_string(c.dest) + " by " + std::to_string(c.method));
    TBitmap source, copy, dest, expected;
    MakeBitmap(source, pf24bit, 6, 5);
    const TPicture picture = RandomPicture(6, 5, 0xFFFFFF, 31);
    for (int32_t y = 0; y < 5; ++y)
      for (int32_t x = 0; x < 6; ++x) SetRaw(source, x, y, 3, picture.At(x, y));
    source.SetPixelFormat(c.source);
    copy.Assign(source);
    MakeBitmap(dest, c.dest, 9, 4);
    Resample(source, dest, TResampleMethod(c.method));
    EXPECT_EQ(source.PixelFormat(), c.after);
    if (c.after != c.source) {
      // The same result as from a source converted beforehand.
      copy.SetPixelFormat(c.after);
      MakeBitmap(expected, c.dest, 9, 4);
      Resample(copy, expected, TResampleMethod(c.method));
      EXPECT_EQ(Bytes(dest), Bytes(expected));
    }
  }
}

TEST(Resample, LayoutsAndMethodsWithoutAnIntegerVariantLeaveBothBitmapsAlone) {
  struct Case {
    TPixelFormat dest;
    uint8_t method;
  };
  const Case cases[] = {
      {pf8bit, rmBilinear}, {pf8bit, rmMitchell}, {pfDevice, rmBilinear}, {pfDevice, rmMitchell}, {pf24bit, 3},
      {pf24bit, 255},       {pf15bit, 7}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.dest) + " by " + std::to_string(c.method));
    TBitmap source, dest;
    WritePicture(source, kLayouts[3], RandomPicture(5, 4, 0xFFFFFF, 3));
    MakeBitmap(dest, pf24bit, 7, 6);
    for (int32_t y = 0; y < 6; ++y)
      for (int32_t x = 0; x < 7; ++x) dest.SetPixelAt(x, y, RGBColor(uint8_t(30 * x), uint8_t(40 * y), 200));
    dest.SetPixelFormat(c.dest);
    const std::vector<uint8_t> sourceBefore = Bytes(source), destBefore = Bytes(dest);
    Resample(source, dest, TResampleMethod(c.method));
    EXPECT_EQ(dest.PixelFormat(), c.dest);
    EXPECT_EQ(Bytes(dest), destBefore);
    EXPECT_EQ(source.PixelFormat(), pf32bit);
    EXPECT_EQ(Bytes(source), sourceBefore);
  }
}

TEST(Resample, MethodZeroStretchDrawsOverTheWholeDestination) {
  TBitmap source, dest, expected;
  WritePicture(source, kLayouts[2], RandomPicture(5, 3, 0xFFFFFF, 12));
  MakeBitmap(dest, pf32bit, 12, 7);
  MakeBitmap(expected, pf32bit, 12, 7);
  expected.Canvas()->StretchDraw({0, 0, 12, 7}, source);
  Resample(source, dest, rmStretch);
  EXPECT_EQ(Bytes(dest), Bytes(expected));
  EXPECT_EQ(source.PixelFormat(), pf24bit);
  for (int32_t x = 0; x < 12; ++x) EXPECT_EQ(dest.PixelAt(x, 6), source.PixelAt(x * 5 / 12, 2)) << x;
}

// A drawable that is not a bitmap: a gradient.
class TGradient : public TGraphic {
 public:
  int32_t Width() const override { return 4; }
  int32_t Height() const override { return 2; }
  TColor PixelAt(int32_t x, int32_t y) const override { return RGBColor(uint8_t(60 * x), uint8_t(100 * y), 7); }
};

TEST(Resample, OtherGraphicsAreStretchDrawnOnly) {
  const TGradient gradient;
  TBitmap dest;
  MakeBitmap(dest, pf24bit, 8, 4);
  Resample(gradient, dest, rmStretch);
  for (int32_t y = 0; y < 4; ++y)
    for (int32_t x = 0; x < 8; ++x) EXPECT_EQ(dest.PixelAt(x, y), gradient.PixelAt(x / 2, y / 2)) << x << ", " << y;
  EXPECT_THROW(Resample(gradient, dest, rmBilinear), Exception);
  EXPECT_THROW(Resample(gradient, dest, rmMitchell), Exception);
  // A destination the integer methods do not write: nothing to refuse.
  TBitmap palette;
  MakeBitmap(palette, pf8bit, 3, 3);
  EXPECT_NO_THROW(Resample(gradient, palette, rmMitchell));
  // A bitmap that may not be changed cannot be converted either.
  const TBitmap& constant = dest;
  TBitmap other;
  MakeBitmap(other, pf24bit, 2, 2);
  EXPECT_THROW(Resample(constant, other, rmBilinear), Exception);
}

TEST(Resample, IntegerMethodsRaiseForPicturesWithoutPixels) {
  struct Case {
    int32_t sw, sh, dw, dh;
  };
  const Case cases[] = {{4, 3, 0, 3}, {4, 3, 5, 0}, {4, 3, 0, 0}, {0, 3, 5, 3}, {4, 0, 5, 3}};
  for (const Case& c : cases)
    for (TResampleMethod method : {rmBilinear, rmMitchell}) {
      SCOPED_TRACE(std::to_string(c.sw) + " x " + std::to_string(c.sh) + " -> " + std::to_string(c.dw) + " x " +
                   std::to_string(c.dh) + " by " + std::to_string(method));
      TBitmap source, dest;
      MakeBitmap(source, pf24bit, c.sw, c.sh);
      MakeBitmap(dest, pf24bit, c.dw, c.dh);
      EXPECT_THROW(Resample(source, dest, method), Exception);
      EXPECT_NO_THROW(Resample(source, dest, rmStretch));
    }
}

TEST(BitmapBitDepth, NamesTheLayoutsTheIntegerMethodsWrite) {
  const std::pair<TPixelFormat, int32_t> cases[] = {{pfDevice, 0}, {pf8bit, 0},   {pf15bit, 15},
                                                    {pf16bit, 16}, {pf24bit, 24}, {pf32bit, 32}};
  for (auto [format, depth] : cases) {
    TBitmap b;
    MakeBitmap(b, format, 3, 2);
    EXPECT_EQ(BitmapBitDepth(b), depth) << format;
  }
}

TEST(MatchPixelFormat, ConvertsThePixelsWhenTheFormatDiffers) {
  TBitmap b;
  MakeBitmap(b, pf32bit, 2, 1);
  b.SetPixelAt(0, 0, RGBColor(0xFF, 0x84, 0x10));
  MatchPixelFormat(b, pf16bit);
  EXPECT_EQ(b.PixelFormat(), pf16bit);
  EXPECT_EQ(RawAt(b, 0, 0, 2), 31u << 11 | 0x21u << 5 | 2u);
  MatchPixelFormat(b, pf15bit);
  EXPECT_EQ(b.PixelFormat(), pf15bit);
  EXPECT_EQ(RawAt(b, 0, 0, 2), 31u << 10 | 0x10u << 5 | 2u);
}

// ---- two threads at once

TEST(Concurrency, TwoThreadsResamplingAtOnceShareTheTables) {
  // Size pairs no other test uses, so that both threads ask for tables that
  // do not exist yet.
  const std::pair<int32_t, int32_t> sizes[] = {{31, 53}, {53, 31}, {47, 47}, {61, 19}, {19, 61}, {37, 43}};
  const TPicture picture = RandomPicture(61, 53, 0xFFFFFF, 5);
  struct TRun {
    std::vector<std::vector<uint32_t>> Out;
    std::vector<const TContributorList*> Tables;
  };
  TRun runs[2];
  // A plain start barrier: the standard library's latch can miss its wake-up
  // with the Windows toolchain's library.
  std::mutex lock;
  std::condition_variable arrived;
  int waiting = 0;
  auto work = [&](int t) {
    {
      std::unique_lock<std::mutex> l(lock);
      if (++waiting == 2) arrived.notify_all();
      arrived.wait(l, [&] { return waiting == 2; });
    }
    for (size_t k = 0; k < std::size(sizes); ++k) {
      const auto [dw, dh] = sizes[t ? std::size(sizes) - 1 - k : k];
      TBitmap source, dest;
      WritePicture(source, kLayouts[2], picture);
      MakeBitmap(dest, pf24bit, dw, dh);
      Resample(source, dest, rmMitchell);
      runs[t].Out.push_back(ReadPicture(dest, 3).Px);
      runs[t].Tables.push_back(GetContributors(61, dw));
    }
  };
  std::thread a(work, 0), b(work, 1);
  a.join();
  b.join();
  for (size_t k = 0; k < std::size(sizes); ++k) {
    const auto [dw, dh] = sizes[k];
    SCOPED_TRACE(std::to_string(dw) + " x " + std::to_string(dh));
    const std::vector<uint32_t> want = RefFiltered(picture, 24, dw, dh).Px;
    const size_t other = std::size(sizes) - 1 - k;
    EXPECT_EQ(runs[0].Out[k], want);
    EXPECT_EQ(runs[1].Out[other], want);
    EXPECT_EQ(runs[0].Tables[k], runs[1].Tables[other]);
    EXPECT_EQ(runs[0].Tables[k], GetContributors(61, dw));
  }
}

}  // namespace
