#include "publisher/PUBAddIn_IMPL.h"

#include "jobs/Resampling.h"
#include "os/FloatPrecision.h"
#include "publisher/setup.h"

int32_t ScaledSide(int32_t Side, double Factor) {
  const os::TExtendedPrecision extended;  // the host may run the x87 unit at 53 bits
  return RoundHalfEven(static_cast<long double>(Side) * static_cast<long double>(Factor));
}

TPUBAddIn::TPUBAddIn() { SetDefaultSettings(); }

TPUBAddIn::~TPUBAddIn() = default;

void TPUBAddIn::SetDefaultSettings() {
  FFilter = 0;
  FStretch = 400;
  FMaskWeight = 100;
  FSamplingQuality = 2;
  FScaleBeforeCarving = true;
}

void TPUBAddIn::ShowSetup() {
  std::unique_ptr<TSetupFrm> form(new TSetupFrm(nullptr));
  form->ComboBox1->SetItemIndex(FFilter);
  form->TrackBar1->SetPosition(FStretch);
  form->TrackBar2->SetPosition(FMaskWeight);
  form->ScaleRG->SetItemIndex(FSamplingQuality);
  // Loading false greys the quality group through the check box's handler.
  form->chkScale->SetChecked(FScaleBeforeCarving);
  if (form->ShowModal() != mrOk) return;
  FFilter = static_cast<uint8_t>(form->ComboBox1->ItemIndex());
  FStretch = form->TrackBar1->Position();
  FMaskWeight = form->TrackBar2->Position();
  FSamplingQuality = form->ScaleRG->ItemIndex();
  FScaleBeforeCarving = form->chkScale->Checked();
}

std::unique_ptr<TBitmap> TPUBAddIn::PrescalePicture(double& HFactor, double& VFactor, double WidthRatio,
                                                   double HeightRatio) {
  if (!FSourceBitmap) throw Exception("PrescalePicture: there is no source picture");
  TBitmap& source = *FSourceBitmap;
  const bool bothBelow = WidthRatio < 1.0 && HeightRatio < 1.0;
  const bool bothAbove = WidthRatio > 1.0 && HeightRatio > 1.0;
  if (FScaleBeforeCarving && (bothBelow || bothAbove)) {
    // The uniform part of the change is the ratio nearer to 1; the carve
    // does the rest in the other direction.
    double s;
    if (bothBelow)
      s = WidthRatio > HeightRatio ? WidthRatio : HeightRatio;
    else
      s = WidthRatio < HeightRatio ? WidthRatio : HeightRatio;
    const int32_t width = ScaledSide(source.Width(), s);
    const int32_t height = ScaledSide(source.Height(), s);
    // A picture a pixel or two across can round to no pixels at all, which
    // the resampler cannot fill: it is then carved from its original size.
    if (width >= 1 && height >= 1) {
      auto result = std::make_unique<TBitmap>();
      result->SetSize(width, height);
      result->SetPixelFormat(pf24bit);
      Resample(source, *result, static_cast<TResampleMethod>(FSamplingQuality));
      HFactor = 1.0;
      VFactor = 1.0;
      if (WidthRatio != HeightRatio) {
        if (s == WidthRatio)
          VFactor = HeightRatio / s;
        else
          HFactor = WidthRatio / s;
      }
      return result;
    }
  }
  HFactor = WidthRatio;
  VFactor = HeightRatio;
  // A 1:1 copy converted to 24 bits; a source without pixels gives an empty copy.
  auto result = std::make_unique<TBitmap>();
  result->SetPixelFormat(pf24bit);
  result->SetSize(source.Width(), source.Height());
  result->Canvas()->StretchDraw({0, 0, source.Width(), source.Height()}, source);
  return result;
}
