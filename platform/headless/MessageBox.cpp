// Headless backend: message boxes print "caption: text" to standard error.
#include <cstdio>

#include "os/MessageBox.h"
#include "os/OsInternal.h"

namespace os::detail {

int SystemMessageBox(const std::string& text, const std::string& caption, unsigned) {
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
  return IDOK;
}

}  // namespace os::detail
