// Reading and writing Windows bitmap files.
#include <cerrno>
#include <cstring>
#include <fstream>
#include <new>
#include <string>
#include <vector>

#include "vcl/Graphics.h"

namespace {

constexpr uint32_t kFileHeaderBytes = 14;
constexpr uint32_t kCoreHeaderBytes = 12;
constexpr uint32_t kInfoHeaderBytes = 40;
constexpr uint32_t kV5HeaderBytes = 124;
constexpr uint32_t kMaxSide = 30000;
constexpr uint64_t kMaxPixels = uint64_t(1) << 28;

enum : uint32_t { BI_RGB = 0, BI_RLE8 = 1, BI_RLE4 = 2, BI_BITFIELDS = 3, BI_JPEG = 4, BI_PNG = 5, BI_ALPHABITFIELDS = 6 };

uint16_t Get16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t Get32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
int32_t GetSigned32(const uint8_t* p) { return static_cast<int32_t>(Get32(p)); }

void Put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(uint8_t(v));
  out.push_back(uint8_t(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

[[noreturn]] void Fail(const std::string& path, const std::string& problem) {
  throw EBitmapFileError(path + ": " + problem);
}

// The reason the C library gives for the last failed open, if it gave one.
std::string Reason(int err) { return err != 0 ? std::string(": ") + std::strerror(err) : std::string(); }

std::string CompressionName(uint32_t c) {
  switch (c) {
    case BI_RLE8: return "RLE8";
    case BI_RLE4: return "RLE4";
    case BI_JPEG: return "JPEG";
    case BI_PNG: return "PNG";
    case 11: return "CMYK";
    case 12: return "CMYK RLE8";
    case 13: return "CMYK RLE4";
    default: return std::to_string(c);
  }
}

// One colour channel given by a contiguous bit mask.
struct Channel {
  uint32_t Mask = 0;
  int Shift = 0;
  uint64_t Max = 0;  // the largest value of the channel

  // Scales the channel of pixel v to 0 .. 255, rounding to nearest.
  uint8_t Get(uint32_t v) const { return uint8_t((((v & Mask) >> Shift) * 255 + Max / 2) / Max); }
};

// false unless mask is a non-empty run of consecutive one bits.
bool MakeChannel(uint32_t mask, Channel& out) {
  if (mask == 0) return false;
  int shift = 0;
  while (((mask >> shift) & 1) == 0) ++shift;
  const uint64_t run = uint64_t(mask) >> shift;
  if ((run & (run + 1)) != 0) return false;
  out.Mask = mask;
  out.Shift = shift;
  out.Max = run;
  return true;
}

struct Header {
  uint32_t InfoBytes = 0;
  int64_t Width = 0;
  int64_t Height = 0;  // negative for top-down rows
  uint32_t BitCount = 0;
  uint32_t Compression = BI_RGB;
  uint32_t ColoursUsed = 0;
  uint32_t Masks[3] = {0, 0, 0};  // red, green, blue
  uint32_t PixelOffset = 0;
  uint32_t PaletteOffset = 0;  // where the colour table starts
  uint32_t PaletteEntryBytes = 4;
};

// Everything that fits in front of the pixels: both headers, separate masks
// and a full 256-entry colour table.
constexpr uint32_t kMaxPrefix = kFileHeaderBytes + kV5HeaderBytes + 16 + 256 * 4;

Header ParseHeader(const std::string& path, const std::vector<uint8_t>& pre, uint64_t fileBytes) {
  auto truncated = [&](uint64_t expected) {
    Fail(path, "truncated header (expected " + std::to_string(expected) + " bytes, found " +
                   std::to_string(fileBytes) + ")");
  };
  if (fileBytes >= 2 && (pre[0] != 'B' || pre[1] != 'M')) Fail(path, "not a bitmap file");
  if (fileBytes < kFileHeaderBytes + 4) truncated(kFileHeaderBytes + 4);

  Header h;
  h.PixelOffset = Get32(&pre[10]);
  h.InfoBytes = Get32(&pre[14]);
  switch (h.InfoBytes) {
    case kCoreHeaderBytes:
    case kInfoHeaderBytes:
    case 52:
    case 56:
    case 108:
    case kV5HeaderBytes: break;
    default: Fail(path, "unsupported header size " + std::to_string(h.InfoBytes));
  }
  uint32_t headerEnd = kFileHeaderBytes + h.InfoBytes;
  if (fileBytes < headerEnd) truncated(headerEnd);

  const uint8_t* info = &pre[kFileHeaderBytes];
  if (h.InfoBytes == kCoreHeaderBytes) {
    h.Width = Get16(info + 4);
    h.Height = Get16(info + 6);
    h.BitCount = Get16(info + 10);
    h.PaletteEntryBytes = 3;
  } else {
    h.Width = GetSigned32(info + 4);
    h.Height = GetSigned32(info + 8);
    h.BitCount = Get16(info + 14);
    h.Compression = Get32(info + 16);
    h.ColoursUsed = Get32(info + 32);
  }

  if (h.Compression != BI_RGB && h.Compression != BI_BITFIELDS && h.Compression != BI_ALPHABITFIELDS)
    Fail(path, "unsupported compression " + CompressionName(h.Compression));
  switch (h.BitCount) {
    case 1:
    case 4:
    case 8:
    case 24: break;
    case 16:
    case 32:
      if (h.InfoBytes != kCoreHeaderBytes) break;
      [[fallthrough]];
    default: Fail(path, "unsupported bit count " + std::to_string(h.BitCount));
  }
  const bool bitFields = h.Compression != BI_RGB;
  if (bitFields && h.BitCount != 16 && h.BitCount != 32)
    Fail(path, "colour masks with " + std::to_string(h.BitCount) + " bits per pixel");

  if (h.Width <= 0) Fail(path, "invalid width " + std::to_string(h.Width));
  if (h.Height == 0) Fail(path, "invalid height 0");
  const uint64_t w = uint64_t(h.Width), rows = uint64_t(h.Height < 0 ? -h.Height : h.Height);
  if (w > kMaxSide || rows > kMaxSide || w * rows > kMaxPixels)
    Fail(path, "image too large (" + std::to_string(w) + " x " + std::to_string(rows) + " pixels)");

  if (bitFields) {
    // A plain info header is followed by the masks; the longer ones hold them.
    const uint8_t* masks = info + kInfoHeaderBytes;
    if (h.InfoBytes == kInfoHeaderBytes) {
      headerEnd += h.Compression == BI_ALPHABITFIELDS ? 16 : 12;
      if (fileBytes < headerEnd) truncated(headerEnd);
    }
    for (int i = 0; i < 3; ++i) h.Masks[i] = Get32(masks + 4 * i);
  } else if (h.BitCount == 16) {
    h.Masks[0] = 0x7C00;
    h.Masks[1] = 0x03E0;
    h.Masks[2] = 0x001F;
  } else if (h.BitCount == 32) {
    h.Masks[0] = 0xFF0000;
    h.Masks[1] = 0x00FF00;
    h.Masks[2] = 0x0000FF;
  }
  h.PaletteOffset = headerEnd;

  if (h.PixelOffset < headerEnd)
    Fail(path, "pixel data offset " + std::to_string(h.PixelOffset) + " lies inside the header");
  if (h.PixelOffset > fileBytes)
    Fail(path, "pixel data offset " + std::to_string(h.PixelOffset) + " past the end of the file (" +
                   std::to_string(fileBytes) + " bytes)");
  return h;
}

TPixelFormat FormatOf(const Header& h) {
  const uint32_t r = h.Masks[0], g = h.Masks[1], b = h.Masks[2];
  if (h.BitCount == 16 && r == 0x7C00 && g == 0x03E0 && b == 0x001F) return pf15bit;
  if (h.BitCount == 16 && r == 0xF800 && g == 0x07E0 && b == 0x001F) return pf16bit;
  if (h.BitCount == 32 && r == 0xFF0000 && g == 0x00FF00 && b == 0x0000FF) return pf32bit;
  return pf24bit;
}

}  // namespace

void TBitmap::LoadFromFile(const std::string& path) {
  errno = 0;
  std::ifstream in(path, std::ios::binary);
  if (!in) Fail(path, "cannot open file" + Reason(errno));
  in.seekg(0, std::ios::end);
  const std::streamoff end = in.tellg();
  in.seekg(0, std::ios::beg);
  if (end < 0 || !in) Fail(path, "cannot read file");
  const uint64_t fileBytes = uint64_t(end);

  std::vector<uint8_t> pre(kMaxPrefix, 0);
  const std::streamsize preBytes = static_cast<std::streamsize>(fileBytes < kMaxPrefix ? fileBytes : kMaxPrefix);
  if (!in.read(reinterpret_cast<char*>(pre.data()), preBytes)) Fail(path, "read error");

  const Header h = ParseHeader(path, pre, fileBytes);
  const int32_t width = static_cast<int32_t>(h.Width);
  const int32_t height = static_cast<int32_t>(h.Height < 0 ? -h.Height : h.Height);
  const bool topDown = h.Height < 0;

  // Colour table, cut short where the pixels begin.
  std::vector<TColor> palette;
  if (h.BitCount <= 8) {
    uint32_t entries = uint32_t(1) << h.BitCount;
    if (h.ColoursUsed != 0 && h.ColoursUsed < entries) entries = h.ColoursUsed;
    const uint32_t room = (h.PixelOffset - h.PaletteOffset) / h.PaletteEntryBytes;
    if (room < entries) entries = room;
    for (uint32_t i = 0; i < entries; ++i) {
      const uint8_t* p = &pre[h.PaletteOffset + i * h.PaletteEntryBytes];
      palette.push_back(RGBColor(p[2], p[1], p[0]));
    }
  }

  const uint64_t srcRowBytes = ((uint64_t(width) * h.BitCount + 31) / 32) * 4;
  const uint64_t expected = srcRowBytes * uint64_t(height);
  const uint64_t found = fileBytes - h.PixelOffset;
  if (found < expected)
    Fail(path, "truncated pixel data (expected " + std::to_string(expected) + " bytes, found " +
                   std::to_string(found) + ")");

  const TPixelFormat format = FormatOf(h);
  Channel channels[3];
  if (h.BitCount == 16 || h.BitCount == 32) {
    const uint64_t limit = h.BitCount == 16 ? 0xFFFFu : 0xFFFFFFFFu;
    for (int i = 0; i < 3; ++i)
      if (h.Masks[i] > limit || !MakeChannel(h.Masks[i], channels[i]))
        Fail(path, "invalid colour mask 0x" + [](uint32_t m) {
          char buf[9];
          for (int k = 7; k >= 0; --k, m >>= 4) buf[k] = "0123456789ABCDEF"[m & 15];
          buf[8] = 0;
          return std::string(buf);
        }(h.Masks[i]));
    if ((h.Masks[0] & h.Masks[1]) || (h.Masks[0] & h.Masks[2]) || (h.Masks[1] & h.Masks[2]))
      Fail(path, "overlapping colour masks");
  }

  TBitmap loaded;
  std::vector<uint8_t> row;
  try {
    loaded.FFormat = format;
    loaded.SetSize(width, height);
    row.resize(static_cast<size_t>(srcRowBytes));
  } catch (const std::bad_alloc&) {
    Fail(path, "not enough memory for " + std::to_string(width) + " x " + std::to_string(height) + " pixels");
  }

  in.seekg(static_cast<std::streamoff>(h.PixelOffset), std::ios::beg);
  for (int32_t fileRow = 0; fileRow < height; ++fileRow) {
    if (!in.read(reinterpret_cast<char*>(row.data()), static_cast<std::streamsize>(srcRowBytes)))
      Fail(path, "read error");
    const int32_t y = topDown ? fileRow : height - 1 - fileRow;
    uint8_t* dst = loaded.ScanLine(y);
    const uint8_t* src = row.data();
    if (format != pf24bit || h.BitCount == 24) {
      // Same layout as the file: 5-5-5, 5-6-5, 8-8-8-8 or 24 bits.
      std::memcpy(dst, src, static_cast<size_t>(loaded.RowBytes()));
      continue;
    }
    for (int32_t x = 0; x < width; ++x) {
      TColor c;
      if (h.BitCount <= 8) {
        uint32_t index;
        if (h.BitCount == 8)
          index = src[x];
        else if (h.BitCount == 4)
          index = (src[x >> 1] >> ((x & 1) ? 0 : 4)) & 0x0F;
        else
          index = (src[x >> 3] >> (7 - (x & 7))) & 1;
        if (index >= palette.size())
          Fail(path, "palette index " + std::to_string(index) + " past the " + std::to_string(palette.size()) +
                         "-colour palette");
        c = palette[index];
      } else {
        const uint32_t v = h.BitCount == 16 ? Get16(src + 2 * x) : Get32(src + 4 * x);
        c = RGBColor(channels[0].Get(v), channels[1].Get(v), channels[2].Get(v));
      }
      dst[3 * x] = GetBValue(c);
      dst[3 * x + 1] = GetGValue(c);
      dst[3 * x + 2] = GetRValue(c);
    }
  }

  // Only now that everything has been read does the bitmap change.
  FBits.swap(loaded.FBits);
  FWidth = loaded.FWidth;
  FHeight = loaded.FHeight;
  FFormat = loaded.FFormat;
  FRowBytes = loaded.FRowBytes;
}

void TBitmap::SaveToFile(const std::string& path) const {
  if (FWidth <= 0 || FHeight <= 0)
    Fail(path, "cannot save an empty bitmap (" + std::to_string(FWidth) + " x " + std::to_string(FHeight) + ")");
  const uint32_t rowBytes = ((uint32_t(FWidth) * 24 + 31) / 32) * 4;
  const uint64_t imageBytes = uint64_t(rowBytes) * uint32_t(FHeight);
  const uint64_t fileBytes = kFileHeaderBytes + kInfoHeaderBytes + imageBytes;
  if (fileBytes > 0xFFFFFFFFu) Fail(path, "bitmap too large to save");

  std::vector<uint8_t> header;
  header.reserve(kFileHeaderBytes + kInfoHeaderBytes);
  header.push_back('B');
  header.push_back('M');
  Put32(header, uint32_t(fileBytes));
  Put32(header, 0);  // reserved
  Put32(header, kFileHeaderBytes + kInfoHeaderBytes);
  Put32(header, kInfoHeaderBytes);
  Put32(header, uint32_t(FWidth));
  Put32(header, uint32_t(FHeight));  // positive: bottom-up rows
  Put16(header, 1);                  // planes
  Put16(header, 24);
  Put32(header, BI_RGB);
  Put32(header, uint32_t(imageBytes));
  Put32(header, 2835);  // 72 dots per inch
  Put32(header, 2835);
  Put32(header, 0);  // colours used
  Put32(header, 0);  // colours important

  errno = 0;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) Fail(path, "cannot create file" + Reason(errno));
  out.write(reinterpret_cast<const char*>(header.data()), static_cast<std::streamsize>(header.size()));

  std::vector<uint8_t> row(rowBytes, 0);
  for (int32_t y = FHeight - 1; y >= 0 && out; --y) {
    for (int32_t x = 0; x < FWidth; ++x) {
      const TColor c = PixelAt(x, y);
      row[3 * size_t(x)] = GetBValue(c);
      row[3 * size_t(x) + 1] = GetGValue(c);
      row[3 * size_t(x) + 2] = GetRValue(c);
    }
    out.write(reinterpret_cast<const char*>(row.data()), static_cast<std::streamsize>(rowBytes));
  }
  out.close();
  if (out.fail()) Fail(path, "write error");
}
