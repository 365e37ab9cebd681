#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "vcl/Graphics.h"

namespace fs = std::filesystem;

namespace {

// ---- a small bitmap file writer for the tests

void Put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(uint8_t(v));
  out.push_back(uint8_t(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}
void Set32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = uint8_t(v >> (8 * i));
}

struct FileLayout {
  uint32_t headerBytes = 40;  // 12, 40, 52, 56, 108 or 124
  uint16_t bitCount = 24;
  uint32_t compression = 0;
  int32_t width = 0;
  bool topDown = false;
  std::vector<TColor> palette;
  uint32_t coloursUsed = 0;
  std::vector<uint32_t> masks;  // red, green, blue (alpha); written after a 40-byte header
  uint32_t gap = 0;             // junk bytes between the colour table and the pixels
  // Raw pixel values, top row first: palette indices, or the 16, 24 or 32-bit
  // value as it is stored (24 bits: 0xRRGGBB).
  std::vector<std::vector<uint32_t>> rows;
};

std::vector<uint8_t> PackRow(const FileLayout& s, const std::vector<uint32_t>& values) {
  const size_t rowBytes = ((size_t(s.width) * s.bitCount + 31) / 32) * 4;
  // Padding is filled with ones so a reader that takes it for pixels shows it.
  std::vector<uint8_t> row(rowBytes, 0xFF);
  if (s.bitCount < 8) {
    std::fill(row.begin(), row.end(), 0);
    for (size_t x = 0; x < values.size(); ++x) {
      const size_t bit = x * s.bitCount;
      row[bit / 8] |= uint8_t(values[x] << (8 - s.bitCount - bit % 8));
    }
    return row;
  }
  const size_t bytes = s.bitCount / 8;
  for (size_t x = 0; x < values.size(); ++x)
    for (size_t i = 0; i < bytes; ++i) row[x * bytes + i] = uint8_t(values[x] >> (8 * i));
  return row;
}

std::vector<uint8_t> Build(const FileLayout& s) {
  const int32_t height = int32_t(s.rows.size());
  std::vector<uint8_t> info;
  Put32(info, s.headerBytes);
  if (s.headerBytes == 12) {
    Put16(info, uint32_t(s.width));
    Put16(info, uint32_t(height));
    Put16(info, 1);
    Put16(info, s.bitCount);
  } else {
    Put32(info, uint32_t(s.width));
    Put32(info, uint32_t(s.topDown ? -height : height));
    Put16(info, 1);
    Put16(info, s.bitCount);
    Put32(info, s.compression);
    Put32(info, 0);  // image size, often left 0 by writers
    Put32(info, 2835);
    Put32(info, 2835);
    Put32(info, s.coloursUsed);
    Put32(info, 0);
    if (s.headerBytes == 40) {
      for (uint32_t m : s.masks) Put32(info, m);
    } else {
      // The longer headers hold the masks themselves; 52 bytes has no alpha mask.
      const size_t n = s.headerBytes == 52 ? 3 : 4;
      for (size_t i = 0; i < n; ++i) Put32(info, i < s.masks.size() ? s.masks[i] : 0);
      info.resize(s.headerBytes, 0);
    }
  }
  for (TColor c : s.palette) {
    info.push_back(GetBValue(c));
    info.push_back(GetGValue(c));
    info.push_back(GetRValue(c));
    if (s.headerBytes != 12) info.push_back(0);
  }
  info.insert(info.end(), s.gap, 0xAB);

  std::vector<uint8_t> file = {'B', 'M'};
  Put32(file, 0);  // file size, set below
  Put32(file, 0);
  Put32(file, uint32_t(14 + info.size()));
  file.insert(file.end(), info.begin(), info.end());
  for (int32_t i = 0; i < height; ++i) {
    const auto& values = s.rows[size_t(s.topDown ? i : height - 1 - i)];
    const auto row = PackRow(s, values);
    file.insert(file.end(), row.begin(), row.end());
  }
  Set32(file, 2, uint32_t(file.size()));
  return file;
}

// A directory of its own for each test, removed afterwards.
class BmpFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device rd;
    dir_ = fs::path(::testing::TempDir()) / ("plivane-bmp-" + std::to_string(rd()) + std::to_string(rd()));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
    const std::string path = (dir_ / name).string();
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    EXPECT_TRUE(out.good()) << path;
    return path;
  }
  std::vector<uint8_t> Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  fs::path dir_;
};

