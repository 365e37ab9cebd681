// Threads of the class library: hand-over to the main thread, termination
// handlers, giving a thread up, and the start-failure hook.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "os/OsThreads.h"
#include "vcl/Classes.h"
#include "vcl/Forms.h"

namespace {

void RunLoopUntil(const std::function<bool()>& done) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!done() && std::chrono::steady_clock::now() < limit) Application.HandleMessage(5);
  ASSERT_TRUE(done());
}

void WaitForNoThreads() {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (TThread::LiveCount() != 0 && std::chrono::steady_clock::now() < limit)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_EQ(TThread::LiveCount(), 0);
}

class TCallingThread : public TThread {
 public:
  TCallingThread() : TThread(true) {}
  std::atomic<int> Calls{0};
  std::atomic<bool> RanOnMain{true};
  std::atomic<int> Dropped{0};
  std::atomic<bool> Go{true};
  int Steps = 3;
  bool Throw = false;

 protected:
  void Execute() override {
    while (!Go) std::this_thread::yield();
    for (int i = 0; i < Steps; ++i) {
      bool ran = Synchronize([this] {
        if (!Application.IsMainThread()) RanOnMain = false;
        ++Calls;
      });
      if (!ran) ++Dropped;
    }
    if (Throw) throw Exception("job failed");
  }
};

TEST(Thread, CallsRunOnTheMainThreadAndTheHandlerLast) {
  auto* t = new TCallingThread;
  int order = 0, handlerSawCalls = -1;
  t->OnTerminate = [&](TObject* sender) {
    EXPECT_EQ(sender, t);
    EXPECT_TRUE(Application.IsMainThread());
    handlerSawCalls = t->Calls;
    order = 1;
  };
  t->Resume();
  RunLoopUntil([&] { return order == 1; });
  EXPECT_EQ(handlerSawCalls, 3);
  EXPECT_TRUE(t->RanOnMain);
  t->WaitFor();
  EXPECT_FALSE(t->FatalException());
  delete t;  // not freed on termination: the owner frees it
  WaitForNoThreads();
}

TEST(Thread, ErrorInTheBodyIsKeptAndTheHandlerStillRuns) {
  auto* t = new TCallingThread;
  t->Throw = true;
  bool ended = false;
  t->OnTerminate = [&](TObject*) { ended = true; };
  t->Resume();
  RunLoopUntil([&] { return ended; });
  t->WaitFor();
  ASSERT_TRUE(t->FatalException());
  EXPECT_THROW(std::rethrow_exception(t->FatalException()), Exception);
  delete t;
}

TEST(Thread, AbandonedThreadRunsNothingMoreOnTheMainThread) {
  for (int queuedFirst = 0; queuedFirst < 2; ++queuedFirst) {
    auto* t = new TCallingThread;
    t->Go = false;
    bool handlerRan = false;
    t->OnTerminate = [&](TObject*) { handlerRan = true; };
    t->Resume();
    t->Go = true;
    if (queuedFirst) {
      // Let its first call be queued, then give it up before the loop runs it.
      const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      while (Application.PendingCount() == 0 && std::chrono::steady_clock::now() < limit) std::this_thread::yield();
      ASSERT_EQ(Application.PendingCount(), 1u);
    }
    t->Terminate();
    t->Abandon();
    EXPECT_EQ(Application.PendingCount(), 0u);
    // Whatever it does from now on, nothing of it reaches this thread.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
    while (std::chrono::steady_clock::now() < until) Application.HandleMessage(5);
    EXPECT_FALSE(handlerRan);
    WaitForNoThreads();  // it freed itself
  }
}

TEST(Thread, AbandonAfterTheBodyEndedFreesAtOnce) {
  auto* t = new TCallingThread;
  t->Steps = 0;
  t->Resume();
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  // No handler: the body ends without the main thread's help.
  while (!t->Finished() && std::chrono::steady_clock::now() < limit) Application.HandleMessage(5);
  ASSERT_TRUE(t->Finished());
  t->Abandon();
  WaitForNoThreads();
}

TEST(Thread, NeverResumedThreadEndsWithoutRunning) {
  auto* t = new TCallingThread;
  delete t;
  EXPECT_EQ(TThread::LiveCount(), 0);
}

TEST(Thread, StartFailureRaisesAndTheHookCountsStarts) {
  os::FailThreadStart(2);
  auto* first = new TCallingThread;  // the first start succeeds
  EXPECT_THROW(TCallingThread second, EThread);
  TCallingThread third;  // the hook fired once and is off again
  delete first;
}

TEST(Semaphore, CountsAndRespectsItsMaximum) {
  std::unique_ptr<os::Semaphore> s(os::Semaphore::Create(1, 2));
  ASSERT_TRUE(s);
  EXPECT_TRUE(s->Release(1));
  EXPECT_FALSE(s->Release(1));  // would pass the maximum
  s->Wait();
  s->Wait();
  std::atomic<bool> woke{false};
  std::thread waiter([&] {
    s->Wait();
    woke = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(woke);
  s->Release(1);
  waiter.join();
  EXPECT_TRUE(woke);
  EXPECT_EQ(os::Semaphore::Create(3, 2), nullptr);
}

}  // namespace
