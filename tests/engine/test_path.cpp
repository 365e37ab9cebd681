// The cost map, its two lock-step workers with the window around the previous
// seam, and the trace.
#include <gtest/gtest.h>

#include <string>

#include "engine/GEM.h"
#include "tests/support/Fixtures.h"

namespace {

int32_t W32(int64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(v)); }

// The cost rule, written out plainly.
int32_t RefCost(const GML_Int& E, const GML_Int& S, const GML_Int& M, int32_t x, int32_t y, bool forward) {
  const int32_t w = M.Width;
  auto U = [&](int32_t c) { return M.Get(c, y - 1); };
  auto e = [&](int32_t c, int32_t r) { return E.GetClamped(c, r); };
  if (w == 1) return W32(int64_t(U(0)) + E.Get(0, y) + S.Get(0, y));
  if (x == 0) return W32(int64_t(std::min(U(0), U(1))) + E.Get(0, y) + S.Get(0, y));
  if (x == w - 1) return W32(int64_t(std::min(U(x), U(x - 1))) + E.Get(x, y) + S.Get(x, y));
  if (!forward) {
    return W32(int64_t(std::min({U(x - 1), U(x), U(x + 1)})) + E.Get(x, y) + S.Get(x, y));
  }
  int32_t cu = std::abs(e(x + 1, y) - e(x - 1, y));
  int32_t cl = cu + std::abs(e(x, y - 1) - e(x - 1, y));
  int32_t cr = cu + std::abs(e(x, y - 1) - e(x + 1, y));
  int32_t best = std::min({W32(int64_t(U(x - 1)) + cl), W32(int64_t(U(x)) + cu), W32(int64_t(U(x + 1)) + cr)});
  return W32(int64_t(best) + S.Get(x, y));
}

// Both workers of the cost map run one after the other, row by row: one of
// the schedules the threads may take, and all of them give this result.
void RefEnergyPath(const GML_Int& E, const GML_Int& S, GML_Int& M, bool forward, const PAPixel* prev) {
  const int32_t w = M.Width, h = M.Height;
  struct Worker {
    int32_t F, L, lo, hi;
    bool seam;
  };
  Worker ws[2] = {{0, w / 2, 0, w / 2, prev != nullptr}, {w / 2 + 1, w - 1, w / 2 + 1, w - 1, false}};
  if (prev) {
    ws[0].lo = std::max(ws[0].F, (*prev)[0].x - 3);
    ws[0].hi = std::min(ws[0].L, (*prev)[0].x + 2);
  }
  for (auto& k : ws)
    for (int32_t x = k.lo; x <= k.hi; ++x) M.Set(x, 0, W32(int64_t(E.Get(x, 0)) + S.Get(x, 0)));
  for (int32_t y = 1; y < h; ++y)
    for (auto& k : ws) {
      k.lo = std::max(k.F, k.lo - 1);
      k.hi = std::min(k.L, k.hi + 1);
      const int32_t lo0 = k.lo, hi0 = k.hi;
      for (int32_t x = lo0; x <= hi0; ++x) {
        int32_t g = RefCost(E, S, M, x, y, forward);
        if (k.seam && g == M.Get(x, y)) {
          if (x == lo0 && lo0 + 3 < (*prev)[y].x) k.lo = k.lo + 1;
          if (x == hi0 && (*prev)[y].x < hi0 - 2) k.hi = k.hi - 1;
        } else {
          M.Set(x, y, g);
        }
      }
    }
}

TEST(CostMap, SmallExampleWithoutForwardEnergy) {
  GML_Int E(3, 2), S(3, 2), M(3, 2);
  const int32_t row0[] = {1, 2, 3}, row1[] = {4, 1, 5};
  for (int x = 0; x < 3; ++x) {
    E.Set(x, 0, row0[x]);
    E.Set(x, 1, row1[x]);
  }
  PAPixel seam(2);
  TGEM gem;
  EXPECT_EQ(gem.Find_Path(E, S, M, seam, false, true), 2);
  EXPECT_EQ(M.Get(0, 1), 5);
  EXPECT_EQ(M.Get(1, 1), 2);
  EXPECT_EQ(M.Get(2, 1), 7);
  EXPECT_EQ(seam[1].x, 1);
  EXPECT_EQ(seam[0].x, 0);
  EXPECT_EQ(seam[0].y, 0);
  EXPECT_EQ(seam[1].y, 1);
}

TEST(CostMap, TraceTieBreaks) {
  // Row 0 is the row above the trace's start in row 1 at column 2.
  struct Case {
    int32_t above[5];
    int32_t expected;
  } cases[] = {
      {{9, 4, 4, 4, 9}, 2},  // three equal: straight up
      {{9, 3, 5, 3, 9}, 1},  // left and right equal and lower: left
      {{9, 5, 5, 3, 9}, 3},  // only the right is lower
  };
  for (const Case& c : cases) {
    GML_Int M(5, 2);
    for (int x = 0; x < 5; ++x) {
      M.Set(x, 0, c.above[x]);
      M.Set(x, 1, 100);
    }
    PAPixel seam(2);
    TGEM::Trace_Path(M, 2, seam);
    EXPECT_EQ(seam[1].x, 2);
    EXPECT_EQ(seam[0].x, c.expected);
  }
}