// Loading is expected to fail; returns the message.
std::string LoadError(TBitmap& bmp, const std::string& path) {
  try {
    bmp.LoadFromFile(path);
  } catch (const EBitmapFileError& e) {
    return e.what();
  }
  ADD_FAILURE() << path << " loaded without an error";
  return {};
}

TColor Rgb24(uint32_t v) { return RGBColor(uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)); }

// ---- decoding

struct DecodeCase {
  const char* name;
  FileLayout layout;
  TPixelFormat format;
  // The colour of a raw value; palette cases leave it empty.
  std::map<uint32_t, TColor> colours;
};

// Raw values whose channels differ, so swapped channels show.
const std::vector<std::vector<uint32_t>> kRgb24Rows = {
    {0x102030, 0x405060, 0x708090, 0xA0B0C0, 0xD0E0F0},
    {0x010203, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF},
    {0x112233, 0x445566, 0x778899, 0xAABBCC, 0xDDEEFF},
};

std::vector<std::vector<uint32_t>> Columns(const std::vector<std::vector<uint32_t>>& rows, size_t n) {
  std::vector<std::vector<uint32_t>> out;
  for (const auto& r : rows) out.emplace_back(r.begin(), r.begin() + std::ptrdiff_t(n));
  return out;
}

std::map<uint32_t, TColor> Rgb24Colours(const std::vector<std::vector<uint32_t>>& rows) {
  std::map<uint32_t, TColor> m;
  for (const auto& r : rows)
    for (uint32_t v : r) m[v] = Rgb24(v);
  return m;
}

const std::vector<TColor> kPalette16 = {
    RGBColor(0, 0, 0),     RGBColor(255, 0, 0),   RGBColor(0, 255, 0),   RGBColor(0, 0, 255),
    RGBColor(10, 20, 30),  RGBColor(40, 50, 60),  RGBColor(70, 80, 90),  RGBColor(100, 110, 120),
    RGBColor(130, 140, 1), RGBColor(2, 160, 170), RGBColor(180, 3, 190), RGBColor(200, 210, 220),
    RGBColor(230, 4, 5),   RGBColor(6, 7, 240),   RGBColor(250, 251, 8), RGBColor(255, 255, 255)};

