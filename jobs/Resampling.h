#pragma once
// Scales a whole picture into a destination bitmap whose size and pixel
// format the caller has set: stretch drawing, fixed-point bilinear
// interpolation, or a two-pass Mitchell filter with cached contributor tables.
#include <cstdint>

#include "vcl/Graphics.h"

// The three "Sampling quality" choices; any other value does nothing.
enum TResampleMethod : uint8_t { rmStretch = 0, rmBilinear = 1, rmMitchell = 2 };

// One source pixel of a destination pixel: its index along the scaled
// direction, mirrored at the edges and kept inside the source, and its weight
// in 16.16 fixed point (65536 = 1.0).
struct TContributor {
  int32_t Pixel;
  int32_t Weight;
};

// The contributors of one destination pixel. LastIndex is the count minus one.
struct TContributorList {
  int32_t LastIndex;
  const TContributor* Contributors;
};

// Every pixel of Dest is overwritten (bytes 0 to 2 only for 32 bits per
// pixel); Dest keeps its size and format. With rmBilinear and rmMitchell the
// source is first converted in place to Dest's pixel format, and a Dest of
// layout 0 (see BitmapBitDepth) is left as it is. rmBilinear and rmMitchell
// raise Exception for a destination or source without pixels.
void Resample(TBitmap& Source, TBitmap& Dest, TResampleMethod Method);
// For graphics that cannot be converted in place: rmStretch only; the other
// two methods raise Exception.
void Resample(const TGraphic& Source, TBitmap& Dest, TResampleMethod Method);

// 15, 16, 24 or 32 for the layouts the resampler writes; 0 for anything else,
// including a bitmap without a section description.
int32_t BitmapBitDepth(const TBitmap& Bitmap);

// Converts Bitmap to Format unless it has that layout already.
void MatchPixelFormat(TBitmap& Bitmap, TPixelFormat Format);

// The contributor table for a source size and a destination size: DestSize
// lists, one per destination index. Built once per pair and kept for the life
// of the process; the caller does not own it. Thread-safe. Raises Exception
// for sizes below 1.
const TContributorList* GetContributors(int32_t SourceSize, int32_t DestSize);
