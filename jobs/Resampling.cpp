#include "jobs/Resampling.h"

#include <cmath>
#include <cstddef>
#include <memory>
#include <vector>

#include "os/FloatPrecision.h"
#include "os/OsThreads.h"
#include "vcl/System.h"

namespace {

// ---- Mitchell-Netravali cubic (B = C = 1/3, support 2)

// Extended precision, so that the tables come out the same on every build.
constexpr long double kNear3 = 7.0L / 6.0L;
constexpr long double kNear0 = 8.0L / 9.0L;
constexpr long double kFar3 = -7.0L / 18.0L;
constexpr long double kFar1 = 10.0L / 3.0L;
constexpr long double kFar0 = 16.0L / 9.0L;

// X >= 0 has already been rounded to single precision.
long double MitchellKernel(float X) {
  const long double x = X;
  if (x < 1) return (kNear3 * x - 2) * x * x + kNear0;
  if (x < 2) return ((kFar3 * x + 2) * x - kFar1) * x + kFar0;
  return 0;
}

// ---- contributor tables

struct TContributorTable {
  std::vector<TContributorList> Lists;
  std::vector<TContributor> Contributors;  // every list's contributors, one after the other
};

struct TCacheEntry {
  int32_t SourceSize;
  int32_t DestSize;
  const TContributorTable* Table;
};

// Guarded by the contributor lock. Neither the list nor its tables are ever
// freed: a resample may still be reading a table while the process ends. The
// pointer keeps them reachable, so leak checkers do not report them.
std::vector<TCacheEntry>* ContributorCache = nullptr;

// Holds the process-wide contributor lock for one scope, so that every path
// out of a lookup, exceptions included, leaves it.
class TContributorLockHolder {
 public:
  TContributorLockHolder() : FLock(Instance()) { FLock.Enter(); }
  ~TContributorLockHolder() { FLock.Leave(); }
  TContributorLockHolder(const TContributorLockHolder&) = delete;
  TContributorLockHolder& operator=(const TContributorLockHolder&) = delete;