std::vector<DecodeCase> DecodeCases() {
  std::vector<DecodeCase> cases;
  auto add24 = [&](const char* name, uint32_t header, size_t width, bool topDown) {
    FileLayout s;
    s.headerBytes = header;
    s.width = int32_t(width);
    s.topDown = topDown;
    s.rows = Columns(kRgb24Rows, width);
    cases.push_back({name, s, pf24bit, Rgb24Colours(s.rows)});
  };
  add24("rgb24_width1", 40, 1, false);
  add24("rgb24_width2", 40, 2, false);
  add24("rgb24_width3_top_down", 40, 3, true);
  add24("rgb24_width5", 40, 5, false);
  add24("rgb24_core", 12, 3, false);
  add24("rgb24_v4_top_down", 108, 5, true);
  add24("rgb24_v5", 124, 2, false);

  {
    FileLayout s;
    s.bitCount = 1;
    s.width = 5;
    s.palette = {RGBColor(200, 10, 20), RGBColor(30, 40, 250)};
    s.rows = {{1, 0, 1, 1, 0}, {0, 1, 0, 0, 1}};
    cases.push_back({"pal1_width5", s, pf24bit, {}});
    s.width = 3;
    s.headerBytes = 12;
    s.rows = {{1, 0, 0}, {0, 1, 1}, {1, 1, 0}};
    cases.push_back({"pal1_core", s, pf24bit, {}});
    // A row wider than one byte of bits.
    s.headerBytes = 40;
    s.width = 11;
    s.topDown = true;
    s.rows = {{1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1}, {0, 1, 1, 1, 1, 1, 1, 1, 0, 1, 0}};
    cases.push_back({"pal1_width11_top_down", s, pf24bit, {}});
  }
  {
    FileLayout s;
    s.bitCount = 4;
    s.width = 5;
    s.palette = kPalette16;
    s.rows = {{1, 2, 3, 4, 5}, {15, 14, 13, 12, 11}, {6, 7, 8, 9, 10}};
    cases.push_back({"pal4_width5", s, pf24bit, {}});
    s.headerBytes = 12;
    s.width = 2;
    s.rows = {{0, 15}, {9, 6}};
    cases.push_back({"pal4_core", s, pf24bit, {}});
    // Three colours are used, and the table stops there.
    s.headerBytes = 40;
    s.width = 3;
    s.palette = {RGBColor(1, 2, 3), RGBColor(4, 5, 6), RGBColor(7, 8, 9)};
    s.coloursUsed = 3;
    s.rows = {{2, 1, 0}, {0, 0, 2}};
    cases.push_back({"pal4_three_colours", s, pf24bit, {}});
  }
  {
    FileLayout s;
    s.bitCount = 8;
    for (int i = 0; i < 256; ++i) s.palette.push_back(RGBColor(uint8_t(i), uint8_t(255 - i), uint8_t(i * 7)));
    for (size_t w : {1, 2, 3, 5}) {
      s.width = int32_t(w);
      s.rows = Columns({{0, 17, 255, 128, 3}, {200, 1, 64, 99, 254}}, w);
      cases.push_back({w == 1 ? "pal8_width1" : w == 2 ? "pal8_width2" : w == 3 ? "pal8_width3" : "pal8_width5", s,
                       pf24bit, {}});
    }
    s.topDown = true;
    s.headerBytes = 124;
    cases.push_back({"pal8_v5_top_down", s, pf24bit, {}});
    s.topDown = false;
    s.headerBytes = 12;
    cases.push_back({"pal8_core", s, pf24bit, {}});
    // The pixels start further on than the colour table ends.
    s.headerBytes = 40;
    s.palette = {RGBColor(9, 8, 7), RGBColor(60, 70, 80)};
    s.coloursUsed = 2;
    s.gap = 7;
    s.rows = {{1, 0, 1}, {0, 0, 1}};
    s.width = 3;
    cases.push_back({"pal8_two_colours_gap", s, pf24bit, {}});
    // No count, and a table shorter than 256 entries: the pixels start where it ends.
    s.coloursUsed = 0;
    s.gap = 0;
    cases.push_back({"pal8_short_table_without_count", s, pf24bit, {}});
  }

  // 16 bits: the top bit of 5-5-5 is unused.
  const std::map<uint32_t, TColor> c555 = {{0x7C00, RGBColor(248, 0, 0)},    {0x03E0, RGBColor(0, 248, 0)},
                                           {0x001F, RGBColor(0, 0, 248)},    {0x4210, RGBColor(128, 128, 128)},
                                           {0x8000, RGBColor(0, 0, 0)},      {0x0C63, RGBColor(24, 24, 24)}};
  const std::map<uint32_t, TColor> c565 = {{0xF800, RGBColor(248, 0, 0)},   {0x07E0, RGBColor(0, 252, 0)},
                                           {0x001F, RGBColor(0, 0, 248)},    {0x8410, RGBColor(128, 128, 128)},
                                           {0x0020, RGBColor(0, 4, 0)},      {0x0801, RGBColor(8, 0, 8)}};
  {
    FileLayout s;
    s.bitCount = 16;
    s.width = 3;
    s.rows = {{0x7C00, 0x03E0, 0x001F}, {0x4210, 0x8000, 0x0C63}};
    cases.push_back({"rgb555_plain", s, pf15bit, c555});
    s.topDown = true;
    s.width = 1;
    s.rows = {{0x7C00}, {0x03E0}, {0x0C63}};
    cases.push_back({"rgb555_width1_top_down", s, pf15bit, c555});
    s.topDown = false;
    s.width = 3;
    s.rows = {{0x7C00, 0x03E0, 0x001F}, {0x4210, 0x8000, 0x0C63}};
    s.compression = 3;
    s.masks = {0x7C00, 0x03E0, 0x001F};
    cases.push_back({"rgb555_bitfields", s, pf15bit, c555});

    s.masks = {0xF800, 0x07E0, 0x001F};
    s.rows = {{0xF800, 0x07E0, 0x001F}, {0x8410, 0x0020, 0x0801}};
    cases.push_back({"rgb565_bitfields", s, pf16bit, c565});
    s.headerBytes = 52;
    s.width = 5;
    s.rows = {{0xF800, 0x07E0, 0x001F, 0x8410, 0x0020}, {0x0801, 0x0020, 0x8410, 0x001F, 0x07E0}};
    cases.push_back({"rgb565_header52", s, pf16bit, c565});
    s.headerBytes = 108;
    s.width = 2;
    s.rows = {{0xF800, 0x07E0}, {0x8410, 0x0801}};
    cases.push_back({"rgb565_v4", s, pf16bit, c565});
    // Bit fields with a plain compression value: the masks do not apply.
    s.compression = 0;
    s.rows = {{0x7C00, 0x03E0}, {0x4210, 0x0C63}};
    cases.push_back({"rgb555_v4_masks_ignored", s, pf15bit, c555});

    // 4-4-4-4: scaled to 8 bits, (v * 255 + 7) / 15.
    s.compression = 6;
    s.headerBytes = 40;
    s.masks = {0x0F00, 0x00F0, 0x000F, 0xF000};
    s.width = 3;
    s.rows = {{0x0F00, 0x0080, 0x0003}, {0xF000, 0x0FFF, 0x0111}};
    cases.push_back({"argb4444_alphabitfields", s, pf24bit,
                     {{0x0F00, RGBColor(255, 0, 0)},
                      {0x0080, RGBColor(0, 136, 0)},
                      {0x0003, RGBColor(0, 0, 51)},
                      {0xF000, RGBColor(0, 0, 0)},
                      {0x0FFF, RGBColor(255, 255, 255)},
                      {0x0111, RGBColor(17, 17, 17)}}});
  }

  {
    FileLayout s;
    s.bitCount = 32;
    s.width = 3;
    s.rows = {{0x00102030, 0xFF405060, 0x00708090}, {0x12FF0000, 0x0000FF00, 0x000000FF}};
    const std::map<uint32_t, TColor> c888 = {
        {0x00102030, RGBColor(0x10, 0x20, 0x30)}, {0xFF405060, RGBColor(0x40, 0x50, 0x60)},
        {0x00708090, RGBColor(0x70, 0x80, 0x90)}, {0x12FF0000, RGBColor(255, 0, 0)},
        {0x0000FF00, RGBColor(0, 255, 0)},        {0x000000FF, RGBColor(0, 0, 255)}};
    cases.push_back({"rgb32_plain", s, pf32bit, c888});
    s.topDown = true;
    s.compression = 3;
    s.masks = {0xFF0000, 0x00FF00, 0x0000FF};
    cases.push_back({"rgb32_bitfields_top_down", s, pf32bit, c888});
    s.topDown = false;
    s.headerBytes = 124;
    s.masks = {0xFF0000, 0x00FF00, 0x0000FF, 0xFF000000};
    cases.push_back({"argb32_v5", s, pf32bit, c888});
    s.headerBytes = 56;
    s.compression = 6;
    cases.push_back({"argb32_header56", s, pf32bit, c888});

    // Blue in the low byte swapped with red.
    s.headerBytes = 108;
    s.compression = 3;
    s.masks = {0x0000FF, 0x00FF00, 0xFF0000};
    s.rows = {{0x00332211, 0xFF000001}};
    s.width = 2;
    cases.push_back({"bgr32_v4", s, pf24bit,
                     {{0x00332211, RGBColor(0x11, 0x22, 0x33)}, {0xFF000001, RGBColor(1, 0, 0)}}});

    // 10-10-10: (v * 255 + 511) / 1023.
    s.headerBytes = 40;
    s.masks = {0x3FF00000, 0x000FFC00, 0x000003FF};
    s.width = 5;
    s.rows = {{0x3FF00000, 0x00080000, 0x00000001, 0x00000002, 0x00000003},
              {0xC0000000, 0x3FFFFFFF, 0x20000000, 0x00000400, 0x00100C02}};
    cases.push_back({"rgb101010", s, pf24bit,
                     {{0x3FF00000, RGBColor(255, 0, 0)},
                      {0x00080000, RGBColor(0, 128, 0)},
                      {0x00000001, RGBColor(0, 0, 0)},
                      {0x00000002, RGBColor(0, 0, 0)},
                      {0x00000003, RGBColor(0, 0, 1)},
                      {0xC0000000, RGBColor(0, 0, 0)},
                      {0x3FFFFFFF, RGBColor(255, 255, 255)},
                      {0x20000000, RGBColor(128, 0, 0)},
                      {0x00000400, RGBColor(0, 0, 0)},
                      {0x00100C02, RGBColor(0, 1, 0)}}});
  }
  return cases;
}

