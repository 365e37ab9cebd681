#pragma once
// Colours, bitmaps with pixel formats and scan lines, and drawing surfaces.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "vcl/System.h"

// A colour value: red in bits 0 to 7, green in 8 to 15, blue in 16 to 23.
using TColor = uint32_t;
constexpr TColor clBlack = 0x000000;
constexpr TColor clWhite = 0xFFFFFF;
// What reading a pixel outside the bitmap returns.
constexpr TColor CLR_INVALID = 0xFFFFFFFF;

inline TColor RGBColor(uint8_t r, uint8_t g, uint8_t b) { return r | (uint32_t(g) << 8) | (uint32_t(b) << 16); }
inline uint8_t GetRValue(TColor c) { return uint8_t(c); }
inline uint8_t GetGValue(TColor c) { return uint8_t(c >> 8); }
inline uint8_t GetBValue(TColor c) { return uint8_t(c >> 16); }

// pfDevice is a device-dependent bitmap: its pixels are kept as 32 bits but it
// has no section description. pf8bit uses a fixed palette (3 bits red,
// 3 bits green, 2 bits blue).
enum TPixelFormat { pfDevice, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit };

struct TRect {
  int32_t Left, Top, Right, Bottom;
};

// The description of a device-independent bitmap section: the parts of the
// bitmap header, the info header and the three colour masks that are read.
struct TDIBSection {
  int32_t Width;
  int32_t Height;      // negative for a top-down section
  uint16_t BitCount;
  uint32_t Compression;  // 0 plain, 3 bit fields
  uint32_t RedMask, GreenMask, BlueMask;
  int32_t WidthBytes;
};

class TCanvas;

// Anything that can be drawn onto a canvas.
class TGraphic : public TObject {
 public:
  virtual int32_t Width() const = 0;
  virtual int32_t Height() const = 0;
  // Colour of pixel (x, y), which must lie inside the graphic.
  virtual TColor PixelAt(int32_t x, int32_t y) const = 0;
};

class TBitmap : public TGraphic {
 public:
  TBitmap();
  ~TBitmap() override;

  int32_t Width() const override { return FWidth; }
  int32_t Height() const override { return FHeight; }
  TColor PixelAt(int32_t x, int32_t y) const override;
  void SetPixelAt(int32_t x, int32_t y, TColor c);

  // Keeps the pixels that stay inside; new pixels are black.
  void SetSize(int32_t w, int32_t h);
  void SetWidth(int32_t w) { SetSize(w, FHeight); }
  void SetHeight(int32_t h) { SetSize(FWidth, h); }

  TPixelFormat PixelFormat() const { return FFormat; }
  // Converts the pixels to the new format.
  void SetPixelFormat(TPixelFormat f);

  // Rows are stored bottom-up, each padded to 4 bytes, as in a bitmap file.
  uint8_t* ScanLine(int32_t y);
  const uint8_t* ScanLine(int32_t y) const;
  int32_t RowBytes() const { return FRowBytes; }
  int32_t BitsPerPixel() const;

  // false for a device-dependent bitmap (pfDevice).
  bool GetDIBSection(TDIBSection& out) const;

  TCanvas* Canvas() { return FCanvas.get(); }

  void Assign(const TBitmap& src);

  // Windows bitmap files; errors raise EBitmapFileError naming the file.
  void LoadFromFile(const std::string& path);
  void SaveToFile(const std::string& path) const;  // always 24 bits per pixel

 private:
  void Reallocate(int32_t w, int32_t h, TPixelFormat f, std::vector<uint8_t>& bits, int32_t& rowBytes) const;

  int32_t FWidth = 0;
  int32_t FHeight = 0;
  TPixelFormat FFormat = pfDevice;
  int32_t FRowBytes = 0;
  std::vector<uint8_t> FBits;
  std::unique_ptr<TCanvas> FCanvas;
};

// The drawing surface of a bitmap.
class TCanvas : public TObject {
 public:
  explicit TCanvas(TBitmap* owner) : FOwner(owner) {}
  // CLR_INVALID outside the bitmap.
  TColor GetPixel(int32_t x, int32_t y) const;
  // Does nothing outside the bitmap.
  void SetPixel(int32_t x, int32_t y, TColor c);
  // Stretches graphic over rect: rows and columns are dropped or repeated,
  // nothing is averaged.
  void StretchDraw(const TRect& rect, const TGraphic& graphic);
  void Draw(int32_t x, int32_t y, const TGraphic& graphic);
  void FillRect(const TRect& rect, TColor c);

 private:
  TBitmap* FOwner;
};

class EBitmapFileError : public Exception {
 public:
  using Exception::Exception;
};
