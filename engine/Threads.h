#pragma once
// The lock and the condition that the cost-map workers share, and the
// start-and-wait pattern of the engine's band workers.
#include <cstdint>

#include "os/OsThreads.h"
#include "vcl/System.h"

class TLock : public TObject {
 public:
  TLock() = default;
  void Enter() { FSection.Enter(); }
  void Leave() { FSection.Leave(); }

 private:
  os::CriticalSection FSection;
};

// A condition built from two semaphores and counters, so that a signal given
// while nobody waits is not kept for a later waiter.
class TCondition : public TObject {
 public:
  TCondition();  // raises EOSError when a semaphore cannot be made
  ~TCondition() override;

  void Signal() { DoSignal(false); }
  void Broadcast() { DoSignal(true); }
  // Leaves lock (held once by the caller), sleeps until signalled, enters it again.
  void Wait(TLock& lock);

  struct Counters {
    int32_t Blocked, Gone, ToUnblock;
  };
  Counters Peek();  // for tests

 private:
  void DoSignal(bool all);

  struct {
    os::Semaphore* Gate;
    os::Semaphore* Queue;
    os::CriticalSection* CounterLock;
    int32_t Blocked;
    int32_t Gone;
    int32_t ToUnblock;
  } FRec{};
};

// Starts workers one after the other and waits for all of them. A worker that
// cannot be started ends the step: the ones already running are still waited
// for, so that what they work on stays valid until they have ended.
class TWorkerGroup {
 public:
  explicit TWorkerGroup(const char* failureMessage) : FMessage(failureMessage) {}
  ~TWorkerGroup() { Wait(); }
  TWorkerGroup(const TWorkerGroup&) = delete;
  TWorkerGroup& operator=(const TWorkerGroup&) = delete;

  // Shows the step's message and returns false when the thread cannot start.
  bool Start(os::ThreadProc proc, void* block);
  void Wait();

 private:
  const char* FMessage;
  os::ThreadHandle* FHandles[4]{};
  int FCount = 0;
};
