// Headless backend: message boxes print "caption: text" to standard error.
#include "os/MessageBox.h"

#include <cstdio>
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
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
  return IDOK;
}

}  // namespace os