TEST_F(BmpFileTest, DecodesEveryKindToTheRightColours) {
  for (const DecodeCase& c : DecodeCases()) {
    SCOPED_TRACE(c.name);
    const std::string path = Write(std::string(c.name) + ".bmp", Build(c.layout));
    TBitmap bmp;
    ASSERT_NO_THROW(bmp.LoadFromFile(path));
    ASSERT_EQ(bmp.Width(), c.layout.width);
    ASSERT_EQ(bmp.Height(), int32_t(c.layout.rows.size()));
    EXPECT_EQ(bmp.PixelFormat(), c.format);
    for (int32_t y = 0; y < bmp.Height(); ++y)
      for (int32_t x = 0; x < bmp.Width(); ++x) {
        const uint32_t raw = c.layout.rows[size_t(y)][size_t(x)];
        TColor want;
        if (c.colours.empty()) {
          want = c.layout.palette.at(raw);
        } else {
          ASSERT_TRUE(c.colours.count(raw)) << "no colour for raw value " << raw;
          want = c.colours.at(raw);
        }
        EXPECT_EQ(bmp.PixelAt(x, y), want) << "pixel " << x << "," << y << " raw " << std::hex << raw;
      }
  }
}

// Pins the layout itself, independent of the writer helper above: a 2 x 2
// bottom-up file written out byte by byte.
TEST_F(BmpFileTest, FirstRowInABottomUpFileIsTheBottomRow) {
  const std::vector<uint8_t> bytes = {
      'B', 'M', 70, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,                          // file header
      40, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 1, 0, 24, 0, 0, 0, 0, 0,              // size, planes, bits
      16, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,               // the rest of the header
      0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0, 0,                                  // bottom row, B G R, pad
      0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0, 0};                                 // top row
  const std::string path = Write("literal.bmp", bytes);
  TBitmap bmp;
  bmp.LoadFromFile(path);
  ASSERT_EQ(bmp.Width(), 2);
  ASSERT_EQ(bmp.Height(), 2);
  EXPECT_EQ(bmp.PixelAt(0, 1), RGBColor(0x03, 0x02, 0x01));
  EXPECT_EQ(bmp.PixelAt(1, 1), RGBColor(0x06, 0x05, 0x04));
  EXPECT_EQ(bmp.PixelAt(0, 0), RGBColor(0x13, 0x12, 0x11));
  EXPECT_EQ(bmp.PixelAt(1, 0), RGBColor(0x16, 0x15, 0x14));

  // The same rows, top-down.
  std::vector<uint8_t> topDown = bytes;
  Set32(topDown, 22, uint32_t(-2));
  bmp.LoadFromFile(Write("literal_top_down.bmp", topDown));
  EXPECT_EQ(bmp.PixelAt(0, 0), RGBColor(0x03, 0x02, 0x01));
  EXPECT_EQ(bmp.PixelAt(1, 1), RGBColor(0x16, 0x15, 0x14));
}

