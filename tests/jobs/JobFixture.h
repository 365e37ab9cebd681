#pragma once
// Bitmaps and carve requests for the job and dialog tests.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>

#include "jobs/WaitFrm.h"
#include "tests/support/Fixtures.h"
#include "vcl/Forms.h"

inline TBitmap* PictureBitmap(int32_t w, int32_t h, uint32_t seed) {
  GML_Color m = MakePicture(w, h, seed);
  auto* b = new TBitmap;
  b->SetPixelFormat(pf24bit);
  b->SetSize(w, h);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      GML_RGBA p = m.Get(x, y);
      b->Canvas()->SetPixel(x, y, RGBColor(PixelRed(p), PixelGreen(p), PixelBlue(p)));
    }
  return b;
}

struct TJob {
  std::unique_ptr<TBitmap> Source, Result, Mask;
  TCarveRequest Request;

  TJob(int32_t w, int32_t h, int32_t dw, int32_t dh) : Source(PictureBitmap(w, h, 5)), Result(new TBitmap) {
    Result->SetPixelFormat(pf24bit);
    Result->SetSize(dw, dh);
    Request.SrcWidth = w;
    Request.SrcHeight = h;
    Request.DstWidth = dw;
    Request.DstHeight = dh;
    Request.SrcCanvas = Source->Canvas();
    Request.DstCanvas = Result->Canvas();
  }
  void PaintMask(const std::function<TColor(int32_t, int32_t)>& colour) {
    Mask.reset(new TBitmap);
    Mask->SetPixelFormat(pf24bit);
    Mask->SetSize(Request.SrcWidth, Request.SrcHeight);
    for (int32_t y = 0; y < Request.SrcHeight; ++y)
      for (int32_t x = 0; x < Request.SrcWidth; ++x) Mask->Canvas()->SetPixel(x, y, colour(x, y));
    Request.MaskCanvas = Mask->Canvas();
  }
  // Runs the job to its end on this thread's loop; returns the thread, ended.
  std::unique_ptr<TWorkerThread> Run(const std::function<void()>& beforeResume = {}) {
    std::unique_ptr<TWorkerThread> t(new TWorkerThread(Request));
    if (beforeResume) beforeResume();
    bool ended = false;
    t->OnTerminate = [&](TObject*) { ended = true; };
    t->Resume();
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!ended && std::chrono::steady_clock::now() < limit) Application.HandleMessage(5);
    EXPECT_TRUE(ended);
    t->WaitFor();
    return t;
  }
};

inline bool SamePixels(TBitmap& a, TBitmap& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
  for (int32_t y = 0; y < a.Height(); ++y)
    for (int32_t x = 0; x < a.Width(); ++x)
      if (a.Canvas()->GetPixel(x, y) != b.Canvas()->GetPixel(x, y)) return false;
  return true;
}
