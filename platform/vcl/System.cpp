#include "vcl/System.h"

#include <cmath>
#include <cstdint>

#include "os/OsThreads.h"

void RaiseLastOSError() {
  uint32_t code = os::LastErrorCode();
  throw EOSError(code, "System Error.  Code: " + std::to_string(code) + ".");
}

int32_t RoundHalfEven(long double v) {
  // Out of range the nearest representable value; nothing is not a number.
  if (std::isnan(v)) return 0;
  if (v >= 2147483647.0L) return INT32_MAX;
  if (v <= -2147483648.0L) return INT32_MIN;
  long double f = std::floor(v);
  long double d = v - f;
  if (d > 0.5L || (d == 0.5L && std::fmod(f, 2.0L) != 0)) f += 1;
  return static_cast<int32_t>(f);
}