// The 16 and 32-bit formats keep the stored values as they are.
TEST_F(BmpFileTest, KeepsTheStoredValuesOfSixteenAndThirtyTwoBitPixels) {
  FileLayout s;
  s.bitCount = 16;
  s.width = 2;
  s.compression = 3;
  s.masks = {0xF800, 0x07E0, 0x001F};
  s.rows = {{0x1234, 0xFEDC}};
  TBitmap bmp;
  bmp.LoadFromFile(Write("565.bmp", Build(s)));
  ASSERT_EQ(bmp.PixelFormat(), pf16bit);
  const uint8_t want16[] = {0x34, 0x12, 0xDC, 0xFE};
  EXPECT_EQ(std::vector<uint8_t>(bmp.ScanLine(0), bmp.ScanLine(0) + 4), std::vector<uint8_t>(want16, want16 + 4));

  s.bitCount = 32;
  s.compression = 0;
  s.masks.clear();
  s.rows = {{0x80112233, 0x01445566}};
  bmp.LoadFromFile(Write("argb.bmp", Build(s)));
  ASSERT_EQ(bmp.PixelFormat(), pf32bit);
  const uint8_t want32[] = {0x33, 0x22, 0x11, 0x80, 0x66, 0x55, 0x44, 0x01};
  EXPECT_EQ(std::vector<uint8_t>(bmp.ScanLine(0), bmp.ScanLine(0) + 8), std::vector<uint8_t>(want32, want32 + 8));
}

TEST_F(BmpFileTest, LoadsTheSample) {
  TBitmap bmp;
  bmp.LoadFromFile(std::string(PLIVANE_SAMPLES) + "/chelsea.bmp");
  ASSERT_EQ(bmp.Width(), 451);
  ASSERT_EQ(bmp.Height(), 300);
  EXPECT_EQ(bmp.PixelFormat(), pf24bit);
  // Corner and centre values read from the file's bytes.
  EXPECT_EQ(bmp.PixelAt(0, 0), RGBColor(143, 120, 104));
  EXPECT_EQ(bmp.PixelAt(450, 0), RGBColor(45, 27, 13));
  EXPECT_EQ(bmp.PixelAt(0, 299), RGBColor(139, 103, 71));
  EXPECT_EQ(bmp.PixelAt(450, 299), RGBColor(162, 138, 128));
  EXPECT_EQ(bmp.PixelAt(200, 150), RGBColor(125, 64, 35));
}

