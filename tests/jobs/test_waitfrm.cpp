// The processing dialog: the job's end closes it with OK; Cancel, or Escape,
// returns Cancel at once at any moment of the carve, and nothing of the job
// reaches the bitmaps or the dialog afterwards, even when they are freed at
// once (the sanitizer builds see any late access); the job still frees itself.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <thread>

#include "tests/jobs/JobFixture.h"
#include "vcl/UiDriver.h"

namespace {

using Clock = std::chrono::steady_clock;

void WaitForNoThreads() {
  const auto limit = Clock::now() + std::chrono::seconds(60);
  while (TThread::LiveCount() != 0 && Clock::now() < limit) Application.HandleMessage(2);
  ASSERT_EQ(TThread::LiveCount(), 0);
}

TEST(WaitingFrm, JobEndClosesItWithOkAndTheFrameCannotCloseIt) {
  TJob job(60, 40, 45, 52), reference(60, 40, 45, 52);
  reference.Run();
  UiDriver::Reset();
  auto* form = new TWaitingFrm(nullptr);
  form->InitThread(job.Request);
  UiDriver::CloseWindow();  // no close box: dropped
  EXPECT_EQ(form->ShowModal(), mrOk);
  EXPECT_EQ(UiDriver::Dropped(), 1);
  delete form;
  WaitForNoThreads();
  EXPECT_TRUE(SamePixels(*reference.Result, *job.Result));
}

TEST(WaitingFrm, LaidOutAsDesigned) {
  TWaitingFrm f(nullptr);
  EXPECT_EQ(f.Caption, "Plivane - Processing");
  EXPECT_EQ(f.BorderStyle, bsToolWindow);
  EXPECT_EQ(f.BorderIcons, 0u);
  EXPECT_EQ(f.ClientWidth, 280);
  EXPECT_EQ(f.ClientHeight, 120);
  EXPECT_EQ(f.Color, clWhite);
  EXPECT_EQ(f.Font.Name, "Tahoma");
  EXPECT_EQ(f.Font.Size(), 8);
  EXPECT_EQ(f.FormStyle, fsStayOnTop);
  EXPECT_EQ(f.Position, poOwnerFormCenter);
  EXPECT_EQ(f.Image1->Align, alClient);
  EXPECT_EQ(f.Image1->Picture()->Width(), 276);
  EXPECT_EQ(f.Image1->Picture()->Height(), 80);
  const TBitBtn& b = *f.BitBtn1;
  EXPECT_EQ((std::array{b.Left, b.Top, b.Width, b.Height}), (std::array{104, 87, 75, 25}));
  EXPECT_EQ(b.Caption, "Cancel");
  EXPECT_TRUE(b.Cancel);
  EXPECT_EQ(b.ModalResult, mrCancel);
  EXPECT_EQ(b.TabOrder, 0);
  EXPECT_EQ(f.BitBtn1->Glyph()->Width(), 16);
  EXPECT_EQ(f.BitBtn1->Glyph()->Height(), 16);
}

// Cancels at moments spread over a whole carve, from before the first bitmap
// step to just after the result was written (the job then ends, but its
// termination handler must not run), by a click or by Escape.
TEST(WaitingFrm, CancelAtAnyMomentReturnsAtOnceAndLeavesNothingBehind) {
  const auto start = Clock::now();
  {
    TJob timing(90, 60, 70, 75);
    timing.Run();
  }
  const auto duration = Clock::now() - start;
  constexpr int kAfterWrite = 11;
  for (int point = 0; point <= kAfterWrite; ++point) {
    SCOPED_TRACE(point);
    TJob job(90, 60, 70, 75);
    TBitmap before;
    before.Assign(*job.Result);
    auto* form = new TWaitingFrm(nullptr);
    const bool byKey = point % 2 == 1;
    const auto cancelAt = Clock::now() + duration * point / 10;
    bool cancelled = false, stop = false;
    // Runs between the loop's other work until it is time to cancel.
    std::function<void()> tick = [&] {
      if (stop) return;
      const bool due = point == kAfterWrite ? !SamePixels(before, *job.Result) : Clock::now() >= cancelAt;
      if (!due) {
        std::this_thread::sleep_for(std::chrono::microseconds(20));
        Application.Post(tick);
        return;
      }
      cancelled = true;
      if (byKey)
        form->KeyPress(VK_ESCAPE);
      else
        form->BitBtn1->Click();
    };
    form->InitThread(job.Request);
    Application.Post(tick);
    const TModalResult result = form->ShowModal();
    if (!cancelled) {  // the job was quicker than this moment
      EXPECT_NE(point, 0);
      EXPECT_NE(point, kAfterWrite);
      EXPECT_EQ(result, mrOk);
      stop = true;
      Application.ProcessMessages();  // the tick still queued
      delete form;
      WaitForNoThreads();
      continue;
    }
    EXPECT_EQ(result, mrCancel);
    TBitmap atCancel;
    atCancel.Assign(*job.Result);
    delete form;
    job.Source.reset();
    if (point % 3 == 0) job.Result.reset();  // a late write would be a use after free
    WaitForNoThreads();
    if (job.Result) {
      EXPECT_TRUE(SamePixels(atCancel, *job.Result));
    }
    if (point == kAfterWrite) {
      EXPECT_FALSE(SamePixels(before, atCancel));
    }
  }
}

// A dialog freed without being shown (a command's error path) gives its job up.
TEST(WaitingFrm, FreedUnshownItGivesTheJobUp) {
  TJob job(90, 60, 60, 60);
  TBitmap before;
  before.Assign(*job.Result);
  auto* form = new TWaitingFrm(nullptr);
  form->InitThread(job.Request);
  delete form;
  job.Source.reset();
  WaitForNoThreads();
  EXPECT_TRUE(SamePixels(before, *job.Result));
  EXPECT_EQ(Application.PendingCount(), 0u);
}

}  // namespace
