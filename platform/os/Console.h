#pragma once
// The console's interrupt key (Ctrl-C).

namespace os {

// Calls handler when the user interrupts the program. The handler runs in a
// signal or system context: it may only set flags. nullptr restores the default.
void SetInterruptHandler(void (*handler)());

}  // namespace os