// ---- writing

TEST_F(BmpFileTest, SavesTwentyFourBitBottomUpFiles) {
  TBitmap bmp;
  bmp.SetPixelFormat(pf24bit);
  bmp.SetSize(5, 3);
  for (int32_t y = 0; y < 3; ++y)
    for (int32_t x = 0; x < 5; ++x) bmp.SetPixelAt(x, y, RGBColor(uint8_t(x * 50 + 1), uint8_t(y * 90 + 2), uint8_t(x * y + 3)));
  const std::string path = (dir_ / "saved.bmp").string();
  bmp.SaveToFile(path);

  const std::vector<uint8_t> bytes = Read(path);
  const size_t rowBytes = 16;  // 5 * 3 bytes, padded
  ASSERT_EQ(bytes.size(), 54 + 3 * rowBytes);
  auto u32 = [&](size_t at) {
    return uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8 | uint32_t(bytes[at + 2]) << 16 |
           uint32_t(bytes[at + 3]) << 24;
  };
  EXPECT_EQ(bytes[0], 'B');
  EXPECT_EQ(bytes[1], 'M');
  EXPECT_EQ(u32(2), bytes.size());
  EXPECT_EQ(u32(10), 54u);
  EXPECT_EQ(u32(14), 40u);
  EXPECT_EQ(u32(18), 5u);
  EXPECT_EQ(u32(22), 3u);  // positive: bottom-up
  EXPECT_EQ(bytes[28] | bytes[29] << 8, 24);
  EXPECT_EQ(u32(30), 0u);
  // The first stored pixel is the bottom-left one, blue first.
  const TColor bottomLeft = bmp.PixelAt(0, 2);
  EXPECT_EQ(bytes[54], GetBValue(bottomLeft));
  EXPECT_EQ(bytes[55], GetGValue(bottomLeft));
  EXPECT_EQ(bytes[56], GetRValue(bottomLeft));
  const TColor topRight = bmp.PixelAt(4, 0);
  EXPECT_EQ(bytes[54 + 2 * rowBytes + 12], GetBValue(topRight));
  EXPECT_EQ(bytes[54 + 2 * rowBytes + 14], GetRValue(topRight));

  TBitmap back;
  back.LoadFromFile(path);
  ASSERT_EQ(back.Width(), 5);
  ASSERT_EQ(back.Height(), 3);
  EXPECT_EQ(back.PixelFormat(), pf24bit);
  for (int32_t y = 0; y < 3; ++y)
    for (int32_t x = 0; x < 5; ++x) EXPECT_EQ(back.PixelAt(x, y), bmp.PixelAt(x, y)) << x << "," << y;
}

TEST_F(BmpFileTest, SavesOtherFormatsAsTheirColours) {
  for (TPixelFormat f : {pfDevice, pf8bit, pf15bit, pf16bit, pf32bit}) {
    SCOPED_TRACE(int(f));
    TBitmap bmp;
    bmp.SetPixelFormat(f);
    bmp.SetSize(3, 2);
    for (int32_t y = 0; y < 2; ++y)
      for (int32_t x = 0; x < 3; ++x) bmp.SetPixelAt(x, y, RGBColor(uint8_t(80 * x + 7), uint8_t(200 - 90 * y), 140));
    const std::string path = (dir_ / ("format" + std::to_string(int(f)) + ".bmp")).string();
    bmp.SaveToFile(path);
    TBitmap back;
    back.LoadFromFile(path);
    EXPECT_EQ(back.PixelFormat(), pf24bit);
    for (int32_t y = 0; y < 2; ++y)
      for (int32_t x = 0; x < 3; ++x) EXPECT_EQ(back.PixelAt(x, y), bmp.PixelAt(x, y)) << x << "," << y;
  }
}

