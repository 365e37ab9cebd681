#pragma once
// The class library's thread class: created suspended, resumed, asked to stop,
// handing calls over to the main thread, with a termination handler that runs
// on the main thread.
#include <atomic>
#include <exception>
#include <functional>

#include "os/OsThreads.h"
#include "vcl/System.h"

using TNotifyEvent = std::function<void(TObject* Sender)>;
using TThreadMethod = std::function<void()>;

class EThread : public Exception {
 public:
  using Exception::Exception;
};

class TThread : public TObject {
 public:
  // Creates the system thread; it runs Execute once resumed.
  // Raises EThread when the system thread cannot be made.
  explicit TThread(bool CreateSuspended);
  // Waits for a resumed thread to end (asking it to stop first); a thread
  // never resumed is ended without running Execute.
  ~TThread() override;

  void Resume();
  void Terminate() { FTerminated.store(true); }
  bool Terminated() const { return FTerminated.load(); }
  // Waits until Execute and the termination handler are done.
  void WaitFor();
  bool Finished() const { return FFinished.load(); }
  // The error that ended Execute, if any.
  std::exception_ptr FatalException() const { return FFatalException; }

  // Main thread only. Set before Resume.
  TNotifyEvent OnTerminate;
  bool FreeOnTerminate = false;

  // Main thread only: gives the thread up. Calls it had queued for the main
  // thread are dropped, none it queues later will run, its termination
  // handler will not run, and the object frees itself once its body has
  // returned (at once if it already has).
  void Abandon();

  // Thread objects in existence, abandoned ones included.
  static int LiveCount();

 protected:
  virtual void Execute() = 0;
  // Runs method on the main thread and waits for it. Returns false when the
  // call was dropped because the thread was abandoned.
  bool Synchronize(const TThreadMethod& method);

 private:
  static unsigned ThreadMain(void* self);
  void Run();

  os::ThreadHandle* FHandle = nullptr;
  os::Semaphore* FStart = nullptr;
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FFinished{false};
  bool FResumed = false;
  bool FRunBody = true;
  std::exception_ptr FFatalException;
  // Guarded by the application's queue lock.
  bool FAbandoned = false;
  bool FBodyDone = false;

  friend class TApplication;
};
