#pragma once
// Plain message boxes with an OK button.
#include <functional>
#include <string>

namespace os {

enum : unsigned { MB_OK = 0, MB_ICONERROR = 0x10, MB_ICONINFORMATION = 0x40 };
enum : int { IDOK = 1 };

// Shows text under caption and returns the button pressed.
int MessageBox(const std::string& text, const std::string& caption, unsigned flags = MB_OK);

// Where message boxes go instead of the screen; an empty sink restores the
// backend's own. The sink may be called from any thread.
using MessageBoxSink = std::function<int(const std::string& text, const std::string& caption, unsigned flags)>;
void SetMessageBoxSink(MessageBoxSink sink);

}  // namespace os