TEST_F(BmpFileTest, SaveFailuresNameTheFile) {
  TBitmap bmp;
  bmp.SetPixelFormat(pf24bit);
  bmp.SetSize(2, 2);
  const std::string path = (dir_ / "no-such-dir" / "out.bmp").string();
  try {
    bmp.SaveToFile(path);
    ADD_FAILURE() << "saved into a missing directory";
  } catch (const EBitmapFileError& e) {
    EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
  }
  // An empty bitmap would make a file no reader accepts.
  TBitmap empty;
  EXPECT_THROW(empty.SaveToFile((dir_ / "empty.bmp").string()), EBitmapFileError);
}

// ---- malformed files

struct BadCase {
  const char* name;
  std::function<std::vector<uint8_t>()> bytes;
  const char* problem;  // part of the expected message
};

FileLayout Small24() {
  FileLayout s;
  s.width = 3;
  s.rows = {{1, 2, 3}, {4, 5, 6}};
  return s;
}

FileLayout Small8() {
  FileLayout s;
  s.bitCount = 8;
  s.width = 3;
  s.palette = {clBlack, clWhite, RGBColor(1, 2, 3)};
  s.coloursUsed = 3;
  s.rows = {{0, 1, 2}, {2, 1, 0}};
  return s;
}

// A file of headers only, claiming the given size.
std::vector<uint8_t> HeadersOnly(int32_t width, int32_t height) {
  FileLayout s = Small24();
  s.rows.clear();
  std::vector<uint8_t> b = Build(s);
  Set32(b, 18, uint32_t(width));
  Set32(b, 22, uint32_t(height));
  return b;
}

std::vector<uint8_t> With32(std::vector<uint8_t> b, size_t at, uint32_t v) {
  Set32(b, at, v);
  return b;
}

std::vector<uint8_t> With16(std::vector<uint8_t> b, size_t at, uint16_t v) {
  b[at] = uint8_t(v);
  b[at + 1] = uint8_t(v >> 8);
  return b;
}

std::vector<uint8_t> Cut(std::vector<uint8_t> b, size_t n) {
  b.resize(n);
  return b;
}

std::vector<BadCase> BadCases() {
  const auto good = Build(Small24());
  return {
      {"empty", [] { return std::vector<uint8_t>(); }, "truncated header"},
      {"not_bmp", [] { return std::vector<uint8_t>(60, 'x'); }, "not a bitmap"},
      {"truncated_file_header", [good] { return Cut(good, 10); }, "truncated header"},
      {"truncated_info_header", [good] { return Cut(good, 30); }, "truncated header"},
      {"truncated_pixels", [good] { return Cut(good, good.size() - 5); }, "truncated pixel data (expected 24 bytes, found 19)"},
      {"offset_past_end", [good] { return With32(good, 10, uint32_t(good.size() + 10)); }, "past the end"},
      {"offset_inside_header", [good] { return With32(good, 10, 20); }, "inside the header"},
      {"header_size_64", [good] { return With32(good, 14, 64); }, "header size 64"},
      {"rle8",
       [] {
         FileLayout s = Small8();
         s.compression = 1;
         return Build(s);
       },
       "RLE8"},
      {"rle4",
       [] {
         FileLayout s = Small8();
         s.bitCount = 4;
         s.compression = 2;
         return Build(s);
       },
       "RLE4"},
      {"jpeg", [good] { return With32(good, 30, 4); }, "JPEG"},
      {"png", [good] { return With32(good, 30, 5); }, "PNG"},
      {"bit_count_2", [good] { return With16(good, 28, 2); }, "bit count 2"},
      {"bit_count_0", [good] { return With16(good, 28, 0); }, "bit count 0"},
      {"core_16_bits",
       [] {
         FileLayout s = Small24();
         s.headerBytes = 12;
         s.bitCount = 16;
         return Build(s);
       },
       "bit count 16"},
      {"bitfields_24_bits",
       [] {
         FileLayout s = Small24();
         s.compression = 3;
         s.masks = {0xFF0000, 0xFF00, 0xFF};
         return Build(s);
       },
       "masks"},
      {"bitfields_masks_missing",
       [] {
         FileLayout s = Small24();
         s.bitCount = 16;
         s.compression = 3;
         return Cut(Build(s), 60);  // the masks would need 54 .. 66
       },
       "truncated header"},
      {"mask_with_a_hole",
       [] {
         FileLayout s = Small24();
         s.bitCount = 16;
         s.compression = 3;
         s.masks = {0xF800, 0x06E0, 0x001F};
         return Build(s);
       },
       "mask"},
      {"mask_past_16_bits",
       [] {
         FileLayout s = Small24();
         s.bitCount = 16;
         s.compression = 3;
         s.masks = {0x1F0000, 0x07E0, 0x001F};
         return Build(s);
       },
       "mask"},
      {"mask_zero",
       [] {
         FileLayout s = Small24();
         s.bitCount = 32;
         s.compression = 3;
         s.masks = {0xFF0000, 0, 0xFF};
         return Build(s);
       },
       "mask"},
      {"masks_overlap",
       [] {
         FileLayout s = Small24();
         s.bitCount = 32;
         s.compression = 3;
         s.masks = {0xFF0000, 0x01FF00, 0xFF};
         return Build(s);
       },
       "overlapping"},
      // Indices past the colour table are refused, not guessed at.
      {"palette_index_past_palette",
       [] {
         FileLayout s = Small8();
         s.rows[1][2] = 3;
         return Build(s);
       },
       "palette index 3"},
      // The table is as long as the colours used say, whatever follows it.
      {"palette_index_past_colours_used",
       [] {
         FileLayout s = Small8();
         s.gap = 8;
         s.rows[0][0] = 3;
         return Build(s);
       },
       "palette index 3"},
      {"palette_cut_short_by_pixel_offset",
       [] {
         FileLayout s = Small8();
         s.coloursUsed = 0;
         s.rows[0][0] = 3;
         return Build(s);
       },
       "palette index 3"},
      {"alphabitfields_with_three_masks",
       [] {
         FileLayout s = Small24();
         s.bitCount = 32;
         s.compression = 6;
         s.masks = {0xFF0000, 0xFF00, 0xFF};
         return Build(s);
       },
       "inside the header"},
      {"width_0", [] { return HeadersOnly(0, 2); }, "width"},
      {"width_negative", [] { return HeadersOnly(-3, 2); }, "width"},
      {"height_0", [] { return HeadersOnly(3, 0); }, "height"},
      {"width_40000", [] { return HeadersOnly(40000, 1); }, "too large"},
      {"height_minus_40000", [] { return HeadersOnly(1, -40000); }, "too large"},
      {"height_int_min", [] { return HeadersOnly(1, INT32_MIN); }, "too large"},
      {"too_many_pixels", [] { return HeadersOnly(20000, 20000); }, "too large"},
      {"big_but_allowed_yet_tiny_file", [] { return HeadersOnly(16000, 16000); }, "truncated pixel data"},
  };
}

