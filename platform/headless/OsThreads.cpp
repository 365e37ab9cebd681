// Headless backend: threads and locks on the C++ standard library.
#include "os/OsThreads.h"
#include "os/OsInternal.h"

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>

namespace os {

namespace {
std::atomic<int> gFailThreadIn{0};
std::atomic<int> gFailSemaphoreIn{0};
std::atomic<uint32_t> gLastError{0};

}  // namespace

struct ThreadHandle {
  std::thread Thread;
};

ThreadHandle* BeginThread(ThreadProc proc, void* arg) {
  if (detail::HookFires(gFailThreadIn)) {
    gLastError = EAGAIN;
    return nullptr;
  }
  auto* h = new (std::nothrow) ThreadHandle;
  if (!h) return nullptr;
  try {
    h->Thread = std::thread([proc, arg] { proc(arg); });
  } catch (...) {
    gLastError = EAGAIN;
    delete h;
    return nullptr;
  }
  return h;
}

void WaitForThreads(ThreadHandle* const* handles, int n) {
  for (int i = 0; i < n; ++i)
    if (handles[i] && handles[i]->Thread.joinable()) handles[i]->Thread.join();
}

void CloseThread(ThreadHandle* handle) {
  if (!handle) return;
  if (handle->Thread.joinable()) handle->Thread.join();
  delete handle;
}

void DetachThread(ThreadHandle* handle) {
  if (!handle) return;
  if (handle->Thread.joinable()) handle->Thread.detach();
  delete handle;
}

void FailThreadStart(int n) { gFailThreadIn = n; }
void FailSemaphoreCreate(int n) { gFailSemaphoreIn = n; }
uint32_t LastErrorCode() { return gLastError; }

static_assert(sizeof(std::recursive_mutex) <= 64);

CriticalSection::CriticalSection() { new (FStorage) std::recursive_mutex; }
CriticalSection::~CriticalSection() { reinterpret_cast<std::recursive_mutex*>(FStorage)->~recursive_mutex(); }
void CriticalSection::Enter() { reinterpret_cast<std::recursive_mutex*>(FStorage)->lock(); }
void CriticalSection::Leave() { reinterpret_cast<std::recursive_mutex*>(FStorage)->unlock(); }

namespace {
class StdSemaphore final : public Semaphore {
 public:
  StdSemaphore(int32_t initial, int32_t maximum) : FCount(initial), FMax(maximum) {}
  void Wait() override {
    std::unique_lock<std::mutex> l(FMutex);
    FCond.wait(l, [this] { return FCount > 0; });
    --FCount;
  }
  bool Release(int32_t n) override {
    {
      std::lock_guard<std::mutex> l(FMutex);
      if (n <= 0 || FCount > FMax - n) return false;
      FCount += n;
    }
    if (n == 1)
      FCond.notify_one();
    else
      FCond.notify_all();
    return true;
  }

 private:
  std::mutex FMutex;
  std::condition_variable FCond;
  int32_t FCount;
  int32_t FMax;
};
}  // namespace

Semaphore* Semaphore::Create(int32_t initial, int32_t maximum) {
  if (detail::HookFires(gFailSemaphoreIn) || initial < 0 || maximum <= 0 || initial > maximum) {
    gLastError = EINVAL;
    return nullptr;
  }
  return new (std::nothrow) StdSemaphore(initial, maximum);
}

}  // namespace os
