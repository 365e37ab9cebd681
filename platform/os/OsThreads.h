#pragma once
// Operating-system threads, critical sections and semaphores.
// One implementation per backend (headless/, win32/).
#include <cstdint>

namespace os {

using ThreadProc = unsigned (*)(void* arg);
struct ThreadHandle;  // opaque, owned by whoever started the thread

// Starts a thread with the default stack size that runs at once.
// Returns nullptr when the thread cannot be started.
ThreadHandle* BeginThread(ThreadProc proc, void* arg);
// Waits, without a time limit, until every one of the n threads has ended.
void WaitForThreads(ThreadHandle* const* handles, int n);
// Waits for the thread if it has not been waited for, then frees the handle.
void CloseThread(ThreadHandle* handle);
// Lets the thread run on by itself; the handle is freed.
void DetachThread(ThreadHandle* handle);

// Test hook: the n-th thread start from now on fails (1 = the next one);
// 0 switches the hook off. Counts starts from every thread of the process.
void FailThreadStart(int n);

// A lock for the threads of one process; the holder may enter it again.
class CriticalSection {
 public:
  CriticalSection();
  ~CriticalSection();
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;
  void Enter();
  void Leave();

 private:
  alignas(8) unsigned char FStorage[64];
};

// A counting semaphore with a maximum count.
class Semaphore {
 public:
  // Returns nullptr when the system cannot make one.
  static Semaphore* Create(int32_t initial, int32_t maximum);
  virtual ~Semaphore() = default;
  virtual void Wait() = 0;
  // Adds n to the count; false when that would pass the maximum.
  virtual bool Release(int32_t n) = 0;
};

// Test hook: the n-th semaphore creation from now on fails; 0 switches it off.
void FailSemaphoreCreate(int n);

// The system's last error, as a number and a text.
uint32_t LastErrorCode();

}  // namespace os
