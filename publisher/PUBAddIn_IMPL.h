#pragma once
// The Publisher add-in object: the carve settings, the Setup command and the
// pre-scaling of the picture before it is carved.
#include <cstdint>
#include <memory>

#include "vcl/Graphics.h"
#include "vcl/System.h"

// Round(Side x Factor), the product in extended precision and halves to the
// even neighbour: the size of a side after scaling by Factor, for the
// pre-scaled picture and for the carve's result alike.
int32_t ScaledSide(int32_t Side, double Factor);

class TPUBAddIn : public TObject {
 public:
  TPUBAddIn();
  ~TPUBAddIn() override;

  // Every connection starts again from these; nothing is stored elsewhere.
  void SetDefaultSettings();

  // The Setup command: edits the five settings in a modal dialog and takes
  // them back, all at once, only when the user presses OK.
  void ShowSetup();

  // Returns a new 24-bit copy of FSourceBitmap to carve, scaled uniformly
  // first when both ratios lie on the same side of 1 and the setting asks for
  // it, and the factors the carve must still apply to its width and height.
  // With Good or High quality, FSourceBitmap is converted to 24 bits per
  // pixel in place. Errors of the resampler pass to the caller.
  std::unique_ptr<TBitmap> PrescalePicture(double& HFactor, double& VFactor, double WidthRatio, double HeightRatio);

  // The carve settings.
  uint8_t FFilter = 0;
  int32_t FStretch = 400;
  int32_t FMaskWeight = 100;
  int32_t FSamplingQuality = 2;
  bool FScaleBeforeCarving = true;

  // The picture as taken from the clipboard; made and freed by the commands.
  std::unique_ptr<TBitmap> FSourceBitmap;
};
