// Pre-scaling before the carve: when the picture is scaled uniformly, by how
// much, with which method, and the factors left to the carve; and the
// rounding of scaled sides.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "jobs/Resampling.h"
#include "os/FloatPrecision.h"
#include "publisher/PUBAddIn_IMPL.h"

namespace {

std::unique_ptr<TBitmap> Picture(int32_t w, int32_t h, TPixelFormat format, uint32_t seed = 7) {
  auto b = std::make_unique<TBitmap>();
  b->SetPixelFormat(format);
  b->SetSize(w, h);
  std::mt19937 rng(seed);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) b->SetPixelAt(x, y, rng() & 0xFFFFFF);
  return b;
}

::testing::AssertionResult SamePixels(const TBitmap& a, const TBitmap& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height())
    return ::testing::AssertionFailure() << "sizes " << a.Width() << " x " << a.Height() << " and " << b.Width()
                                         << " x " << b.Height();
  for (int32_t y = 0; y < a.Height(); ++y)
    for (int32_t x = 0; x < a.Width(); ++x)
      if (a.PixelAt(x, y) != b.PixelAt(x, y))
        return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << ") differs";
  return ::testing::AssertionSuccess();
}

class Prescale : public ::testing::Test {
 protected:
  // Keeps a copy of the source as it was, to compare with.
  void Source(int32_t w, int32_t h, TPixelFormat format = pf32bit) {
    AddIn.FSourceBitmap = Picture(w, h, format);
    Original = std::make_unique<TBitmap>();
    Original->Assign(*AddIn.FSourceBitmap);
  }
  std::unique_ptr<TBitmap> Run(double wr, double hr) {
    H = V = -1;
    return AddIn.PrescalePicture(H, V, wr, hr);
  }

  TPUBAddIn AddIn;
  std::unique_ptr<TBitmap> Original;
  double H = -1, V = -1;
};

TEST_F(Prescale, SizesAndFactorsOfAn800By600Picture) {
  struct TRow {
    double WidthRatio, HeightRatio;
    bool On;
    int32_t W, H;  // pre-scaled
    double HFactor, VFactor;
    int32_t CarveW, CarveH;
  };
  const TRow rows[] = {
      {0.5, 0.75, true, 600, 450, 0.5 / 0.75, 1.0, 400, 450},
      {1.5, 1.2, true, 960, 720, 1.25, 1.0, 1200, 720},
      {0.6, 0.6, true, 480, 360, 1.0, 1.0, 480, 360},
      {1.2, 0.8, true, 800, 600, 1.2, 0.8, 960, 480},
      {1.0, 0.8, true, 800, 600, 1.0, 0.8, 800, 480},
      {0.5, 0.75, false, 800, 600, 0.5, 0.75, 400, 450},
      // The width ratio nearer to 1: the carve changes the height.
      {0.9, 0.5, true, 720, 540, 1.0, 0.5 / 0.9, 720, 300},
      {1.2, 1.5, true, 960, 720, 1.0, 1.25, 960, 900},
      // Equal ratios above 1; exactly 1 with the other above; off with both above.
      {1.5, 1.5, true, 1200, 900, 1.0, 1.0, 1200, 900},
      {1.0, 1.3, true, 800, 600, 1.0, 1.3, 800, 780},
      {1.5, 1.2, false, 800, 600, 1.5, 1.2, 1200, 720},
  };
  for (const TRow& r : rows) {
    SCOPED_TRACE(::testing::Message() << r.WidthRatio << " x " << r.HeightRatio << (r.On ? " on" : " off"));
    Source(800, 600);
    AddIn.FScaleBeforeCarving = r.On;
    std::unique_ptr<TBitmap> b = Run(r.WidthRatio, r.HeightRatio);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->Width(), r.W);
    EXPECT_EQ(b->Height(), r.H);
    EXPECT_EQ(b->PixelFormat(), pf24bit);
    EXPECT_DOUBLE_EQ(H, r.HFactor);
    EXPECT_DOUBLE_EQ(V, r.VFactor);
    EXPECT_EQ(ScaledSide(b->Width(), H), r.CarveW);
    EXPECT_EQ(ScaledSide(b->Height(), V), r.CarveH);
    if (r.W == 800) {
      // Not pre-scaled: the factors are the ratios themselves, and the copy is 1:1.
      EXPECT_EQ(H, r.WidthRatio);
      EXPECT_EQ(V, r.HeightRatio);
      EXPECT_TRUE(SamePixels(*b, *Original));
    }
  }
}

TEST_F(Prescale, ResamplesWithTheChosenQualityAndConvertsTheSourceForGoodAndHigh) {
  struct TRow {
    int32_t Quality;
    TPixelFormat SourceAfter;
  };
  std::vector<std::unique_ptr<TBitmap>> outputs;
  for (const TRow& r : {TRow{0, pf32bit}, TRow{1, pf24bit}, TRow{2, pf24bit}}) {
    SCOPED_TRACE(r.Quality);
    Source(64, 48);
    AddIn.FSamplingQuality = r.Quality;
    std::unique_ptr<TBitmap> b = Run(0.75, 0.75);
    EXPECT_EQ(AddIn.FSourceBitmap->PixelFormat(), r.SourceAfter);
    // What that method makes of the untouched source at the same size.
    TBitmap expected;
    expected.SetSize(48, 36);
    expected.SetPixelFormat(pf24bit);
    Resample(*Original, expected, static_cast<TResampleMethod>(r.Quality));
    EXPECT_EQ(b->PixelFormat(), pf24bit);
    EXPECT_TRUE(SamePixels(*b, expected));
    outputs.push_back(std::move(b));
  }
  // The three methods give different pictures, so the comparison above tells them apart.
  EXPECT_FALSE(SamePixels(*outputs[0], *outputs[1]));
  EXPECT_FALSE(SamePixels(*outputs[0], *outputs[2]));
  EXPECT_FALSE(SamePixels(*outputs[1], *outputs[2]));
}

