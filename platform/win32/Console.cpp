// Windows backend: the interrupt key through the console control handler.
#include "os/Console.h"

#include <windows.h>

namespace os {

namespace {
void (*volatile gHandler)() = nullptr;
BOOL WINAPI OnCtrl(DWORD type) {
  if ((type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT) && gHandler) {
    gHandler();
    return TRUE;
  }
  return FALSE;
}
}  // namespace

void SetInterruptHandler(void (*handler)()) {
  gHandler = handler;
  SetConsoleCtrlHandler(OnCtrl, handler ? TRUE : FALSE);
}

}  // namespace os
