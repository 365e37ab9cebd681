// Grey levels and the five edge filters, and the banded passes over a picture.
#include <gtest/gtest.h>

#include "engine/GEM.h"
#include "tests/support/Fixtures.h"

namespace {

TEST(Gray, WeightsTheChannelsAndDropsTheRemainder) {
  EXPECT_EQ(Pixel_Gray(MakePixel(255, 255, 255, 1)), 255);
  EXPECT_EQ(Pixel_Gray(MakePixel(255, 0, 0, 0)), 76);
  EXPECT_EQ(Pixel_Gray(MakePixel(0, 255, 0, 0)), 149);
  EXPECT_EQ(Pixel_Gray(MakePixel(0, 0, 255, 0)), 29);
  EXPECT_EQ(Pixel_Gray(MakePixel(0, 0, 0, 255)), 0);  // the fourth byte is ignored
  EXPECT_EQ(Pixel_Gray(MakePixel(10, 20, 30, 0)), (299 * 10 + 587 * 20 + 114 * 30) / 1000);
}

TEST(Edges, StepResponsesOfEachFilter) {
  // Grey 0 up to column 4, 255 from column 5 on.
  GML_Gray vertical(10, 6), horizontal(6, 10);
  for (int32_t y = 0; y < 10; ++y)
    for (int32_t x = 0; x < 10; ++x) {
      if (y < 6) vertical.Set(x, y, x >= 5 ? 255 : 0);
      if (x < 6) horizontal.Set(x, y, y >= 5 ? 255 : 0);
    }
  struct Case {
    uint8_t filter;
    int32_t vertical;
    int32_t horizontal;
  } cases[] = {{FILTER_PREWITT, 765, 765}, {FILTER_V1, 765, 0},         {FILTER_V_SQUARE, 765 * 765, 0},
               {FILTER_SOBEL, 1020, 1020}, {FILTER_LAPLACIAN, 255, 255}, {5, 0, 0}};
  for (const Case& c : cases)
    for (bool fast : {false, true}) {
      EXPECT_EQ(Edge_Value(vertical, 4, 3, c.filter, fast), c.vertical) << int(c.filter);
      EXPECT_EQ(Edge_Value(vertical, 5, 3, c.filter, fast), c.vertical) << int(c.filter);
      EXPECT_EQ(Edge_Value(vertical, 2, 3, c.filter, fast), 0);
      EXPECT_EQ(Edge_Value(horizontal, 3, 4, c.filter, fast), c.horizontal) << int(c.filter);
    }
}

// The banded passes give what the per-pixel rule gives with the border
// replicated, for heights whose bands are empty or uneven and for narrow widths.
TEST(Edges, BandedPassesMatchThePerPixelRule) {
  TGEM gem;
  for (int32_t h : {1, 2, 3, 4, 6, 7, 10, 13})
    for (int32_t w : {1, 2, 5, 17})
      for (uint8_t f = 0; f <= 5; ++f) {
        GML_Color pic = MakePicture(w, h, uint32_t(h * 31 + w));
        GML_Gray G(w, h);
        GML_Int E(w, h);
        E.Fill(-1);
        gem.Grayscale_Image(pic, G);
        gem.Edge_Detect(G, E, f);
        for (int32_t y = 0; y < h; ++y)
          for (int32_t x = 0; x < w; ++x) {
            ASSERT_EQ(G.Get(x, y), Pixel_Gray(pic.Get(x, y)));
            ASSERT_EQ(E.Get(x, y), Edge_Value(G, x, y, f, false)) << w << "x" << h << " f" << int(f);
          }
      }
}

TEST(Edges, OneColourGivesNoEnergy) {
  TGEM gem;
  GML_Color pic(9, 8);
  for (int32_t y = 0; y < 8; ++y)
    for (int32_t x = 0; x < 9; ++x) pic.Set(x, y, MakePixel(90, 140, 20, 1));
  GML_Gray G(9, 8);
  GML_Int E(9, 8);
  gem.Grayscale_Image(pic, G);
  for (uint8_t f = 0; f < 5; ++f) {
    E.Fill(-1);
    gem.Edge_Detect(G, E, f);
    for (int32_t y = 0; y < 8; ++y)
      for (int32_t x = 0; x < 9; ++x) ASSERT_EQ(E.Get(x, y), 0);
  }
}

TEST(Bands, AQuarterOfTheHeightHalvesToEven) {
  const std::pair<int32_t, int32_t> cases[] = {{1, 0}, {2, 0}, {3, 1}, {4, 1}, {5, 1}, {6, 2},
                                               {7, 2}, {10, 2}, {14, 4}, {18, 4}, {1600, 400}};
  for (auto [h, c] : cases) EXPECT_EQ(BandRows(h), c) << h;
}

}  // namespace
