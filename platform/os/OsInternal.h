#pragma once
// What the backends supply to the portable parts of the os layer, and back.
#include <atomic>
#include <string>

namespace os::detail {

// The backend's own message box (standard error headless, the system's on Windows).
int SystemMessageBox(const std::string& text, const std::string& caption, unsigned flags);

// True when a test hook counting down to its n-th call fires on this call.
bool HookFires(std::atomic<int>& counter);

}  // namespace os::detail