TEST_F(BmpFileTest, MalformedFilesRaiseErrorsNamingTheFile) {
  for (const BadCase& c : BadCases()) {
    SCOPED_TRACE(c.name);
    const std::string path = Write(std::string(c.name) + ".bmp", c.bytes());
    TBitmap bmp;
    const std::string message = LoadError(bmp, path);
    EXPECT_NE(message.find(path), std::string::npos) << message;
    EXPECT_NE(message.find(c.problem), std::string::npos) << message;
    EXPECT_EQ(message.find('\n'), std::string::npos) << message;
  }
}

TEST_F(BmpFileTest, MissingFileRaises) {
  TBitmap bmp;
  const std::string path = (dir_ / "absent.bmp").string();
  const std::string message = LoadError(bmp, path);
  EXPECT_NE(message.find(path), std::string::npos) << message;
  EXPECT_NE(message.find("cannot open"), std::string::npos) << message;
}

TEST_F(BmpFileTest, FailedLoadLeavesTheBitmapAsItWas) {
  FileLayout s = Small8();
  TBitmap bmp;
  bmp.LoadFromFile(Write("good.bmp", Build(s)));
  ASSERT_EQ(bmp.PixelAt(2, 0), RGBColor(1, 2, 3));
  const auto before = std::vector<uint8_t>(bmp.ScanLine(bmp.Height() - 1),
                                           bmp.ScanLine(bmp.Height() - 1) + bmp.RowBytes() * bmp.Height());
  // Fails late: on the last pixel read, after every header check has passed.
  s.rows[0][2] = 200;
  LoadError(bmp, Write("bad.bmp", Build(s)));
  LoadError(bmp, Write("short.bmp", Cut(Build(Small24()), 60)));
  EXPECT_EQ(bmp.Width(), 3);
  EXPECT_EQ(bmp.Height(), 2);
  EXPECT_EQ(bmp.PixelFormat(), pf24bit);
  EXPECT_EQ(std::vector<uint8_t>(bmp.ScanLine(bmp.Height() - 1),
                                 bmp.ScanLine(bmp.Height() - 1) + bmp.RowBytes() * bmp.Height()),
            before);
}

}  // namespace