TEST_F(Prescale, NoPrescalingLeavesTheSourceFormatAndCopiesEveryFormatTo24Bits) {
  for (TPixelFormat f : {pf8bit, pf16bit, pf24bit, pf32bit}) {
    SCOPED_TRACE(int(f));
    Source(37, 21, f);
    std::unique_ptr<TBitmap> b = Run(1.3, 0.7);
    EXPECT_EQ(AddIn.FSourceBitmap->PixelFormat(), f);
    EXPECT_EQ(b->PixelFormat(), pf24bit);
    EXPECT_TRUE(SamePixels(*b, *Original));
  }
}

TEST_F(Prescale, PrescaledSidesRoundHalvesToEven) {
  Source(801, 803);
  AddIn.FSamplingQuality = 1;
  std::unique_ptr<TBitmap> b = Run(0.5, 0.5);
  EXPECT_EQ(b->Width(), 400);   // 400.5
  EXPECT_EQ(b->Height(), 402);  // 401.5
  EXPECT_EQ(H, 1.0);
  EXPECT_EQ(V, 1.0);
}

// A side that would round to no pixels: the picture is carved from its
// original size instead.
TEST_F(Prescale, TooSmallToPrescaleIsCarvedFromTheOriginal) {
  struct TRow {
    int32_t W, H;
    double Ratio1, Ratio2;
    int32_t OutW, OutH;
    bool Prescaled;
  };
  const TRow rows[] = {
      {1, 40, 0.4, 0.4, 1, 40, false},  // 0.4 rounds to 0
      {2, 40, 0.25, 0.25, 2, 40, false},  // 0.5 rounds to even: 0
      {40, 1, 0.4, 0.3, 40, 1, false},  // s = 0.4, the height goes
      {3, 40, 0.25, 0.25, 1, 10, true},  // 0.75 rounds to 1: still one pixel
  };
  for (const TRow& r : rows) {
    SCOPED_TRACE(::testing::Message() << r.W << " x " << r.H << " at " << r.Ratio1 << ", " << r.Ratio2);
    Source(r.W, r.H);
    std::unique_ptr<TBitmap> b = Run(r.Ratio1, r.Ratio2);
    EXPECT_EQ(b->Width(), r.OutW);
    EXPECT_EQ(b->Height(), r.OutH);
    EXPECT_EQ(b->PixelFormat(), pf24bit);
    if (r.Prescaled) {
      EXPECT_EQ(H, 1.0);
      EXPECT_EQ(V, 1.0);
    } else {
      EXPECT_EQ(H, r.Ratio1);
      EXPECT_EQ(V, r.Ratio2);
      EXPECT_TRUE(SamePixels(*b, *Original));
      EXPECT_EQ(AddIn.FSourceBitmap->PixelFormat(), pf32bit);  // not resampled
    }
  }
}

TEST_F(Prescale, SourceWithoutPixelsGivesAnEmpty24BitCopy) {
  for (int32_t quality : {0, 1, 2})
    for (bool on : {true, false}) {
      SCOPED_TRACE(::testing::Message() << "quality " << quality << (on ? " on" : " off"));
      Source(0, 0);
      AddIn.FSamplingQuality = quality;
      AddIn.FScaleBeforeCarving = on;
      std::unique_ptr<TBitmap> b;
      ASSERT_NO_THROW(b = Run(0.5, 0.5));
      EXPECT_EQ(b->Width(), 0);
      EXPECT_EQ(b->Height(), 0);
      EXPECT_EQ(b->PixelFormat(), pf24bit);
      EXPECT_EQ(H, 0.5);
      EXPECT_EQ(V, 0.5);
    }
  AddIn.FSourceBitmap.reset();
  EXPECT_THROW(Run(0.5, 0.5), Exception);
}

TEST(ScaledSide, RoundsTheExtendedProductHalvesToEven) {
  struct TRow {
    int32_t Side;
    double Factor;
    int32_t Expected;
  };
  const TRow rows[] = {
      {201, 0.5, 100}, {203, 0.5, 102}, {67, 1.5, 100}, {801, 0.5, 400}, {803, 0.5, 402},
      {600, 0.5 / 0.75, 400}, {7, 0.0, 0}, {3, 5.0 / 6.0, 3},
      // 0.925 is slightly above 37/40 as a double: the exact product is just
      // above 92.5, which a double product would round to 92.5 exactly.
      {100, 0.925, 93},
  };
  for (const TRow& r : rows) EXPECT_EQ(ScaledSide(r.Side, r.Factor), r.Expected) << r.Side << " x " << r.Factor;
  // The last case is one where double arithmetic gives the other answer.
  volatile double side = 100, factor = 0.925;
  const double product = side * factor;
  EXPECT_EQ(product, 92.5);
  EXPECT_EQ(RoundHalfEven(product), 92);
}

// A host may run the x87 unit at 53 bits; the sizes are still taken in
// extended precision, and the host's setting is given back.
TEST(ScaledSide, ExtendedUnderAHostsDoublePrecision) {
  const int saved = os::X87Precision();
  os::SetX87Precision(2);
  const int32_t side = ScaledSide(100, 0.925);
  const int after = os::X87Precision();
  os::SetX87Precision(saved);
  EXPECT_EQ(side, 93);
  EXPECT_EQ(after, 2);
}

}  // namespace
