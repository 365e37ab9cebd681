// The carve job: bitmaps in, weights from the mask, the engine, the result
// written back on the main thread; a job given up writes nothing.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "jobs/WaitFrm.h"
#include "tests/support/Fixtures.h"
#include "vcl/Forms.h"

namespace {

TBitmap* PictureBitmap(int32_t w, int32_t h, uint32_t seed) {
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

bool SamePixels(TBitmap& a, TBitmap& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
  for (int32_t y = 0; y < a.Height(); ++y)
    for (int32_t x = 0; x < a.Width(); ++x)
      if (a.Canvas()->GetPixel(x, y) != b.Canvas()->GetPixel(x, y)) return false;
  return true;
}

TEST(Job, SameSizeGivesThePictureBackColourForColour) {
  TJob job(31, 22, 31, 22);
  job.Run();
  EXPECT_TRUE(SamePixels(*job.Source, *job.Result));
  EXPECT_EQ(job.Result->Canvas()->GetPixel(3, 4), job.Source->Canvas()->GetPixel(3, 4));
}

TEST(Job, WithoutMaskTheMaskCanvasIsNeverRead) {
  TJob plain(30, 20, 24, 26), withPaint(30, 20, 24, 26);
  withPaint.PaintMask([](int32_t x, int32_t) { return x < 10 ? MaskRemoveColor : MaskProtectColor; });
  withPaint.Request.UseMask = false;
  auto t = withPaint.Run();
  plain.Run();
  EXPECT_TRUE(SamePixels(*plain.Result, *withPaint.Result));
  for (int32_t y = 0; y < 20; ++y)
    for (int32_t x = 0; x < 30; ++x) ASSERT_EQ(t->FWeights->Get(x, y), 0);
  EXPECT_EQ(withPaint.Result->Width(), 24);
}

TEST(Job, MaskColoursBecomeWeights) {
  const TColor colours[] = {MaskProtectColor, MaskRemoveColor, RGBColor(0, 129, 0), RGBColor(254, 0, 0),
                            clWhite,          RGBColor(0, 128, 1)};
  struct Case {
    int32_t maskWeight, protect;
  } cases[] = {{100, 214748}, {0, 0}, {37, 79457}, {1, 2147}};
  for (const Case& c : cases) {
    TJob job(6, 4, 6, 4);
    job.PaintMask([&](int32_t x, int32_t) { return colours[x]; });
    job.Request.UseMask = true;
    job.Request.MaskWeight = c.maskWeight;
    auto t = job.Run();
    for (int32_t y = 0; y < 4; ++y) {
      EXPECT_EQ(t->FWeights->Get(0, y), c.protect) << c.maskWeight;
      EXPECT_EQ(t->FWeights->Get(1, y), -c.protect);
      for (int32_t x = 2; x < 6; ++x) EXPECT_EQ(t->FWeights->Get(x, y), 0);
    }
  }
}

TEST(Job, MarkedRegionIsCarvedAwayAndTheSizeKept) {
  TJob job(40, 24, 40, 24);
  // A red band: the masked run removes it and carves the picture back.
  job.PaintMask([](int32_t x, int32_t) { return x >= 12 && x < 16 ? MaskRemoveColor : clWhite; });
  job.Request.UseMask = true;
  job.Run();
  EXPECT_EQ(job.Result->Width(), 40);
  EXPECT_FALSE(SamePixels(*job.Source, *job.Result));
  TJob plain(40, 24, 40, 24);
  plain.Run();
  EXPECT_TRUE(SamePixels(*plain.Source, *plain.Result));
}

TEST(Job, ErrorInTheEngineStillEndsTheJob) {
  TJob job(20, 10, 15, 10);
  TBitmap before;
  before.Assign(*job.Result);
  // The first semaphore the engine makes, in its first cost map.
  auto t = job.Run([] { os::FailSemaphoreCreate(1); });
  os::FailSemaphoreCreate(0);
  ASSERT_TRUE(t->FatalException());
  EXPECT_THROW(std::rethrow_exception(t->FatalException()), EOSError);
  EXPECT_TRUE(SamePixels(before, *job.Result));  // nothing was written
}

// A job given up at any moment writes nothing into the result, runs no
// handler and frees itself; the bitmaps may go as soon as it is given up.
TEST(Job, AbandonedJobWritesNothing) {
  for (int delayMs : {0, 1, 3, 8, 20, 60}) {
    TJob job(120, 80, 90, 100);
    TBitmap before;
    before.Assign(*job.Result);
    auto* t = new TWorkerThread(job.Request);
    bool handlerRan = false;
    t->OnTerminate = [&](TObject*) { handlerRan = true; };
    t->Resume();
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(delayMs);
    while (!handlerRan && std::chrono::steady_clock::now() < until) Application.HandleMessage(1);
    if (handlerRan) {
      t->WaitFor();
      delete t;
      continue;  // this one was quicker than the delay
    }
    t->Terminate();
    t->Abandon();
    EXPECT_TRUE(SamePixels(before, *job.Result)) << delayMs;
    job.Result.reset();
    job.Source.reset();
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (TThread::LiveCount() != 0 && std::chrono::steady_clock::now() < limit) Application.HandleMessage(2);
    EXPECT_EQ(TThread::LiveCount(), 0);
    EXPECT_FALSE(handlerRan);
  }
}

TEST(Job, MakeRGBPutsRedInTheLowByte) {
  EXPECT_EQ(MakeRGB(1, 2, 3), 0x030201u);
  EXPECT_EQ(MakeRGB(255, 0, 0), MaskRemoveColor);
  EXPECT_EQ(MakeRGB(0, 128, 0), MaskProtectColor);
}

}  // namespace
