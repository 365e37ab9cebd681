// Windows backend: threads and locks on Win32.
#include "os/OsThreads.h"
#include "os/OsInternal.h"

#include <windows.h>

#include <atomic>
#include <new>

namespace os {

namespace {
std::atomic<int> gFailThreadIn{0};
std::atomic<int> gFailSemaphoreIn{0};


struct StartBlock {
  ThreadProc Proc;
  void* Arg;
};

DWORD WINAPI ThreadMain(LPVOID p) {
  StartBlock b = *static_cast<StartBlock*>(p);
  delete static_cast<StartBlock*>(p);
  return b.Proc(b.Arg);
}
}  // namespace

struct ThreadHandle {
  HANDLE Handle;
};

ThreadHandle* BeginThread(ThreadProc proc, void* arg) {
  if (detail::HookFires(gFailThreadIn)) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  auto* block = new (std::nothrow) StartBlock{proc, arg};
  auto* h = new (std::nothrow) ThreadHandle{nullptr};
  if (!block || !h) {
    delete block;
    delete h;
    return nullptr;
  }
  h->Handle = CreateThread(nullptr, 0, ThreadMain, block, 0, nullptr);
  if (!h->Handle) {
    delete block;
    delete h;
    return nullptr;
  }
  return h;
}

void WaitForThreads(ThreadHandle* const* handles, int n) {
  HANDLE hs[MAXIMUM_WAIT_OBJECTS];
  int k = 0;
  for (int i = 0; i < n; ++i) {
    if (handles[i]) hs[k++] = handles[i]->Handle;
    if (k == MAXIMUM_WAIT_OBJECTS || (i == n - 1 && k > 0)) {
      WaitForMultipleObjects(k, hs, TRUE, INFINITE);
      k = 0;
    }
  }
}

void CloseThread(ThreadHandle* handle) {
  if (!handle) return;
  WaitForSingleObject(handle->Handle, INFINITE);
  CloseHandle(handle->Handle);
  delete handle;
}

void DetachThread(ThreadHandle* handle) {
  if (!handle) return;
  CloseHandle(handle->Handle);
  delete handle;
}

void FailThreadStart(int n) { gFailThreadIn = n; }
void FailSemaphoreCreate(int n) { gFailSemaphoreIn = n; }
uint32_t LastErrorCode() { return GetLastError(); }

static_assert(sizeof(CRITICAL_SECTION) <= 64);

CriticalSection::CriticalSection() { InitializeCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(FStorage)); }
CriticalSection::~CriticalSection() { DeleteCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(FStorage)); }
void CriticalSection::Enter() { EnterCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(FStorage)); }
void CriticalSection::Leave() { LeaveCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(FStorage)); }

namespace {
class Win32Semaphore final : public Semaphore {
 public:
  explicit Win32Semaphore(HANDLE h) : FHandle(h) {}
  ~Win32Semaphore() override { CloseHandle(FHandle); }
  void Wait() override { WaitForSingleObject(FHandle, INFINITE); }
  bool Release(int32_t n) override { return ReleaseSemaphore(FHandle, n, nullptr) != 0; }

 private:
  HANDLE FHandle;
};
}  // namespace

Semaphore* Semaphore::Create(int32_t initial, int32_t maximum) {
  if (detail::HookFires(gFailSemaphoreIn)) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  HANDLE h = CreateSemaphoreW(nullptr, initial, maximum, nullptr);
  if (!h) return nullptr;
  return new (std::nothrow) Win32Semaphore(h);
}

}  // namespace os
