#include "os/FloatPrecision.h"

namespace os {
namespace {

#if defined(__i386__) || defined(__x86_64__)
uint16_t ControlWord() {
  uint16_t cw;
  __asm__ __volatile__("fnstcw %0" : "=m"(cw));
  return cw;
}
void SetControlWord(uint16_t cw) { __asm__ __volatile__("fldcw %0" : : "m"(cw)); }
#else
uint16_t ControlWord() { return 0x300; }
void SetControlWord(uint16_t) {}
#endif

constexpr uint16_t kPrecisionBits = 0x300;

}  // namespace

TExtendedPrecision::TExtendedPrecision() : FSaved(ControlWord()) {
  SetControlWord(static_cast<uint16_t>(FSaved | kPrecisionBits));
}

TExtendedPrecision::~TExtendedPrecision() { SetControlWord(FSaved); }

int X87Precision() { return (ControlWord() & kPrecisionBits) >> 8; }

void SetX87Precision(int control) {
  SetControlWord(static_cast<uint16_t>((ControlWord() & ~kPrecisionBits) | ((control & 3) << 8)));
}

}  // namespace os
