// The workers of each step: a thread that cannot start ends the step with its
// message; the lock and the condition of the cost map.
#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "engine/GEM.h"
#include "engine/Threads.h"
#include "tests/support/Fixtures.h"

namespace {

std::string Spawn(const char* step) { return std::string("GEM: ") + step + "(): FATAL ERROR! Unable to spawn thread!"; }

class WorkerStartFailure : public ::testing::Test {
 protected:
  void TearDown() override { os::FailThreadStart(0); }
  TMessageCapture Messages;
  TGEM Gem;
};

TEST_F(WorkerStartFailure, GrayscaleKeepsTheBandsAlreadyDone) {
  GML_Color pic = MakePicture(9, 10);
  for (int n = 1; n <= 4; ++n) {
    GML_Gray G(9, 10);
    os::FailThreadStart(n);
    Gem.Grayscale_Image(pic, G);
    // Bands of 2 rows; workers before the n-th ran, the rest never started.
    for (int32_t y = 0; y < 10; ++y) {
      const bool done = y / 2 < n - 1;
      ASSERT_EQ(G.Get(4, y), done ? Pixel_Gray(pic.Get(4, y)) : 0) << "n " << n << " row " << y;
    }
  }
  EXPECT_EQ(Messages.Texts(), std::vector<std::string>(4, Spawn("Grayscale_Image")));
}

TEST_F(WorkerStartFailure, EdgeDetectSkipsTheBorderRows) {
  GML_Color pic = MakePicture(9, 10);
  GML_Gray G(9, 10);
  Gem.Grayscale_Image(pic, G);
  GML_Int E(9, 10);
  E.Fill(-1);
  os::FailThreadStart(1);
  Gem.Edge_Detect(G, E, 0);
  EXPECT_EQ(E.Get(3, 0), -1);
  EXPECT_EQ(E.Get(3, 9), -1);
  EXPECT_EQ(Messages.Texts(), std::vector<std::string>{Spawn("Edge_Detect")});
}

TEST_F(WorkerStartFailure, CostMapIsLeftAsItWas) {
  for (int n : {1, 2}) {
    GML_Int E = MakeRandomInt(12, 8, 0, 99, 1), S(12, 8), M(12, 8);
    M.Fill(42);
    PAPixel seam(8);
    os::FailThreadStart(n);
    Gem.Find_Path(E, S, M, seam, true, true);
    for (int32_t y = 0; y < 8; ++y)
      for (int32_t x = 0; x < 12; ++x) ASSERT_EQ(M.Get(x, y), 42);
  }
  EXPECT_EQ(Messages.Texts(), std::vector<std::string>(2, Spawn("Energy_Path")));
}

TEST_F(WorkerStartFailure, RemovalStopsBetweenItsPhases) {
  struct Case {
    int n;
    int32_t picWidth, eWidth;
  } cases[] = {{1, 10, 10}, {4, 10, 10}, {5, 9, 10}, {8, 9, 10}};
  for (const Case& c : cases) {
    GML_Color pic = MakePicture(10, 8);
    GML_Int W(10, 8), E(10, 8), M(10, 8);
    GML_Gray G(10, 8);
    PAPixel seam(8);
    for (int32_t y = 0; y < 8; ++y) seam[y] = {4, y};
    os::FailThreadStart(c.n);
    Gem.Remove_Path(pic, seam, W, E, G, M, 0);
    EXPECT_EQ(pic.Width, c.picWidth) << c.n;
    EXPECT_EQ(E.Width, c.eWidth) << c.n;
  }
  EXPECT_EQ(Messages.Texts(), std::vector<std::string>(4, Spawn("Remove_Path")));
}

TEST_F(WorkerStartFailure, InsertionAndWeights) {
  GML_Color pic = MakePicture(10, 8);
  GML_Int W(10, 8), E(10, 8), M(10, 8), P(10, 8), S(10, 8);
  GML_Gray G(10, 8);
  PAPixel seam(8);
  for (int32_t y = 0; y < 8; ++y) seam[y] = {4, y};
  os::FailThreadStart(6);
  Gem.Add_Path(pic, seam, W, E, G, P, M, 400, 0);
  EXPECT_EQ(pic.Width, 11);
  os::FailThreadStart(3);
  Gem.Add_Weights(W, P, S);
  EXPECT_EQ(Messages.Texts(), (std::vector<std::string>{Spawn("Add_Path"), Spawn("Add_Weights")}));
}

// Wherever a start fails during a whole carve, the carve goes on to its end
// with what the matrices hold, and the result still has the target size.
TEST_F(WorkerStartFailure, CarveGoesOnAfterAFailedStep) {
  GML_Color src = MakePicture(24, 16);
  GML_Int weights(24, 16);
  for (int n : {1, 3, 6, 9, 17, 40, 77, 95}) {
    GML_Int work(0, 0);
    GML_Color dest(0, 0);
    os::FailThreadStart(n);
    Gem.Fit_Image(src, weights, 20, 19, 400, 0, true, work, dest);
    os::FailThreadStart(0);
    EXPECT_EQ(dest.Width, 20);
    EXPECT_EQ(dest.Height, 19);
  }
  EXPECT_EQ(Messages.Texts().size(), 8u);
}

// The width passes carry the sums and the cost map from seam to seam. Made
// anew at every seam, as the steps do when called plainly, they give the same
// carve, whichever worker start fails, and the same messages.
TEST_F(WorkerStartFailure, CarriedSumsAndMapsCarveAsThePlainSteps) {
  const int32_t w = 20, h = 10, seams = 4;
  const GML_Color src = MakePicture(w, h, 5);
  const GML_Int weights = MakeRandomInt(w, h, -400, 400, 6);
  auto plainEnlarge = [&](GML_Int& W, GML_Color& dest) {
    const int32_t cap = w + seams;
    GML_Gray G(w, h);
    GML_Int P(w, h), S(w, h), E(w, h), M(w, h);
    PAPixel seam(h);
    dest.SetSize(w, h);
    dest.Reserve(cap, h);
    G.Reserve(cap, h);
    E.Reserve(cap, h);
    M.Reserve(cap, h);
    TGEM::Reserve_Weights(W, cap);
    P.Reserve(cap, h);
    S.Reserve(cap, h);
    P.Fill(0);
    TGEM::Copy_Image(src, dest);
    Gem.Grayscale_Image(src, G);
    Gem.Edge_Detect(G, E, FILTER_SOBEL);
    for (int32_t k = 0; k < seams; ++k) {
      Gem.Add_Weights(W, P, S);
      Gem.Find_Path(E, S, M, seam, true, k == 0);
      Gem.Add_Path(dest, seam, W, E, G, P, M, 400, FILTER_SOBEL);
    }
  };
  auto plainReduce = [&](GML_Int& W, GML_Color& dest) {
    GML_Gray G(w, h);
    GML_Int E(w, h), M(w, h);
    PAPixel seam(h);
    dest.Assign(src);
    Gem.Grayscale_Image(src, G);
    Gem.Edge_Detect(G, E, FILTER_SOBEL);
    for (int32_t k = 0; k < seams; ++k) {
      Gem.Find_Path(E, W, M, seam, true, k == 0);
      Gem.Remove_Path(dest, seam, W, E, G, M, FILTER_SOBEL);
    }
  };
  // The messages of one carve whose n-th worker start fails (none for n = 0).
  auto failing = [&](int n, const std::function<void()>& carve) {
    const size_t before = Messages.Texts().size();
    os::FailThreadStart(n);
    carve();
    os::FailThreadStart(0);
    const std::vector<std::string> all = Messages.Texts();
    return std::vector<std::string>(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
  };
  for (bool widen : {true, false}) {
    // Eight starts for the grey image and the edges, then 14 per inserted or
    // 10 per removed seam.
    const int starts = 8 + (widen ? 14 : 10) * seams;
    for (int n = 0; n <= starts + 1; ++n) {
      GML_Int carriedW(0, 0), plainW(0, 0);
      carriedW.Assign(weights);
      plainW.Assign(weights);
      GML_Color carried(0, 0), plain(0, 0);
      const std::vector<std::string> carriedMessages = failing(n, [&] {
        if (widen)
          Gem.Enlarge_Width(src, carriedW, w + seams, 400, FILTER_SOBEL, true, carried);
        else
          Gem.Reduce_Width(src, carriedW, w - seams, FILTER_SOBEL, true, carried);
      });
      const std::vector<std::string> plainMessages = failing(n, [&] {
        if (widen)
          plainEnlarge(plainW, plain);
        else
          plainReduce(plainW, plain);
      });
      EXPECT_TRUE(SameContent(carried, plain)) << "widen " << widen << " n " << n;
      EXPECT_TRUE(SameContent(carriedW, plainW)) << "widen " << widen << " n " << n;
      EXPECT_EQ(carriedMessages, plainMessages) << "widen " << widen << " n " << n;
      EXPECT_EQ(carriedMessages.size(), n >= 1 && n <= starts ? 1u : 0u) << "widen " << widen << " n " << n;
    }
  }
}

TEST(Condition, SignalWithoutWaiterChangesNothing) {
  TCondition c;
  c.Signal();
  TCondition::Counters k = c.Peek();
  EXPECT_EQ(k.Blocked, 0);
  EXPECT_EQ(k.Gone, 0);
  EXPECT_EQ(k.ToUnblock, 0);
}

TEST(Condition, SignalWakesWaitersOneByOne) {
  TLock lock;
  TCondition cond;
  int ready = 0, woken = 0;
  std::vector<std::thread> waiters;
  for (int i = 0; i < 3; ++i)
    waiters.emplace_back([&] {
      lock.Enter();
      ++ready;
      cond.Wait(lock);
      ++woken;
      lock.Leave();
    });
  for (int i = 1; i <= 3; ++i) {
    for (;;) {
      lock.Enter();
      // Everyone registered as blocked before the first signal.
      const bool go = ready == 3 && woken == i - 1;
      if (go) cond.Signal();
      lock.Leave();
      if (go) break;
      std::this_thread::yield();
    }
    for (;;) {
      lock.Enter();
      const int w = woken;
      lock.Leave();
      if (w == i) break;
      std::this_thread::yield();
    }
  }
  for (auto& t : waiters) t.join();
  EXPECT_EQ(woken, 3);
  TCondition::Counters k = cond.Peek();
  EXPECT_EQ(k.Blocked, 0);
  EXPECT_EQ(k.ToUnblock, 0);
}

TEST(Condition, SemaphoreThatCannotBeMadeRaisesThroughTheCarve) {
  for (int n : {1, 2}) {
    os::FailSemaphoreCreate(n);
    EXPECT_THROW(TCondition(), EOSError);
  }
  GML_Color src = MakePicture(12, 6), dest(0, 0);
  GML_Int weights(12, 6), work(0, 0);
  TGEM gem;
  os::FailSemaphoreCreate(1);
  EXPECT_THROW(gem.Fit_Image(src, weights, 10, 6, 400, 0, true, work, dest), EOSError);
  os::FailSemaphoreCreate(0);
}

}  // namespace
