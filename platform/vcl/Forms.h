#pragma once
// The application loop: serves, in order of arrival, the calls that threads
// hand over to the main thread and their termination handlers.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "vcl/Classes.h"

class TApplication {
 public:
  TApplication();

  // Runs every queued call, then returns.
  void ProcessMessages();
  // Runs the next queued call, waiting at most timeoutMs for one.
  // Returns whether a call was run.
  bool HandleMessage(int timeoutMs);
  // Wakes a HandleMessage that waits (safe from any thread).
  void Wake();

  bool IsMainThread() const { return std::this_thread::get_id() == FMainThread; }
  // Makes the calling thread the main thread (start of a program or test).
  void SetMainThread() { FMainThread = std::this_thread::get_id(); }

  // For TThread: queues a call and waits until it has run or was dropped.
  bool SyncCall(TThread* thread, const TThreadMethod& method);
  // For TThread::Abandon.
  void Abandon(TThread* thread);
  // For TThread at the end of its body; returns whether the thread must free itself.
  bool BodyDone(TThread* thread);

  size_t PendingCount();

 private:
  enum { kPending, kRan, kDropped };
  struct TEntry {
    TThread* Thread;
    const TThreadMethod* Method;
    int* State;
    std::exception_ptr* Error;
  };
  std::thread::id FMainThread;
  std::mutex FLock;
  std::condition_variable FQueued;  // main thread: work arrived
  std::condition_variable FRan;     // threads: their call ran or was dropped
  std::deque<TEntry> FQueue;
  bool FWake = false;
};

extern TApplication Application;