TEST(CostMap, LeftmostMinimumOfTheBottomRowWins) {
  GML_Int E(10, 1), S(10, 1), M(10, 1);
  for (int x = 0; x < 10; ++x) E.Set(x, 0, 9);
  E.Set(2, 0, 5);
  E.Set(7, 0, 5);
  PAPixel seam(1);
  TGEM gem;
  EXPECT_EQ(gem.Find_Path(E, S, M, seam, true, true), 5);
  EXPECT_EQ(seam[0].x, 2);
}

TEST(CostMap, NarrowMatricesTakeCostsFromTheirOwnColumns) {
  TGEM gem;
  for (int32_t w : {1, 2, 3}) {
    GML_Int E = MakeRandomInt(w, 6, 0, 50, 10 + w), S = MakeRandomInt(w, 6, 0, 5, 20 + w);
    GML_Int M(w, 6), R(w, 6);
    PAPixel seam(6);
    gem.Find_Path(E, S, M, seam, true, true);
    RefEnergyPath(E, S, R, true, nullptr);
    EXPECT_TRUE(SameContent(M, R)) << "width " << w;
    if (w == 1) {
      int32_t sum = 0;
      for (int y = 0; y < 6; ++y) sum += E.Get(0, y) + S.Get(0, y);
      EXPECT_EQ(M.Get(0, 5), sum);
    }
  }
}

// The threaded cost map, vectorised loops and window included, gives what
// the rules give, seam after seam, while the picture narrows or widens.
TEST(CostMap, MatchesTheRulesOverSuccessiveSeams) {
  struct Case {
    int32_t w, h;
    bool forward;
    bool widen;
  } cases[] = {{40, 30, true, false}, {41, 17, false, false}, {64, 9, true, true},
               {7, 12, true, false},  {9, 5, false, true},    {3, 8, true, false}};
  TGEM gem;
  bool windowKeptOldValues = false;
  for (const Case& c : cases) {
    GML_Int E = MakeRandomInt(c.w, c.h, 0, 1530, 3), S = MakeRandomInt(c.w, c.h, -40, 40, 4);
    GML_Int M(c.w, c.h), R(c.w, c.h);
    PAPixel seam(c.h), refSeam(c.h);
    for (int k = 0; k < 6 && E.Width > 1; ++k) {
      gem.Find_Path(E, S, M, seam, c.forward, k == 0);
      RefEnergyPath(E, S, R, c.forward, k == 0 ? nullptr : &refSeam);
      ASSERT_TRUE(SameContent(M, R)) << c.w << "x" << c.h << " seam " << k;
      GML_Int full(E.Width, E.Height);
      RefEnergyPath(E, S, full, c.forward, nullptr);
      windowKeptOldValues = windowKeptOldValues || !SameContent(M, full);
      refSeam = seam;
      // Change the energy near the seam and move the columns, as a removal or
      // an insertion does, so that the window has something to find.
      for (int32_t y = 0; y < c.h; ++y) {
        const int32_t x = seam[y].x;
        for (GML_Int* m : {&E, &S, &M, &R}) {
          if (c.widen)
            m->ShiftRow(x, y, +1);
          else
            m->ShiftRow(x + 1, y, -1);
        }
      }
      const int32_t nw = E.Width + (c.widen ? 1 : -1);
      for (GML_Int* m : {&E, &S}) m->SetWidth(nw);
      // A repair of the energy on both sides of the seam; the one two columns
      // to the right reaches past the window through the forward-energy terms.
      for (int32_t y = 0; y < c.h; ++y)
        for (int32_t x : {seam[y].x - 1, seam[y].x + 2})
          if (x >= 0 && x < nw) E.Set(x, y, (E.Get(x, y) * 7 + 13) % 1531);
      if (c.widen) {
        M.SetWidth(nw);
        R.SetWidth(nw);
      } else {
        R.SetWidth(nw);
      }
    }
  }
  // Otherwise the window would not have been put to the test.
  EXPECT_TRUE(windowKeptOldValues);
}

