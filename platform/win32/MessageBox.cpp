// Windows backend: the system's message box.
#include <windows.h>

#include "os/OsInternal.h"

namespace os::detail {

int SystemMessageBox(const std::string& text, const std::string& caption, unsigned flags) {
  return ::MessageBoxA(nullptr, text.c_str(), caption.c_str(), flags);
}

}  // namespace os::detail
