#include "vcl/Graphics.h"

#include <algorithm>
#include <cstring>

namespace {

int32_t BitsOf(TPixelFormat f) {
  switch (f) {
    case pf8bit: return 8;
    case pf15bit:
    case pf16bit: return 16;
    case pf24bit: return 24;
    case pfDevice:
    case pf32bit: return 32;
  }
  return 32;
}

int32_t RowBytesOf(int32_t w, TPixelFormat f) { return ((w * BitsOf(f) + 31) / 32) * 4; }

inline TColor Decode(const uint8_t* row, int32_t x, TPixelFormat f) {
  switch (f) {
    case pf8bit: {
      uint8_t v = row[x];
      // 3-3-2 palette, each channel spread over 0 .. 255.
      return RGBColor(uint8_t((v >> 5) * 255 / 7), uint8_t(((v >> 2) & 7) * 255 / 7), uint8_t((v & 3) * 255 / 3));
    }
    case pf15bit: {
      uint16_t v = uint16_t(row[2 * x] | (row[2 * x + 1] << 8));
      return RGBColor(uint8_t(((v >> 10) & 31) << 3), uint8_t(((v >> 5) & 31) << 3), uint8_t((v & 31) << 3));
    }
    case pf16bit: {
      uint16_t v = uint16_t(row[2 * x] | (row[2 * x + 1] << 8));
      return RGBColor(uint8_t(((v >> 11) & 31) << 3), uint8_t(((v >> 5) & 63) << 2), uint8_t((v & 31) << 3));
    }
    case pf24bit: {
      const uint8_t* p = row + 3 * x;
      return RGBColor(p[2], p[1], p[0]);
    }
    case pfDevice:
    case pf32bit: {
      const uint8_t* p = row + 4 * x;
      return RGBColor(p[2], p[1], p[0]);
    }
  }
  return 0;
}

inline void Encode(uint8_t* row, int32_t x, TPixelFormat f, TColor c) {
  const uint8_t r = GetRValue(c), g = GetGValue(c), b = GetBValue(c);
  switch (f) {
    case pf8bit:
      row[x] = uint8_t((r * 7 + 127) / 255 << 5 | (g * 7 + 127) / 255 << 2 | (b * 3 + 127) / 255);
      return;
    case pf15bit: {
      uint16_t v = uint16_t((r >> 3) << 10 | (g >> 3) << 5 | (b >> 3));
      row[2 * x] = uint8_t(v);
      row[2 * x + 1] = uint8_t(v >> 8);
      return;
    }
    case pf16bit: {
      uint16_t v = uint16_t((r >> 3) << 11 | (g >> 2) << 5 | (b >> 3));
      row[2 * x] = uint8_t(v);
      row[2 * x + 1] = uint8_t(v >> 8);
      return;
    }
    case pf24bit: {
      uint8_t* p = row + 3 * x;
      p[0] = b;
      p[1] = g;
      p[2] = r;
      return;
    }
    case pfDevice:
    case pf32bit: {
      // The fourth byte is left as it is.
      uint8_t* p = row + 4 * x;
      p[0] = b;
      p[1] = g;
      p[2] = r;
      return;
    }
  }
}

}  // namespace

TBitmap::TBitmap() : FCanvas(std::make_unique<TCanvas>(this)) {}
TBitmap::~TBitmap() = default;

int32_t TBitmap::BitsPerPixel() const { return BitsOf(FFormat); }

uint8_t* TBitmap::ScanLine(int32_t y) {
  return FBits.data() + static_cast<size_t>(FHeight - 1 - y) * static_cast<size_t>(FRowBytes);
}
const uint8_t* TBitmap::ScanLine(int32_t y) const {
  return FBits.data() + static_cast<size_t>(FHeight - 1 - y) * static_cast<size_t>(FRowBytes);
}

TColor TBitmap::PixelAt(int32_t x, int32_t y) const { return Decode(ScanLine(y), x, FFormat); }
void TBitmap::SetPixelAt(int32_t x, int32_t y, TColor c) { Encode(ScanLine(y), x, FFormat, c); }

void TBitmap::Reallocate(int32_t w, int32_t h, TPixelFormat f, std::vector<uint8_t>& bits,
                         int32_t& rowBytes) const {
  // Rows are addressed with 32-bit byte counts.
  if (w < 0 || h < 0 || int64_t(w) * BitsOf(f) > int64_t(INT32_MAX) - 31) throw Exception("Invalid bitmap size");
  rowBytes = RowBytesOf(w, f);
  bits.assign(static_cast<size_t>(rowBytes) * static_cast<size_t>(h), 0);
}

