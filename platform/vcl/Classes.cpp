#include "vcl/Classes.h"

#include "vcl/Forms.h"

namespace {
std::atomic<int> gLive{0};
}

int TThread::LiveCount() { return gLive.load(); }

TThread::TThread(bool CreateSuspended) {
  FStart = os::Semaphore::Create(0, 1);
  if (!FStart) throw EThread("Thread creation error: the start signal could not be made");
  FHandle = os::BeginThread(ThreadMain, this);
  if (!FHandle) {
    delete FStart;
    throw EThread("Thread creation error: the system could not start a thread");
  }
  ++gLive;
  if (!CreateSuspended) Resume();
}

TThread::~TThread() {
  if (FHandle) {
    if (!FResumed) {
      FRunBody = false;
      FStart->Release(1);
    } else {
      Terminate();
      WaitFor();
    }
    os::CloseThread(FHandle);
  }
  delete FStart;
  --gLive;
}

void TThread::Resume() {
  if (FResumed) return;
  FResumed = true;
  FStart->Release(1);
}

void TThread::WaitFor() {
  // The thread may be waiting for a call that only the main thread can run.
  while (!FFinished.load()) {
    if (Application.IsMainThread())
      Application.HandleMessage(5);
    else
      std::this_thread::yield();
  }
}

bool TThread::Synchronize(const TThreadMethod& method) {
  if (Application.IsMainThread()) {
    method();
    return true;
  }
  return Application.SyncCall(this, method);
}

unsigned TThread::ThreadMain(void* self) {
  auto* t = static_cast<TThread*>(self);
  t->FStart->Wait();
  if (t->FRunBody) t->Run();
  return 0;
}

void TThread::Run() {
  try {
    Execute();
  } catch (...) {
    FFatalException = std::current_exception();
  }
  try {
    Synchronize([this] {
      if (OnTerminate) OnTerminate(this);
    });
  } catch (...) {
    // An error in the handler has nowhere to go; the thread still ends.
  }
  FFinished.store(true);
  if (Application.BodyDone(this)) {
    os::DetachThread(FHandle);
    FHandle = nullptr;
    delete this;
  }
}

void TThread::Abandon() { Application.Abandon(this); }