 private:
  static os::CriticalSection& Instance() {
    // Created once, thread-safely, before the cache's first use; never
    // destroyed, so a late resample during shutdown still finds it.
    static os::CriticalSection* const ContributorLock = new os::CriticalSection;
    return *ContributorLock;
  }
  os::CriticalSection& FLock;
};

// Mirrors source index J at the edges (pixel 0 not repeated on the left,
// pixel N - 1 repeated on the right). The windows of a one-pixel source being
// enlarged, or of any source shrunk to one pixel, reach past the mirrored
// range; those contributors are clamped to the nearest edge pixel, which
// keeps them inside the source and keeps the weights summing to about 1.
int32_t MirrorIndex(int64_t J, int32_t N) {
  int64_t p = J < 0 ? -J : J < N ? J : 2 * int64_t(N) - 1 - J;
  if (p < 0) p = 0;
  if (p > N - 1) p = N - 1;
  return static_cast<int32_t>(p);
}

std::unique_ptr<TContributorTable> BuildContributors(int32_t N, int32_t M) {
  const os::TExtendedPrecision extended;  // some weights sit on the last bits of a half
  auto table = std::make_unique<TContributorTable>();
  table->Lists.resize(static_cast<size_t>(M));
  std::vector<size_t> first(static_cast<size_t>(M));
  // Window bounds in 64 bits: the products of an index and a size overflow
  // 32 bits for very large pictures. Integer divisions truncate towards zero.
  const int64_t n = N, m = M;
  if (M < N) {
    const float e = static_cast<float>(static_cast<long double>(M) / N);
    for (int32_t i = 0; i < M; ++i) {
      first[static_cast<size_t>(i)] = table->Contributors.size();
      const int64_t lo = ((i - 2) * n - m + 1) / m, hi = ((i + 2) * n + m - 1) / m;
      for (int64_t j = lo; j <= hi; ++j) {
        // A distance in destination pixels.
        const float x = static_cast<float>(std::fabs(i - static_cast<long double>(j) * e));
        if (x < 2) table->Contributors.push_back({MirrorIndex(j, N), RoundHalfEven(MitchellKernel(x) * e * 65536.0L)});
      }
    }
  } else {
    const float e = static_cast<float>(static_cast<long double>(N) / M);
    for (int32_t i = 0; i < M; ++i) {
      first[static_cast<size_t>(i)] = table->Contributors.size();
      const float c = static_cast<float>(i * static_cast<long double>(e));
      const int64_t lo = (i * n - 3 * m + 1) / m, hi = (i * n + 3 * m - 1) / m;
      for (int64_t j = lo; j <= hi; ++j) {
        // A distance in source pixels.
        const float x = static_cast<float>(std::fabs(c - static_cast<long double>(j)));
        if (x < 2) table->Contributors.push_back({MirrorIndex(j, N), RoundHalfEven(MitchellKernel(x) * 65536.0L)});
      }
    }
  }
  // The storage no longer moves: point the lists into it.
  for (size_t i = 0; i < table->Lists.size(); ++i) {
    const size_t end = i + 1 < first.size() ? first[i + 1] : table->Contributors.size();
    table->Lists[i].LastIndex = static_cast<int32_t>(end - first[i]) - 1;
    table->Lists[i].Contributors = table->Contributors.data() + first[i];
  }
  return table;
}

// ---- pixel layouts

// Rows through the address of scan line 0 and the signed distance to scan
// line 1, so bottom-up and top-down bitmaps both work.
struct TRows {
  uint8_t* Base;
  ptrdiff_t Stride;
  explicit TRows(TBitmap& Bitmap)
      : Base(Bitmap.ScanLine(0)), Stride(Bitmap.Height() > 1 ? Bitmap.ScanLine(1) - Bitmap.ScanLine(0) : 0) {}
  uint8_t* Row(int32_t y) const { return Base + y * Stride; }
};

inline uint32_t ReadWord(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
inline void WriteWord(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
inline uint32_t ReadBGR(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16; }
// Bytes 0 to 2 only: the fourth byte of a 32-bit pixel is never written.
inline void WriteBGR(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
}

// Each layout says how a pixel (or a column-buffer entry, packed the same
// way) splits into three channels for the filter, with each channel's
// maximum, and into three in-place channels for the bilinear interpolation.
// Channel 0 is blue, 2 is red.
struct TLayout15 {
  using Entry = uint16_t;
  static constexpr int32_t Bytes = 2;
  static constexpr int32_t Max[3] = {31, 0x3E0, 31};  // green stays in place
  static constexpr uint32_t Mask[3] = {0x1F, 0x3E0, 0x7C00};
  static uint32_t Read(const uint8_t* p) { return ReadWord(p); }
  static void Write(uint8_t* p, uint32_t v) { WriteWord(p, v); }
  static void Split(uint32_t v, int32_t c[3]) {
    c[0] = int32_t(v & 0x1F);
    c[1] = int32_t(v & 0x3E0);
    c[2] = int32_t(v >> 10);
  }
  static uint32_t Join(const int32_t c[3]) { return uint32_t(c[0]) | (uint32_t(c[1]) & 0x3E0) | uint32_t(c[2]) << 10; }
};

struct TLayout16 {
  using Entry = uint16_t;
  static constexpr int32_t Bytes = 2;
  static constexpr int32_t Max[3] = {31, 0x7E0, 31};
  static constexpr uint32_t Mask[3] = {0x1F, 0x7E0, 0xF800};
  static uint32_t Read(const uint8_t* p) { return ReadWord(p); }
  static void Write(uint8_t* p, uint32_t v) { WriteWord(p, v); }
  static void Split(uint32_t v, int32_t c[3]) {
    c[0] = int32_t(v & 0x1F);
    c[1] = int32_t(v & 0x7E0);
    c[2] = int32_t(v >> 11);
  }
  static uint32_t Join(const int32_t c[3]) { return uint32_t(c[0]) | (uint32_t(c[1]) & 0x7E0) | uint32_t(c[2]) << 11; }
};

template <int32_t PixelBytes>
struct TLayoutBytes {
  using Entry = uint32_t;  // blue, green, red and a fourth byte that stays 0
  static constexpr int32_t Bytes = PixelBytes;
  static constexpr int32_t Max[3] = {255, 255, 255};
  static constexpr uint32_t Mask[3] = {0xFF, 0xFF00, 0xFF0000};
  static uint32_t Read(const uint8_t* p) { return ReadBGR(p); }
  static void Write(uint8_t* p, uint32_t v) { WriteBGR(p, v); }
  static void Split(uint32_t v, int32_t c[3]) {
    c[0] = int32_t(v & 0xFF);
    c[1] = int32_t((v >> 8) & 0xFF);
    c[2] = int32_t(v >> 16);
  }
  static uint32_t Join(const int32_t c[3]) { return uint32_t(c[0]) | uint32_t(c[1]) << 8 | uint32_t(c[2]) << 16; }
};
using TLayout24 = TLayoutBytes<3>;
using TLayout32 = TLayoutBytes<4>;

// ---- the two integer methods

void CheckSizes(const TBitmap& Source, const TBitmap& Dest) {
  // Both methods divide by the destination size and read source pixel 0.
  if (Dest.Width() <= 0 || Dest.Height() <= 0) throw Exception("Resample: the destination has no pixels");
  if (Source.Width() <= 0 || Source.Height() <= 0) throw Exception("Resample: the source has no pixels");
}

// A 16.16 channel sum to the channel's range; negative lobes can push it
// outside either way, and it must saturate rather than wrap.
inline int32_t ClampChannel(int32_t s, int32_t Max) { return s < 0 ? 0 : s > Max * 65536 ? Max : s >> 16; }

template <class L>
void ResampleFiltered(TBitmap& Source, TBitmap& Dest) {
  const int32_t sw = Source.Width(), sh = Source.Height(), dw = Dest.Width(), dh = Dest.Height();
  const TContributorList* const H = GetContributors(sw, dw);
  const TContributorList* const V = GetContributors(sh, dh);
  const TRows src(Source), dst(Dest);
  std::vector<typename L::Entry> column(static_cast<size_t>(sh));
  int32_t c[3], s[3];
  for (int32_t i = 0; i < dw; ++i) {
    // Horizontal pass into the column buffer, clamped to the channel ranges.
    const TContributorList& h = H[i];
    for (int32_t y = 0; y < sh; ++y) {
      const uint8_t* row = src.Row(y);
      s[0] = s[1] = s[2] = 0;
      for (int32_t k = 0; k <= h.LastIndex; ++k) {
        const TContributor& t = h.Contributors[k];
        if (t.Weight == 0) continue;
        L::Split(L::Read(row + ptrdiff_t(t.Pixel) * L::Bytes), c);
        s[0] += t.Weight * c[0];
        s[1] += t.Weight * c[1];
        s[2] += t.Weight * c[2];
      }
      for (int n = 0; n < 3; ++n) s[n] = ClampChannel(s[n], L::Max[n]);
      column[static_cast<size_t>(y)] = static_cast<typename L::Entry>(L::Join(s));
    }
    // Vertical pass from the buffer into destination column i.
    uint8_t* out = dst.Base + ptrdiff_t(i) * L::Bytes;
    for (int32_t j = 0; j < dh; ++j) {
      const TContributorList& v = V[j];
      s[0] = s[1] = s[2] = 0;
      for (int32_t k = 0; k <= v.LastIndex; ++k) {
        const TContributor& t = v.Contributors[k];
        if (t.Weight == 0) continue;
        L::Split(column[static_cast<size_t>(t.Pixel)], c);
        s[0] += t.Weight * c[0];
        s[1] += t.Weight * c[1];
        s[2] += t.Weight * c[2];
      }
      for (int n = 0; n < 3; ++n) s[n] = ClampChannel(s[n], L::Max[n]);
      L::Write(out + j * dst.Stride, L::Join(s));
    }
  }
}

template <class L>
void ResampleBilinear(TBitmap& Source, TBitmap& Dest) {
  const int32_t sw = Source.Width(), sh = Source.Height(), dw = Dest.Width(), dh = Dest.Height();
  // 16.16 positions in 64 bits: size x 65536 no longer overflows for sources
  // of 32768 pixels and more, and nothing changes below that.
  const int64_t xstep = (int64_t(sw) << 16) / dw, ystep = (int64_t(sh) << 16) / dh;
  struct TColumn {
    ptrdiff_t Left, Right;  // byte offsets in a row
    uint32_t Fraction;
  };
  std::vector<TColumn> columns(static_cast<size_t>(dw));
  int64_t x = 0;
  for (TColumn& col : columns) {
    const int32_t x0 = static_cast<int32_t>(x >> 16), x1 = x0 < sw - 1 ? x0 + 1 : x0;
    col = {ptrdiff_t(x0) * L::Bytes, ptrdiff_t(x1) * L::Bytes, uint32_t(x & 0xFFFF)};
    x += xstep;
  }
  const TRows src(Source), dst(Dest);
  uint32_t tl[3], tr[3], bl[3], br[3];
  int64_t y = 0;
  for (int32_t l = 0; l < dh; ++l, y += ystep) {
    const int32_t y0 = static_cast<int32_t>(y >> 16), y1 = y0 < sh - 1 ? y0 + 1 : y0;
    const uint32_t fy = uint32_t(y & 0xFFFF), gy = 65535 - fy;
    const uint8_t* top = src.Row(y0);
    const uint8_t* bottom = src.Row(y1);
    uint8_t* out = dst.Row(l);
    for (const TColumn& col : columns) {
      // Unsigned: the weights add up to 65535, and 0xF800 x 65535 needs 32 bits.
      const uint32_t fx = col.Fraction;
      const uint32_t wTR = (gy * fx) >> 16, wTL = gy - wTR;
      const uint32_t wBR = (fy * fx) >> 16, wBL = fy - wBR;
      const uint32_t a = L::Read(top + col.Left), b = L::Read(top + col.Right);
      const uint32_t c = L::Read(bottom + col.Left), d = L::Read(bottom + col.Right);
      uint32_t v = 0;
      for (int n = 0; n < 3; ++n) {
        // In place for words; bytes are shifted down first so that the
        // products stay within 32 bits.
        const uint32_t shift = L::Bytes == 2 ? 0 : 8 * n;
        const uint32_t m = L::Mask[n] >> shift;
        tl[n] = (a >> shift) & m;
        tr[n] = (b >> shift) & m;
        bl[n] = (c >> shift) & m;
        br[n] = (d >> shift) & m;
        v |= (((tl[n] * wTL + tr[n] * wTR + bl[n] * wBL + br[n] * wBR) >> 16) & m) << shift;
      }
      L::Write(out, v);
      out += L::Bytes;
    }
  }
}

template <class L>
void ResampleLayout(TBitmap& Source, TBitmap& Dest, TResampleMethod Method) {
  CheckSizes(Source, Dest);
  if (Method == rmBilinear)
    ResampleBilinear<L>(Source, Dest);
  else
    ResampleFiltered<L>(Source, Dest);
}

}  // namespace

int32_t BitmapBitDepth(const TBitmap& Bitmap) {
  TDIBSection dib;
  if (!Bitmap.GetDIBSection(dib)) return 0;
  switch (dib.BitCount) {
    case 24:
    case 32:
      return dib.BitCount;
    case 16:
      if (dib.BlueMask != 0x1F) return 0;
      if (dib.GreenMask == 0x3E0 && dib.RedMask == 0x7C00) return 15;
      if (dib.GreenMask == 0x7E0 && dib.RedMask == 0xF800) return 16;
      return 0;
    default:
      return 0;
  }
}

void MatchPixelFormat(TBitmap& Bitmap, TPixelFormat Format) {
  if (Bitmap.PixelFormat() == Format) return;
  if (Format == pf15bit && BitmapBitDepth(Bitmap) == 15) return;
  Bitmap.SetPixelFormat(Format);
}

const TContributorList* GetContributors(int32_t SourceSize, int32_t DestSize) {
  if (SourceSize < 1 || DestSize < 1) throw Exception("GetContributors: sizes must be at least 1");
  TContributorLockHolder hold;
  if (!ContributorCache) ContributorCache = new std::vector<TCacheEntry>;
  for (const TCacheEntry& entry : *ContributorCache)
    if (entry.SourceSize == SourceSize && entry.DestSize == DestSize) return entry.Table->Lists.data();
  std::unique_ptr<TContributorTable> table = BuildContributors(SourceSize, DestSize);
  ContributorCache->push_back({SourceSize, DestSize, table.get()});
  return table.release()->Lists.data();
}

void Resample(TBitmap& Source, TBitmap& Dest, TResampleMethod Method) {
  if (Method == rmStretch) {
    Dest.Canvas()->StretchDraw({0, 0, Dest.Width(), Dest.Height()}, Source);
    return;
  }
  if (Method != rmBilinear && Method != rmMitchell) return;
  switch (BitmapBitDepth(Dest)) {
    case 15:
      MatchPixelFormat(Source, pf15bit);
      ResampleLayout<TLayout15>(Source, Dest, Method);
      return;
    case 16:
      MatchPixelFormat(Source, pf16bit);
      ResampleLayout<TLayout16>(Source, Dest, Method);
      return;
    case 24:
      MatchPixelFormat(Source, pf24bit);
      ResampleLayout<TLayout24>(Source, Dest, Method);
      return;
    case 32:
      MatchPixelFormat(Source, pf32bit);
      ResampleLayout<TLayout32>(Source, Dest, Method);
      return;
    default:
      return;  // a layout the integer methods do not write
  }
}

void Resample(const TGraphic& Source, TBitmap& Dest, TResampleMethod Method) {
  if (Method == rmStretch) {
    Dest.Canvas()->StretchDraw({0, 0, Dest.Width(), Dest.Height()}, Source);
    return;
  }
  if (Method != rmBilinear && Method != rmMitchell) return;
  if (BitmapBitDepth(Dest) == 0) return;
  throw Exception("Resample: bilinear and Mitchell resampling need a bitmap source that can be converted");
}
