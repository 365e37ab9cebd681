// The carve job: bitmaps in, weights from the mask, the engine, the result
// written back on the main thread; a job given up writes nothing.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tests/jobs/JobFixture.h"

namespace {

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