// A width pass's matrices, for running the per-seam steps by hand.
struct TSeamPass {
  GML_Color Pic;
  GML_Int W, P, S, E, M;
  GML_Gray G;
  PAPixel Seam;
  TSeamPass(const GML_Color& pic, const GML_Int& weights, int32_t cap, uint8_t f)
      : Pic(0, 0), W(0, 0), P(pic.Width, pic.Height), S(pic.Width, pic.Height), E(pic.Width, pic.Height),
        M(pic.Width, pic.Height), G(pic.Width, pic.Height), Seam(static_cast<size_t>(pic.Height)) {
    Pic.Assign(pic);
    W.Assign(weights);
    TGEM gem;
    gem.Grayscale_Image(Pic, G);
    gem.Edge_Detect(G, E, f);
    Pic.Reserve(cap, pic.Height);
    TGEM::Copy_Image(pic, Pic);
    for (GML_Int* m : {&E, &W}) TGEM::Reserve_Weights(*m, cap);
    G.SetWidth(cap);
    G.SetWidth(pic.Width);
    for (GML_Int* m : {&P, &S, &M}) {
      m->Reserve(cap, pic.Height);
      m->Fill(0);
    }
  }
};

// From the second seam on, the sums W + P are carried and repaired at the
// inserted seam, and the cost map's right half is repaired instead of
// recomputed: seam after seam that gives the very sums, cost map and seam
// that the whole computation gives, for seams on either side of the split.
TEST(CostMap, RepairedMapAndSumsEqualTheWholeOnes) {
  struct Case {
    int32_t w, h;
    bool forward, widen;
    int32_t protectFrom, protectTo;  // columns whose weight steers the seams elsewhere
    uint8_t filter;
  } cases[] = {
      {40, 24, true, true, 0, 22, FILTER_PREWITT},     // seams right of the split
      {40, 24, true, false, 0, 22, FILTER_SOBEL},      // seams right of the split
      {41, 19, false, true, 18, 41, FILTER_V_SQUARE},  // seams left of the split
      {41, 19, true, false, 18, 41, FILTER_LAPLACIAN}, // seams left of the split
      {33, 20, true, true, 0, 0, FILTER_V1},           // seams wherever they go
      {9, 7, true, false, 0, 0, FILTER_PREWITT},       // narrow: the seam's columns cover the half
      {12, 1, true, true, 0, 0, FILTER_PREWITT},       // one row
  };
  TGEM gem;
  for (const Case& c : cases) {
    GML_Color pic = MakePicture(c.w, c.h, 13);
    GML_Int weights = MakeRandomInt(c.w, c.h, -30, 30, 14);
    for (int32_t y = 0; y < c.h; ++y)
      for (int32_t x = c.protectFrom; x < c.protectTo; ++x) weights.Set(x, y, 100000);
    const int seams = c.widen ? 10 : 6;
    TSeamPass carried(pic, weights, c.w + seams, c.filter), whole(pic, weights, c.w + seams, c.filter);
    bool exact = false;
    for (int k = 0; k < seams; ++k) {
      const std::string at = std::to_string(c.w) + "x" + std::to_string(c.h) + " seam " + std::to_string(k);
      const GML_Int* s = &carried.W;
      if (c.widen) {
        gem.Add_Weights(carried.W, carried.P, carried.S, k == 0 ? nullptr : &carried.Seam);
        gem.Add_Weights(whole.W, whole.P, whole.S);
        ASSERT_TRUE(SameContent(carried.S, whole.S)) << at;
        s = &carried.S;
      }
      gem.Find_Path(carried.E, *s, carried.M, carried.Seam, c.forward, k == 0, &exact);
      EXPECT_TRUE(exact) << at;  // both workers ran, so the next search may repair
      gem.Find_Path(whole.E, c.widen ? whole.S : whole.W, whole.M, whole.Seam, c.forward, k == 0);
      ASSERT_TRUE(SameContent(carried.M, whole.M)) << at;
      for (int32_t y = 0; y < c.h; ++y) ASSERT_EQ(carried.Seam[y].x, whole.Seam[y].x) << at;
      for (TSeamPass* p : {&carried, &whole}) {
        if (c.widen)
          gem.Add_Path(p->Pic, p->Seam, p->W, p->E, p->G, p->P, p->M, 400, c.filter);
        else
          gem.Remove_Path(p->Pic, p->Seam, p->W, p->E, p->G, p->M, c.filter);
        // The outermost columns that the step repairs could have changed as
        // much as any: make them change.
        for (int32_t y = 0; y < c.h; ++y)
          for (int32_t x : {p->Seam[y].x - 3, p->Seam[y].x + (c.widen ? 3 : 2)})
            if (x >= 0 && x < p->E.Width) p->E.Set(x, y, p->E.Get(x, y) + 57);
      }
    }
  }
}

TEST(CostMap, SumsWrapAroundInsteadOfSaturating) {
  GML_Int E(2, 2), S(2, 2), M(2, 2);
  S.Set(0, 0, 2147483647);
  S.Set(1, 0, 2147483647);
  S.Set(0, 1, 1);
  S.Set(1, 1, 1);
  PAPixel seam(2);
  TGEM gem;
  gem.Find_Path(E, S, M, seam, true, true);
  EXPECT_EQ(M.Get(0, 1), static_cast<int32_t>(0x80000000u));
}

}  // namespace
