// The engine's drivers: the order of passes, the masked removal and its
// iterations, and what happens to the weights.
#include <gtest/gtest.h>

#include "engine/GEM.h"
#include "tests/support/Fixtures.h"

namespace {


TEST(Driver, SameSizeWithoutMarksIsAnExactCopy) {
  GML_Color src = MakePicture(23, 17);
  GML_Int weights(23, 17), work(1, 1);
  GML_Color dest(3, 3);
  TGEM gem;
  gem.Fit_Image(src, weights, 23, 17, 400, 0, true, work, dest);
  EXPECT_TRUE(SameContent(dest, src));
  EXPECT_EQ(work.Width, 23);
}

TEST(Driver, ResultHasTheTargetSizeInEveryDirection) {
  struct Case {
    int32_t w, h;
  } cases[] = {{30, 20}, {22, 20}, {30, 13}, {41, 20}, {30, 29}, {25, 27}, {37, 15}, {1, 1}, {1, 20}, {30, 1}};
  GML_Color src = MakePicture(30, 20);
  GML_Int weights = MakeRandomInt(30, 20, -2, 2, 5);
  for (const Case& c : cases) {
    GML_Int keep(0, 0), work(0, 0);
    keep.Assign(weights);
    GML_Color dest(0, 0);
    TGEM gem;
    gem.Fit_Image(src, weights, c.w, c.h, 400, 0, true, work, dest);
    EXPECT_EQ(dest.Width, c.w);
    EXPECT_EQ(dest.Height, c.h);
    EXPECT_EQ(work.Width, c.w);
    EXPECT_EQ(work.Height, c.h);
    EXPECT_TRUE(SameContent(keep, weights));
  }
}

// The width is reduced first and the height enlarged afterwards: the same as
// running the two passes one after the other by hand.
TEST(Driver, NarrowerThenHigher) {
  GML_Color src = MakePicture(26, 14, 3);
  GML_Int weights(26, 14), work(0, 0);
  GML_Color dest(0, 0);
  TGEM gem;
  gem.Fit_Image(src, weights, 20, 19, 400, 3, true, work, dest);

  GML_Int w1(26, 14);
  GML_Color narrow(0, 0), t1(0, 0), t2(0, 0), byHand(0, 0);
  gem.Reduce_Width(src, w1, 20, 3, true, narrow);
  GML_Int tw(0, 0);
  t1.Transpose(narrow);
  tw.Transpose(w1);
  gem.Enlarge_Width(t1, tw, 19, 400, 3, true, t2);
  byHand.Transpose(t2);
  EXPECT_TRUE(SameContent(dest, byHand));
}

TEST(Driver, ProtectedRegionSurvivesNarrowing) {
  // A protected block in the middle: every removed seam goes around it.
  GML_Color src = MakePicture(40, 24, 11);
  GML_Int weights(40, 24), work(0, 0);
  for (int32_t y = 0; y < 24; ++y)
    for (int32_t x = 15; x < 25; ++x) weights.Set(x, y, 214748);
  GML_Color dest(0, 0);
  TGEM gem;
  gem.Fit_Image(src, weights, 28, 24, 400, 0, true, work, dest);
  // The block is still there, whole and unblended, somewhere in each row.
  for (int32_t y = 0; y < 24; ++y) {
    int32_t start = -1;
    for (int32_t x = 0; x + 10 <= 28 && start < 0; ++x)
      if (work.Get(x, y) == 214748 && work.Get(x + 9, y) == 214748) start = x;
    ASSERT_GE(start, 0) << "row " << y;
    for (int32_t k = 0; k < 10; ++k) ASSERT_EQ(work.Get(start + k, y), 214748);
  }
}

TEST(Driver, MaskedRemovalTakesTheMarkedColumnsFirst) {
  // Marked pixels in 3 columns and 7 rows: direction 0 removes 3 vertical seams.
  GML_Color src = MakePicture(20, 16, 4);
  GML_Int weights(20, 16);
  for (int32_t y = 4; y < 11; ++y)
    for (int32_t x = 8; x < 11; ++x) weights.Set(x, y, -214748);
  TGEM gem;
  GML_Int w1(0, 0);
  w1.Assign(weights);
  GML_Color once(0, 0);
  gem.Resize_Image(src, w1, 17, 16, 400, 0, true, once);
  int32_t marked = 0;
  for (int32_t y = 0; y < w1.Height; ++y)
    for (int32_t x = 0; x < w1.Width; ++x) marked += w1.Get(x, y) < 0;
  EXPECT_EQ(marked, 0);  // the three seams took every marked pixel with them

  GML_Int work(0, 0);
  GML_Color dest(0, 0);
  gem.Remove_Masked(src, weights, 0, 10, 400, 0, true, work, dest);
  EXPECT_EQ(dest.Width, 20);
  EXPECT_EQ(dest.Height, 16);
  EXPECT_FALSE(SameContent(dest, src));
  // The same removal, then the enlargement back, by hand.
  GML_Color back(0, 0);
  gem.Resize_Image(once, w1, 20, 16, 400, 0, true, back);
  EXPECT_TRUE(SameContent(dest, back));
}

TEST(Driver, UnknownDirectionRemovesNothing) {
  GML_Color src = MakePicture(12, 9);
  GML_Int weights(12, 9), work(0, 0);
  weights.Set(3, 3, -5);
  GML_Color dest(0, 0);
  TGEM gem;
  gem.Remove_Masked(src, weights, 5, 10, 400, 0, true, work, dest);
  EXPECT_TRUE(SameContent(dest, src));
}

TEST(Driver, MarkingEverythingStopsAtOnePixel) {
  GML_Color src = MakePicture(6, 5);
  GML_Int weights(6, 5), work(0, 0);
  weights.Fill(-1);
  GML_Color dest(0, 0);
  TGEM gem;
  gem.Remove_Masked(src, weights, 0, 10, 400, 0, true, work, dest);
  EXPECT_EQ(dest.Width, 6);
  EXPECT_EQ(dest.Height, 5);
}

TEST(Driver, NoPixelsInOrOutGivesNoPixels) {
  struct Case {
    int32_t sw, sh, w, h;
  } cases[] = {{10, 8, 0, 8}, {10, 8, 10, -3}, {0, 0, 5, 5}, {0, 7, 4, 7}};
  for (const Case& c : cases) {
    GML_Color src = MakePicture(c.sw, c.sh);
    GML_Int weights(c.sw, c.sh), work(3, 3);
    GML_Color dest(4, 4);
    TGEM gem;
    gem.Fit_Image(src, weights, c.w, c.h, 400, 0, true, work, dest);
    EXPECT_TRUE(dest.Width == 0 || dest.Height == 0);
    EXPECT_TRUE(work.Width == 0 || work.Height == 0);
  }
}

TEST(Driver, SameInputSamePixels) {
  GML_Color src = MakePicture(60, 40, 21);
  GML_Int weights = MakeRandomInt(60, 40, -1, 1, 8);
  GML_Color first(0, 0);
  for (int run = 0; run < 3; ++run) {
    GML_Int work(0, 0);
    GML_Color dest(0, 0);
    TGEM gem;
    gem.Fit_Image(src, weights, 47, 52, 400, 0, true, work, dest);
    if (run == 0)
      first.Assign(dest);
    else
      EXPECT_TRUE(SameContent(first, dest));
  }
}

}  // namespace
