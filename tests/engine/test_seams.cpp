// Taking a seam out and putting one in: the picture, the weights, the grey
// image, the penalties and the edge map move and are repaired together.
#include <gtest/gtest.h>

#include "engine/GEM.h"
#include "tests/support/Fixtures.h"

namespace {

TEST(Seams, AverageColorHalvesEveryByte) {
  EXPECT_EQ(Average_Color(MakePixel(10, 20, 31, 1), MakePixel(11, 21, 30, 1)), MakePixel(10, 20, 30, 1));
  EXPECT_EQ(Average_Color(MakePixel(255, 255, 255, 255), MakePixel(255, 254, 0, 1)), MakePixel(255, 254, 127, 128));
}

struct TPass {
  GML_Color Pic;
  GML_Int W, E, M, P;
  GML_Gray G;
  TPass(const GML_Color& pic, uint8_t f) : Pic(0, 0), W(pic.Width, pic.Height), E(pic.Width, pic.Height),
                                           M(pic.Width, pic.Height), P(pic.Width, pic.Height), G(pic.Width, pic.Height) {
    Pic.Assign(pic);
    TGEM gem;
    gem.Grayscale_Image(Pic, G);
    gem.Edge_Detect(G, E, f);
    for (int32_t y = 0; y < pic.Height; ++y)
      for (int32_t x = 0; x < pic.Width; ++x) M.Set(x, y, 1000 * y + x);
  }
};

// One row per case: seam at column 0, 1, the last column, the middle with a
// weight that protects, the middle with a weight that marks for removal.
TEST(Seams, RemovalBlendsNeighboursAndRepairsTheMaps) {
  const int32_t w = 12, h = 12;
  const int32_t seamX[h] = {0, 1, w - 1, 6, 6, 5, 7, 6, 4, 8, 2, 3};
  GML_Color pic = MakePicture(w, h, 7);
  for (uint8_t f : {FILTER_PREWITT, FILTER_LAPLACIAN}) {
    TPass before(pic, f), after(pic, f);
    after.W.Set(6, 4, -5);
    after.W.Set(6, 3, 9);
    before.W.Assign(after.W);
    PAPixel seam(h);
    for (int32_t y = 0; y < h; ++y) seam[y] = {seamX[y], y};
    TGEM gem;
    gem.Remove_Path(after.Pic, seam, after.W, after.E, after.G, after.M, f);

    EXPECT_EQ(after.Pic.Width, w - 1);
    EXPECT_EQ(after.W.Width, w - 1);
    EXPECT_EQ(after.G.Width, w - 1);
    EXPECT_EQ(after.E.Width, w - 1);
    EXPECT_EQ(after.M.Width, w);  // left to the next search
    for (int32_t y = 0; y < h; ++y) {
      const int32_t x = seamX[y];
      const bool blend = before.W.Get(x, y) >= 0;
      for (int32_t c = 0; c < w - 1; ++c) {
        const int32_t old = c < x ? c : c + 1;
        GML_RGBA expect = before.Pic.Get(old, y);
        if (blend && ((old == x - 1 && x >= 2) || old == x + 1)) expect = Average_Color(before.Pic.Get(x, y), expect);
        ASSERT_EQ(after.Pic.Get(c, y), expect) << "row " << y << " col " << c;
        ASSERT_EQ(after.W.Get(c, y), before.W.Get(old, y));
        ASSERT_EQ(after.M.Get(c, y), before.M.Get(old, y));
        const bool regreyed = (old == x - 1 && x >= 2) || old == x + 1;
        ASSERT_EQ(after.G.Get(c, y), regreyed ? Pixel_Gray(after.Pic.Get(c, y)) : before.G.Get(old, y));
      }
      // E: recomputed on three columns each side of the seam, shifted elsewhere.
      for (int32_t c = 0; c < w - 1; ++c) {
        const bool repaired = (c >= x - 3 && c < x) || (c >= x && c <= x + 2 && c + 1 < w - 1);
        const int32_t expect = repaired ? Edge_Value(after.G, c, y, f, false) : before.E.Get(c < x ? c : c + 1, y);
        ASSERT_EQ(after.E.Get(c, y), expect) << "row " << y << " col " << c << " filter " << int(f);
      }
    }
    // Column 0 of the seam-at-1 row is neither blended nor re-greyed.
    EXPECT_EQ(after.Pic.Get(0, 1), before.Pic.Get(0, 1));
    // A marked pixel leaves both neighbours as they were.
    EXPECT_EQ(after.Pic.Get(5, 4), before.Pic.Get(5, 4));
    EXPECT_EQ(after.Pic.Get(6, 4), before.Pic.Get(7, 4));
  }
}

TEST(Seams, InsertionPutsTheNewPixelLeftOfTheSeam) {
  const int32_t w = 10, h = 10;
  const int32_t seamX[h] = {0, 1, w - 1, 5, 4, 3, 6, 2, 7, 8};
  GML_Color pic = MakePicture(w, h, 9);
  const uint8_t f = FILTER_SOBEL;
  TPass before(pic, f), after(pic, f);
  after.W.Set(4, 3, -3);  // left of the seam in row 3
  after.W.Set(5, 3, 0);
  after.W.Set(0, 0, 77);
  after.P.Set(5, 3, 400);
  before.W.Assign(after.W);
  before.P.Assign(after.P);
  for (GML_Int* m : {&after.W, &after.P, &after.E, &after.M}) TGEM::Reserve_Weights(*m, w + 1);
  PAPixel seam(h);
  for (int32_t y = 0; y < h; ++y) seam[y] = {seamX[y], y};
  TGEM gem;
  gem.Add_Path(after.Pic, seam, after.W, after.E, after.G, after.P, after.M, 400, f);

  for (const auto* width : {&after.Pic.Width, &after.W.Width, &after.E.Width, &after.P.Width, &after.M.Width})
    EXPECT_EQ(*width, w + 1);
  EXPECT_EQ(after.G.Width, w + 1);
  for (int32_t y = 0; y < h; ++y) {
    const int32_t x = seamX[y], xl = x > 0 ? x - 1 : 0;
    for (int32_t c = 0; c <= w; ++c) {
      const int32_t old = c <= x ? c : c - 1;
      GML_RGBA expectPic = c == x ? Average_Color(before.Pic.Get(x, y), before.Pic.Get(xl, y)) : before.Pic.Get(old, y);
      ASSERT_EQ(after.Pic.Get(c, y), expectPic) << y << "," << c;
      int32_t expectW = c == x ? (before.W.Get(x, y) + before.W.Get(xl, y)) / 2 : before.W.Get(old, y);
      ASSERT_EQ(after.W.Get(c, y), expectW);
      int32_t expectP = c == x ? 400 : (c == x + 1 ? before.P.Get(x, y) + 400 : before.P.Get(old, y));
      ASSERT_EQ(after.P.Get(c, y), expectP);
      ASSERT_EQ(after.M.Get(c, y), before.M.Get(old, y));
      ASSERT_EQ(after.G.Get(c, y), c == x ? Pixel_Gray(after.Pic.Get(c, y)) : before.G.Get(old, y));
      const bool repaired = c >= x - 3 && c <= x + 3;
      ASSERT_EQ(after.E.Get(c, y), repaired ? Edge_Value(after.G, c, y, f, false) : before.E.Get(old, y))
          << y << "," << c;
    }
  }
  EXPECT_EQ(after.Pic.Get(0, 0), before.Pic.Get(0, 0));  // at column 0 the new pixel is the seam pixel
  EXPECT_EQ(after.W.Get(0, 0), 77);
  EXPECT_EQ(after.W.Get(5, 3), -1);
  EXPECT_EQ(after.P.Get(5, 3), 400);
  EXPECT_EQ(after.P.Get(6, 3), 800);
}

TEST(Seams, AddWeightsSumsWeightsAndPenalties) {
  GML_Int W = MakeRandomInt(7, 3, -100, 100, 1), P = MakeRandomInt(7, 3, 0, 800, 2), S(5, 3);
  W.Set(0, 0, 2147483647);
  P.Set(0, 0, 1);
  S.Reserve(7, 3);
  TGEM gem;
  gem.Add_Weights(W, P, S);
  EXPECT_EQ(S.Width, 7);
  for (int32_t y = 0; y < 3; ++y)
    for (int32_t x = 0; x < 7; ++x) {
      if (x || y) {
        ASSERT_EQ(S.Get(x, y), W.Get(x, y) + P.Get(x, y));
      }
    }
  EXPECT_EQ(S.Get(0, 0), static_cast<int32_t>(0x80000000u));
}

}  // namespace