void TBitmap::SetSize(int32_t w, int32_t h) {
  if (w == FWidth && h == FHeight) return;
  std::vector<uint8_t> bits;
  int32_t rowBytes;
  Reallocate(w, h, FFormat, bits, rowBytes);
  const int32_t cw = std::min(w, FWidth), ch = std::min(h, FHeight);
  const size_t bytes = static_cast<size_t>(cw > 0 ? cw : 0) * static_cast<size_t>(BitsOf(FFormat) / 8);
  for (int32_t y = 0; y < ch && bytes > 0; ++y)
    std::memcpy(bits.data() + static_cast<size_t>(h - 1 - y) * rowBytes, ScanLine(y), bytes);
  FBits.swap(bits);
  FRowBytes = rowBytes;
  FWidth = w;
  FHeight = h;
}

void TBitmap::SetPixelFormat(TPixelFormat f) {
  if (f == FFormat) return;
  std::vector<uint8_t> bits;
  int32_t rowBytes;
  Reallocate(FWidth, FHeight, f, bits, rowBytes);
  for (int32_t y = 0; y < FHeight; ++y) {
    const uint8_t* src = ScanLine(y);
    uint8_t* dst = bits.data() + static_cast<size_t>(FHeight - 1 - y) * rowBytes;
    for (int32_t x = 0; x < FWidth; ++x) Encode(dst, x, f, Decode(src, x, FFormat));
  }
  FBits.swap(bits);
  FRowBytes = rowBytes;
  FFormat = f;
}

bool TBitmap::GetDIBSection(TDIBSection& out) const {
  if (FFormat == pfDevice) return false;
  out = {};
  out.Width = FWidth;
  out.Height = FHeight;
  out.BitCount = static_cast<uint16_t>(BitsOf(FFormat));
  out.WidthBytes = FRowBytes;
  if (FFormat == pf15bit) {
    out.RedMask = 0x7C00;
    out.GreenMask = 0x3E0;
    out.BlueMask = 0x1F;
  } else if (FFormat == pf16bit) {
    out.Compression = 3;
    out.RedMask = 0xF800;
    out.GreenMask = 0x7E0;
    out.BlueMask = 0x1F;
  }
  return true;
}

void TBitmap::Assign(const TBitmap& src) {
  if (&src == this) return;
  FWidth = src.FWidth;
  FHeight = src.FHeight;
  FFormat = src.FFormat;
  FRowBytes = src.FRowBytes;
  FBits = src.FBits;
}

TColor TCanvas::GetPixel(int32_t x, int32_t y) const {
  if (x < 0 || y < 0 || x >= FOwner->Width() || y >= FOwner->Height()) return CLR_INVALID;
  return FOwner->PixelAt(x, y);
}

void TCanvas::SetPixel(int32_t x, int32_t y, TColor c) {
  if (x < 0 || y < 0 || x >= FOwner->Width() || y >= FOwner->Height()) return;
  FOwner->SetPixelAt(x, y, c);
}

void TCanvas::StretchDraw(const TRect& rect, const TGraphic& graphic) {
  const int32_t dw = rect.Right - rect.Left, dh = rect.Bottom - rect.Top;
  const int32_t sw = graphic.Width(), sh = graphic.Height();
  if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0) return;
  // Destination pixel i takes source pixel floor(i * sw / dw): whole rows and
  // columns are dropped or repeated.
  for (int32_t j = 0; j < dh; ++j) {
    const int32_t y = rect.Top + j;
    if (y < 0 || y >= FOwner->Height()) continue;
    const int32_t sy = static_cast<int32_t>(static_cast<int64_t>(j) * sh / dh);
    for (int32_t i = 0; i < dw; ++i) {
      const int32_t x = rect.Left + i;
      if (x < 0 || x >= FOwner->Width()) continue;
      const int32_t sx = static_cast<int32_t>(static_cast<int64_t>(i) * sw / dw);
      FOwner->SetPixelAt(x, y, graphic.PixelAt(sx, sy));
    }
  }
}

void TCanvas::Draw(int32_t x, int32_t y, const TGraphic& graphic) {
  StretchDraw({x, y, x + graphic.Width(), y + graphic.Height()}, graphic);
}

void TCanvas::FillRect(const TRect& rect, TColor c) {
  for (int32_t y = std::max(rect.Top, 0); y < std::min(rect.Bottom, FOwner->Height()); ++y)
    for (int32_t x = std::max(rect.Left, 0); x < std::min(rect.Right, FOwner->Width()); ++x)
      FOwner->SetPixelAt(x, y, c);
}
