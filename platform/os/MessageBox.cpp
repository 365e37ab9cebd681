// Message boxes go to the sink when one is set, else to the backend.
#include "os/MessageBox.h"

#include <mutex>

#include "os/OsInternal.h"

namespace os {

namespace {
std::mutex gSinkLock;
MessageBoxSink gSink;
}  // namespace

void SetMessageBoxSink(MessageBoxSink sink) {
  std::lock_guard<std::mutex> l(gSinkLock);
  gSink = std::move(sink);
}

int MessageBox(const std::string& text, const std::string& caption, unsigned flags) {
  MessageBoxSink sink;
  {
    std::lock_guard<std::mutex> l(gSinkLock);
    sink = gSink;
  }
  return sink ? sink(text, caption, flags) : detail::SystemMessageBox(text, caption, flags);
}

namespace detail {
bool HookFires(std::atomic<int>& counter) {
  int n = counter.load();
  while (n > 0) {
    if (counter.compare_exchange_weak(n, n - 1)) return n == 1;
  }
  return false;
}
}  // namespace detail

}  // namespace os
