// Windows backend: the system's message box, unless a sink is set.
#include "os/MessageBox.h"

#include <windows.h>
// The system header makes MessageBox a macro, which would rename ours.
#undef MessageBox

#include <mutex>

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
  if (sink) return sink(text, caption, flags);
  return ::MessageBoxA(nullptr, text.c_str(), caption.c_str(), flags);
}

}  // namespace os
