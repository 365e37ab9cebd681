#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "vcl/Graphics.h"

namespace {

const TPixelFormat kAllFormats[] = {pfDevice, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit};

// Distinct in every format, none of them black.
const TColor kDistinct[] = {RGBColor(255, 0, 0),   RGBColor(0, 255, 0),   RGBColor(0, 0, 255),
                            RGBColor(255, 255, 0), RGBColor(0, 255, 255), RGBColor(255, 0, 255)};

void Make(TBitmap& bmp, TPixelFormat f, int32_t w, int32_t h) {
  bmp.SetPixelFormat(f);
  bmp.SetSize(w, h);
}

TEST(Bitmap, FormatConversionsKeepWhatTheFormatCanHold) {
  const TColor input[] = {RGBColor(0x12, 0x34, 0x56), RGBColor(0xFF, 0x80, 0x07), RGBColor(0x01, 0xFE, 0xC3)};
  struct Case {
    TPixelFormat format;
    TColor expected[3];
  };
  // 5 and 6-bit channels drop their low bits; the 3-3-2 palette takes the
  // nearest level and spreads it over 0 .. 255.
  const Case cases[] = {
      {pf32bit, {input[0], input[1], input[2]}},
      {pfDevice, {input[0], input[1], input[2]}},
      {pf15bit, {RGBColor(0x10, 0x30, 0x50), RGBColor(0xF8, 0x80, 0x00), RGBColor(0x00, 0xF8, 0xC0)}},
      {pf16bit, {RGBColor(0x10, 0x34, 0x50), RGBColor(0xF8, 0x80, 0x00), RGBColor(0x00, 0xFC, 0xC0)}},
      {pf8bit, {RGBColor(0, 36, 85), RGBColor(255, 145, 0), RGBColor(0, 255, 170)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.format));
    TBitmap bmp;
    Make(bmp, pf24bit, 3, 2);
    for (int32_t x = 0; x < 3; ++x) {
      bmp.SetPixelAt(x, 0, input[x]);
      bmp.SetPixelAt(2 - x, 1, input[x]);
    }
    bmp.SetPixelFormat(c.format);
    ASSERT_EQ(bmp.PixelFormat(), c.format);
    for (int32_t x = 0; x < 3; ++x) {
      EXPECT_EQ(bmp.PixelAt(x, 0), c.expected[x]) << x;
      EXPECT_EQ(bmp.PixelAt(2 - x, 1), c.expected[x]) << x;
    }
    // Back to 24 bits: nothing more is lost.
    bmp.SetPixelFormat(pf24bit);
    for (int32_t x = 0; x < 3; ++x) {
      EXPECT_EQ(bmp.PixelAt(x, 0), c.expected[x]) << x;
      EXPECT_EQ(bmp.PixelAt(2 - x, 1), c.expected[x]) << x;
    }
  }
}

TEST(Bitmap, SetSizeKeepsTheTopLeftAndBlackensNewPixels) {
  for (TPixelFormat f : kAllFormats) {
    SCOPED_TRACE(int(f));
    TBitmap bmp;
    Make(bmp, f, 3, 2);
    TColor kept[2][3];
    for (int32_t y = 0; y < 2; ++y)
      for (int32_t x = 0; x < 3; ++x) {
        bmp.SetPixelAt(x, y, kDistinct[y * 3 + x]);
        kept[y][x] = bmp.PixelAt(x, y);
      }
    bmp.SetSize(5, 4);
    ASSERT_EQ(bmp.Width(), 5);
    ASSERT_EQ(bmp.Height(), 4);
    for (int32_t y = 0; y < 4; ++y)
      for (int32_t x = 0; x < 5; ++x)
        EXPECT_EQ(bmp.PixelAt(x, y), x < 3 && y < 2 ? kept[y][x] : clBlack) << x << "," << y;
    bmp.SetSize(2, 1);
    ASSERT_EQ(bmp.Width(), 2);
    ASSERT_EQ(bmp.Height(), 1);
    EXPECT_EQ(bmp.PixelAt(0, 0), kept[0][0]);
    EXPECT_EQ(bmp.PixelAt(1, 0), kept[0][1]);
    // Growing again brings nothing of the dropped pixels back.
    bmp.SetSize(3, 2);
    EXPECT_EQ(bmp.PixelAt(2, 0), clBlack);
    EXPECT_EQ(bmp.PixelAt(0, 1), clBlack);
  }
}

TEST(Bitmap, RowsArePaddedAndStoredBottomUp) {
  struct Case {
    TPixelFormat format;
    int32_t width;
    int32_t rowBytes;
  };
  const Case cases[] = {{pf8bit, 1, 4},  {pf8bit, 5, 8},  {pf15bit, 3, 8},  {pf16bit, 5, 12},
                        {pf24bit, 1, 4}, {pf24bit, 2, 8}, {pf24bit, 3, 12}, {pf24bit, 5, 16},
                        {pf32bit, 3, 12}, {pfDevice, 2, 8}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.format) << " width " << c.width);
    TBitmap bmp;
    Make(bmp, c.format, c.width, 3);
    EXPECT_EQ(bmp.RowBytes(), c.rowBytes);
    EXPECT_EQ(bmp.ScanLine(0) - bmp.ScanLine(1), c.rowBytes);
    EXPECT_EQ(bmp.ScanLine(1) - bmp.ScanLine(2), c.rowBytes);
  }

  // ScanLine(0) is the top row, pixels blue first.
  TBitmap bmp;
  Make(bmp, pf24bit, 2, 2);
  bmp.SetPixelAt(1, 0, RGBColor(1, 2, 3));
  const uint8_t* top = bmp.ScanLine(0);
  EXPECT_EQ(top[3], 3);
  EXPECT_EQ(top[4], 2);
  EXPECT_EQ(top[5], 1);
  bmp.ScanLine(1)[0] = 0x40;
  EXPECT_EQ(bmp.PixelAt(0, 1), RGBColor(0, 0, 0x40));
  EXPECT_EQ(bmp.PixelAt(0, 0), clBlack);
}

