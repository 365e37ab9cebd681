// Image matrices: logical size inside a capacity, row shifts, transposition.
#include <gtest/gtest.h>

#include "engine/GML_type.h"

namespace {

GML_Int Numbered(int32_t w, int32_t h) {
  GML_Int m(w, h);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) m.Set(x, y, 10 * y + x);
  return m;
}

std::vector<int32_t> RowOf(const GML_Int& m, int32_t y) { return {m.Row(y), m.Row(y) + m.Width}; }

TEST(Matrix, ShiftRowOpensAndClosesColumns) {
  struct Case {
    int32_t x, n;
    std::vector<int32_t> row;
  } cases[] = {
      {2, +1, {0, 1, 2, 2, 3}},  // element 2 now at 2 and 3; the last one is overwritten
      {4, +1, {0, 1, 2, 3, 4}},  // at the last column nothing moves
      {0, +1, {0, 0, 1, 2, 3}},
      {3, -1, {0, 1, 3, 4, 4}},  // closes column 2; the last element stays
      {5, -1, {0, 1, 2, 3, 4}},  // at Width: nothing
      {0, -1, {0, 1, 2, 3, 4}},  // at 0: the row stays as it was
      {1, -1, {1, 2, 3, 4, 4}},
  };
  for (const Case& c : cases) {
    GML_Int m = Numbered(5, 2);
    m.ShiftRow(c.x, 0, c.n);
    EXPECT_EQ(RowOf(m, 0), c.row) << "x " << c.x << " n " << c.n;
    EXPECT_EQ(RowOf(m, 1), (std::vector<int32_t>{10, 11, 12, 13, 14}));
    EXPECT_EQ(m.Width, 5);
  }
}

TEST(Matrix, GetClampedReplicatesTheBorder) {
  GML_Int m = Numbered(4, 3);
  EXPECT_EQ(m.GetClamped(-5, -5), m.Get(0, 0));
  EXPECT_EQ(m.GetClamped(m.Width + 3, m.Height), m.Get(3, 2));
  EXPECT_EQ(m.GetClamped(2, 7), m.Get(2, 2));
  GML_Int empty(0, 0);
  EXPECT_EQ(empty.GetClamped(0, 0), 0);
}

TEST(Matrix, AssignCopiesTheLogicalSizeOnly) {
  GML_Int src = Numbered(6, 2);
  src.SetWidth(4);
  GML_Int dst(1, 1);
  dst.Assign(src);
  EXPECT_EQ(dst.Width, 4);
  EXPECT_EQ(dst.CapWidth, 4);
  EXPECT_EQ(dst.Height, 2);
  EXPECT_EQ(dst.CapHeight, 2);
  EXPECT_EQ(RowOf(dst, 1), (std::vector<int32_t>{10, 11, 12, 13}));
}

TEST(Matrix, TransposeSwapsRowsAndColumns) {
  GML_Int src = Numbered(3, 2);
  GML_Int t(0, 0);
  t.Transpose(src);
  EXPECT_EQ(t.Width, 2);
  EXPECT_EQ(t.Height, 3);
  EXPECT_EQ(t.Get(1, 2), src.Get(2, 1));
  // Larger than one tile of the blocked copy, with ragged edges.
  GML_Color big(70, 45);
  for (int32_t y = 0; y < 45; ++y)
    for (int32_t x = 0; x < 70; ++x) big.Set(x, y, uint32_t(x * 1000 + y));
  GML_Color bt(0, 0);
  bt.Transpose(big);
  for (int32_t y = 0; y < 45; ++y)
    for (int32_t x = 0; x < 70; ++x) ASSERT_EQ(bt.Get(y, x), big.Get(x, y));
}

TEST(Matrix, WidthMovesInsideTheCapacity) {
  GML_Int m = Numbered(10, 2);
  m.SetWidth(8);
  m.SetWidth(10);
  EXPECT_EQ(m.Get(8, 1), 18);  // the old values come back
  EXPECT_EQ(m.Get(9, 0), 9);
  EXPECT_EQ(m.CapWidth, 10);
  m.SetWidth(13);  // past the capacity: content kept, new columns zero
  EXPECT_EQ(m.CapWidth, 13);
  EXPECT_EQ(RowOf(m, 1), (std::vector<int32_t>{10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 0, 0, 0}));
}

TEST(Matrix, ReserveKeepsTheSizeAndClearsTheContent) {
  GML_Int m = Numbered(4, 3);
  m.Reserve(9, 3);
  EXPECT_EQ(m.Width, 4);
  EXPECT_EQ(m.CapWidth, 9);
  for (int32_t y = 0; y < 3; ++y) EXPECT_EQ(RowOf(m, y), (std::vector<int32_t>{0, 0, 0, 0}));
  m.Fill(-7);
  m.SetWidth(9);
  EXPECT_EQ(m.Get(3, 2), -7);
  EXPECT_EQ(m.Get(4, 2), 0);  // Fill stays inside the logical size
}

}  // namespace
