// Headless backend: the interrupt key is SIGINT.
#include "os/Console.h"

#include <csignal>

namespace os {

namespace {
void (*volatile gHandler)() = nullptr;
extern "C" void OnSigInt(int) {
  if (gHandler) gHandler();
}
}  // namespace

void SetInterruptHandler(void (*handler)()) {
  gHandler = handler;
  struct sigaction sa {};
  sa.sa_handler = handler ? OnSigInt : SIG_DFL;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
}

}  // namespace os
