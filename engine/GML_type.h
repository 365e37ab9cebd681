#pragma once
// Image matrices: row-major 2-D arrays whose logical size moves inside a larger
// capacity, so that seams can be removed and inserted by shifting rows in place.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "vcl/System.h"

// A colour pixel: bytes red, green, blue and a fourth byte, read as one
// little-endian 32-bit number.
using GML_RGBA = uint32_t;

inline uint8_t PixelRed(GML_RGBA p) { return static_cast<uint8_t>(p); }
inline uint8_t PixelGreen(GML_RGBA p) { return static_cast<uint8_t>(p >> 8); }
inline uint8_t PixelBlue(GML_RGBA p) { return static_cast<uint8_t>(p >> 16); }
inline uint8_t PixelFourth(GML_RGBA p) { return static_cast<uint8_t>(p >> 24); }
inline GML_RGBA MakePixel(uint8_t r, uint8_t g, uint8_t b, uint8_t fourth) {
  return r | (uint32_t(g) << 8) | (uint32_t(b) << 16) | (uint32_t(fourth) << 24);
}

// The storage is one block of CapHeight rows of CapWidth elements each, so
// rows are contiguous and the hot loops can walk them with plain pointers.
template <typename T>
class GML_Matrix : public TObject {
 public:
  using Element = T;

  int32_t Width = 0;
  int32_t Height = 0;
  int32_t CapWidth = 0;
  int32_t CapHeight = 0;

  GML_Matrix(int32_t w, int32_t h) {
    Allocate(w, h);
    Width = CapWidth = w;
    Height = CapHeight = h;
  }
  GML_Matrix(GML_Matrix&& o) noexcept
      : TObject(std::move(o)), Width(o.Width), Height(o.Height), CapWidth(o.CapWidth), CapHeight(o.CapHeight),
        FData(o.FData) {
    o.FData = nullptr;
    o.Width = o.Height = o.CapWidth = o.CapHeight = 0;
  }
  ~GML_Matrix() override { std::free(FData); }

  T* Row(int32_t y) { return FData + static_cast<size_t>(y) * static_cast<size_t>(CapWidth); }
  const T* Row(int32_t y) const { return FData + static_cast<size_t>(y) * static_cast<size_t>(CapWidth); }

  T Get(int32_t x, int32_t y) const { return Row(y)[x]; }
  void Set(int32_t x, int32_t y, T v) { Row(y)[x] = v; }

  // On a matrix without rows or columns there is no element to return: 0.
  T GetClamped(int32_t x, int32_t y) const {
    if (Width <= 0 || Height <= 0) return T{};
    x = x < 0 ? 0 : (x >= Width ? Width - 1 : x);
    y = y < 0 ? 0 : (y >= Height ? Height - 1 : y);
    return Row(y)[x];
  }

  // n = +1 opens a column at x (the element at x is then present twice);
  // n = -1 closes the column at x - 1. Width is left to the caller.
  void ShiftRow(int32_t x, int32_t y, int32_t n) {
    if (x >= Width && n < 0) return;
    if (Width <= 0 || Height <= 0) return;
    x = Clamp(x, 0, Width - 1);
    y = Clamp(y, 0, Height - 1);
    int32_t d = Clamp(x + n, 0, Width - 1);
    int32_t count = n <= 0 ? Width - x : Width - x - n;
    if (count > 0) {
      T* r = Row(y);
      std::memmove(r + d, r + x, static_cast<size_t>(count) * sizeof(T));
    }
  }

  // Rows keep their content when they grow; storage never shrinks.
  void SetWidth(int32_t w) {
    if (w > CapWidth) {
      int32_t rows = Height > CapHeight ? Height : CapHeight;
      T* fresh = Zeroed(w, rows);
      for (int32_t y = 0; y < rows && CapWidth > 0; ++y)
        std::memcpy(fresh + static_cast<size_t>(y) * w, Row(y), static_cast<size_t>(CapWidth) * sizeof(T));
      std::free(FData);
      FData = fresh;
      CapWidth = w;
      CapHeight = rows;
    }
    Width = w;
  }

  void Reserve(int32_t w, int32_t h) {
    Allocate(w, h);
    CapWidth = w;
    CapHeight = h;
  }

 protected:
  static int32_t Clamp(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : (v > hi ? hi : v); }

  // Makes fresh zeroed storage; on failure the old storage stays as it was.
  void Allocate(int32_t w, int32_t h) {
    T* fresh = Zeroed(w, h);
    std::free(FData);
    FData = fresh;
  }

  void SetSizeImpl(int32_t w, int32_t h) {
    Allocate(w, h);
    Width = CapWidth = w;
    Height = CapHeight = h;
  }

  void AssignImpl(const GML_Matrix& src) {
    if (&src == this) return;
    SetSizeImpl(src.Width, src.Height);
    if (Width <= 0) return;
    for (int32_t y = 0; y < Height; ++y)
      std::memcpy(Row(y), src.Row(y), static_cast<size_t>(Width) * sizeof(T));
  }

  void TransposeImpl(const GML_Matrix& src) {
    SetSizeImpl(src.Height, src.Width);
    // Tiles keep both the rows read and the rows written in cache.
    constexpr int32_t B = 32;
    for (int32_t j0 = 0; j0 < src.Height; j0 += B) {
      int32_t j1 = j0 + B < src.Height ? j0 + B : src.Height;
      for (int32_t i0 = 0; i0 < src.Width; i0 += B) {
        int32_t i1 = i0 + B < src.Width ? i0 + B : src.Width;
        for (int32_t j = j0; j < j1; ++j) {
          const T* s = src.Row(j);
          for (int32_t i = i0; i < i1; ++i) Row(i)[j] = s[i];
        }
      }
    }
  }

 private:
  static T* Zeroed(int32_t w, int32_t h) {
    size_t n = static_cast<size_t>(w > 0 ? w : 0) * static_cast<size_t>(h > 0 ? h : 0);
    if (n != 0 && n > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
    T* p = static_cast<T*>(std::calloc(n ? n : 1, sizeof(T)));
    if (!p) throw std::bad_alloc();
    return p;
  }

  T* FData = nullptr;
};

class GML_Color : public GML_Matrix<GML_RGBA> {
 public:
  using GML_Matrix::GML_Matrix;
  void Assign(const GML_Color& src) { AssignImpl(src); }
  void Transpose(const GML_Color& src) { TransposeImpl(src); }
  void SetSize(int32_t w, int32_t h) { SetSizeImpl(w, h); }
};

class GML_Gray : public GML_Matrix<uint8_t> {
 public:
  using GML_Matrix::GML_Matrix;
};

class GML_Int : public GML_Matrix<int32_t> {
 public:
  using GML_Matrix::GML_Matrix;
  void Assign(const GML_Int& src) { AssignImpl(src); }
  void Transpose(const GML_Int& src) { TransposeImpl(src); }
  void SetSize(int32_t w, int32_t h) { SetSizeImpl(w, h); }
  void Fill(int32_t v) {
    for (int32_t y = 0; y < Height; ++y) {
      int32_t* r = Row(y);
      for (int32_t x = 0; x < Width; ++x) r[x] = v;
    }
  }
};
