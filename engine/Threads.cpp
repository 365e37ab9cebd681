#include "engine/Threads.h"

#include "os/MessageBox.h"

namespace {
constexpr int32_t kMaxCount = 2147483647;
}

TCondition::TCondition() {
  FRec.Gate = os::Semaphore::Create(1, kMaxCount);
  if (!FRec.Gate) RaiseLastOSError();
  FRec.Queue = os::Semaphore::Create(0, kMaxCount);
  if (!FRec.Queue) {
    delete FRec.Gate;
    RaiseLastOSError();
  }
  FRec.CounterLock = new os::CriticalSection;
}

TCondition::~TCondition() {
  delete FRec.Gate;
  delete FRec.Queue;
  delete FRec.CounterLock;
}

void TCondition::DoSignal(bool all) {
  int32_t n;
  FRec.CounterLock->Enter();
  if (FRec.ToUnblock != 0) {
    if (FRec.Blocked == 0) {
      FRec.CounterLock->Leave();
      return;
    }
    if (all) {
      FRec.ToUnblock += FRec.Blocked;
      n = FRec.Blocked;
      FRec.Blocked = 0;
    } else {
      FRec.ToUnblock += 1;
      FRec.Blocked -= 1;
      n = 1;
    }
  } else if (FRec.Blocked > FRec.Gone) {
    FRec.Gate->Wait();
    if (FRec.Gone != 0) {
      FRec.Blocked -= FRec.Gone;
      FRec.Gone = 0;
    }
    if (all) {
      n = FRec.ToUnblock = FRec.Blocked;
      FRec.Blocked = 0;
    } else {
      n = FRec.ToUnblock = 1;
      FRec.Blocked -= 1;
    }
  } else {
    FRec.CounterLock->Leave();
    return;
  }
  FRec.CounterLock->Leave();
  FRec.Queue->Release(n);
}

void TCondition::Wait(TLock& lock) {
  // The gate alone guards the blocked count here: a signaller takes the gate
  // while holding the counter lock, so taking the counter lock too would
  // invert the order.
  FRec.Gate->Wait();
  FRec.Blocked += 1;
  FRec.Gate->Release(1);

  lock.Leave();
  FRec.Queue->Wait();

  FRec.CounterLock->Enter();
  int32_t left = FRec.ToUnblock;
  if (left != 0) FRec.ToUnblock -= 1;
  FRec.CounterLock->Leave();
  // The last waiter of a signal reopens the gate for the next signaller.
  if (left == 1) FRec.Gate->Release(1);
  lock.Enter();
}

TCondition::Counters TCondition::Peek() {
  FRec.CounterLock->Enter();
  Counters c{FRec.Blocked, FRec.Gone, FRec.ToUnblock};
  FRec.CounterLock->Leave();
  return c;
}

bool TWorkerGroup::Start(os::ThreadProc proc, void* block) {
  os::ThreadHandle* h = os::BeginThread(proc, block);
  if (!h) {
    os::MessageBox(FMessage, "Plivane", os::MB_OK | os::MB_ICONERROR);
    return false;
  }
  FHandles[FCount++] = h;
  return true;
}

void TWorkerGroup::Wait() {
  if (FCount == 0) return;
  os::WaitForThreads(FHandles, FCount);
  for (int i = 0; i < FCount; ++i) os::CloseThread(FHandles[i]);
  FCount = 0;
}