TEST(Bitmap, CanvasIgnoresPixelsOutside) {
  TBitmap bmp;
  Make(bmp, pf24bit, 3, 2);
  for (int32_t y = 0; y < 2; ++y)
    for (int32_t x = 0; x < 3; ++x) bmp.Canvas()->SetPixel(x, y, kDistinct[y * 3 + x]);
  const int32_t outside[][2] = {{-1, 0}, {0, -1}, {3, 0}, {0, 2}, {3, 2}, {-1, -1}, {INT32_MIN, 0}, {0, INT32_MAX}};
  for (const auto& p : outside) {
    EXPECT_EQ(bmp.Canvas()->GetPixel(p[0], p[1]), CLR_INVALID) << p[0] << "," << p[1];
    bmp.Canvas()->SetPixel(p[0], p[1], clWhite);
  }
  for (int32_t y = 0; y < 2; ++y)
    for (int32_t x = 0; x < 3; ++x) EXPECT_EQ(bmp.Canvas()->GetPixel(x, y), kDistinct[y * 3 + x]) << x << "," << y;
}

TEST(Bitmap, StretchDrawRepeatsOrDropsWholePixels) {
  TBitmap small;
  Make(small, pf24bit, 2, 2);
  small.SetPixelAt(0, 0, kDistinct[0]);
  small.SetPixelAt(1, 0, kDistinct[1]);
  small.SetPixelAt(0, 1, kDistinct[2]);
  small.SetPixelAt(1, 1, kDistinct[3]);

  TBitmap big;
  Make(big, pf32bit, 4, 4);
  big.Canvas()->StretchDraw({0, 0, 4, 4}, small);
  for (int32_t y = 0; y < 4; ++y)
    for (int32_t x = 0; x < 4; ++x) EXPECT_EQ(big.PixelAt(x, y), small.PixelAt(x / 2, y / 2)) << x << "," << y;

  TBitmap source;
  Make(source, pf24bit, 4, 4);
  for (int32_t y = 0; y < 4; ++y)
    for (int32_t x = 0; x < 4; ++x) source.SetPixelAt(x, y, RGBColor(uint8_t(10 + x), uint8_t(20 + y), 7));
  TBitmap half;
  Make(half, pf24bit, 2, 2);
  half.Canvas()->StretchDraw({0, 0, 2, 2}, source);
  for (int32_t y = 0; y < 2; ++y)
    for (int32_t x = 0; x < 2; ++x) EXPECT_EQ(half.PixelAt(x, y), source.PixelAt(2 * x, 2 * y)) << x << "," << y;

  // A rectangle hanging over the edges is clipped, the rest stays.
  TBitmap target;
  Make(target, pf24bit, 3, 3);
  target.Canvas()->FillRect({0, 0, 3, 3}, clWhite);
  target.Canvas()->StretchDraw({-2, 1, 2, 5}, small);  // 2x, shifted left and down
  EXPECT_EQ(target.PixelAt(0, 1), small.PixelAt(1, 0));
  EXPECT_EQ(target.PixelAt(1, 1), small.PixelAt(1, 0));
  EXPECT_EQ(target.PixelAt(0, 2), small.PixelAt(1, 0));
  EXPECT_EQ(target.PixelAt(2, 1), clWhite);
  EXPECT_EQ(target.PixelAt(0, 0), clWhite);
}

TEST(Bitmap, DIBSectionDescribesSixteenBitMasks) {
  struct Case {
    TPixelFormat format;
    uint32_t compression, red, green, blue;
  };
  const Case cases[] = {{pf15bit, 0, 0x7C00, 0x03E0, 0x001F}, {pf16bit, 3, 0xF800, 0x07E0, 0x001F}};
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.format));
    TBitmap bmp;
    Make(bmp, c.format, 3, 2);
    TDIBSection ds;
    ASSERT_TRUE(bmp.GetDIBSection(ds));
    EXPECT_EQ(ds.Width, 3);
    EXPECT_EQ(ds.Height, 2);
    EXPECT_EQ(ds.BitCount, 16);
    EXPECT_EQ(ds.WidthBytes, 8);
    EXPECT_EQ(ds.Compression, c.compression);
    EXPECT_EQ(ds.RedMask, c.red);
    EXPECT_EQ(ds.GreenMask, c.green);
    EXPECT_EQ(ds.BlueMask, c.blue);
  }
  TBitmap device;
  Make(device, pfDevice, 3, 2);
  TDIBSection ds;
  EXPECT_FALSE(device.GetDIBSection(ds));
  device.SetPixelFormat(pf24bit);
  ASSERT_TRUE(device.GetDIBSection(ds));
  EXPECT_EQ(ds.BitCount, 24);
}

}  // namespace
