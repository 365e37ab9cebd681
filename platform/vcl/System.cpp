#include "vcl/System.h"

#include <cmath>

#include "os/OsThreads.h"

void RaiseLastOSError() {
  uint32_t code = os::LastErrorCode();
  throw EOSError(code, "System Error.  Code: " + std::to_string(code) + ".");
}

int32_t RoundHalfEven(long double v) {
  long double f = std::floor(v);
  long double d = v - f;
  if (d > 0.5L || (d == 0.5L && std::fmod(f, 2.0L) != 0)) f += 1;
  return static_cast<int32_t>(f);
}
