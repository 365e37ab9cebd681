#pragma once
// Extended precision (long double) is only extended while the x87 unit runs
// at 64-bit precision. A host program may have set it lower (53 bits is
// common on Windows), and sizes and filter weights that fall on the last bits
// of a half would then round differently. The guard sets 64 bits for one
// computation and gives the caller its own setting back.
#include <cstdint>

namespace os {

class TExtendedPrecision {
 public:
  TExtendedPrecision();
  ~TExtendedPrecision();
  TExtendedPrecision(const TExtendedPrecision&) = delete;
  TExtendedPrecision& operator=(const TExtendedPrecision&) = delete;

 private:
  uint16_t FSaved;
};

// The x87 precision control: 0 for 24 bits, 2 for 53 bits, 3 for 64 bits
// (always 3 where there is no x87 unit).
int X87Precision();
void SetX87Precision(int control);

}  // namespace os
