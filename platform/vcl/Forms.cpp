#include "vcl/Forms.h"

#include <chrono>

TApplication Application;

TApplication::TApplication() : FMainThread(std::this_thread::get_id()) {}

void TApplication::ProcessMessages() {
  while (HandleMessage(0)) {
  }
}

void TApplication::Wake() {
  {
    std::lock_guard<std::mutex> l(FLock);
    FWake = true;
  }
  FQueued.notify_all();
}

bool TApplication::HandleMessage(int timeoutMs) {
  std::unique_lock<std::mutex> l(FLock);
  if (FQueue.empty() && !FWake && timeoutMs > 0)
    FQueued.wait_for(l, std::chrono::milliseconds(timeoutMs), [this] { return !FQueue.empty() || FWake; });
  FWake = false;
  if (FQueue.empty()) return false;
  TEntry e = FQueue.front();
  FQueue.pop_front();
  l.unlock();
  try {
    (*e.Method)();
  } catch (...) {
    *e.Error = std::current_exception();
  }
  l.lock();
  *e.State = kRan;
  FRan.notify_all();
  return true;
}

bool TApplication::SyncCall(TThread* thread, const TThreadMethod& method) {
  int state = kPending;
  std::exception_ptr error;
  {
    std::unique_lock<std::mutex> l(FLock);
    if (thread->FAbandoned) return false;
    FQueue.push_back({thread, &method, &state, &error});
    FQueued.notify_all();
    FRan.wait(l, [&] { return state != kPending; });
  }
  if (error) std::rethrow_exception(error);
  return state == kRan;
}

void TApplication::Abandon(TThread* thread) {
  bool freeHere;
  {
    std::lock_guard<std::mutex> l(FLock);
    thread->FAbandoned = true;
    for (auto it = FQueue.begin(); it != FQueue.end();) {
      if (it->Thread == thread) {
        *it->State = kDropped;
        it = FQueue.erase(it);
      } else {
        ++it;
      }
    }
    freeHere = thread->FBodyDone;
  }
  FRan.notify_all();
  if (freeHere) delete thread;
}

bool TApplication::BodyDone(TThread* thread) {
  std::lock_guard<std::mutex> l(FLock);
  thread->FBodyDone = true;
  return thread->FAbandoned || thread->FreeOnTerminate;
}

size_t TApplication::PendingCount() {
  std::lock_guard<std::mutex> l(FLock);
  return FQueue.size();
}
