#include "jobs/WaitFrm.h"

#include <cmath>

TColor MakeRGB(uint8_t Red, uint8_t Green, uint8_t Blue) { return Red + Green * 256u + Blue * 65536u; }

TWorkerThread::TWorkerThread(const TCarveRequest& Request) : TThread(true), FRequest(Request) {
  FreeOnTerminate = false;
}

void TWorkerThread::Execute() {
  const TCarveRequest& r = FRequest;
  // The job owns its matrices; they go when Execute ends, whichever way.
  FWeights = std::make_unique<GML_Int>(r.SrcWidth, r.SrcHeight);
  GML_Int work(r.SrcWidth, r.SrcHeight);
  if (r.UseMask) {
    if (!Synchronize([this] { ReadMask(); })) return;
  } else {
    FWeights->Fill(0);
    work.Fill(0);
  }
  if (Terminated()) return;
  FSource = std::make_unique<GML_Color>(r.SrcWidth, r.SrcHeight);
  if (!Synchronize([this] { ReadSource(); }) || Terminated()) return;
  FResult = std::make_unique<GML_Color>(r.DstWidth, r.DstHeight);

  TGEM engine;
  if (r.UseMask) {
    GML_Color scratch(r.DstWidth, r.DstHeight);
    engine.Remove_Masked(*FSource, *FWeights, 0, 10, r.Stretch, r.Filter, true, work, scratch);
    if (Terminated()) return;
    engine.Fit_Image(scratch, *FWeights, r.DstWidth, r.DstHeight, r.Stretch, r.Filter, true, work, *FResult);
  } else {
    engine.Fit_Image(*FSource, *FWeights, r.DstWidth, r.DstHeight, r.Stretch, r.Filter, true, work, *FResult);
  }
  // After a stop the result is discarded: nothing reaches the bitmaps.
  if (Terminated()) return;
  Synchronize([this] { WriteResult(); });
}

void TWorkerThread::ReadMask() {
  const TCarveRequest& r = FRequest;
  // The product is taken in 32 bits, as the weights are.
  const int32_t product = static_cast<int32_t>(uint32_t(FullMaskWeight) * uint32_t(r.MaskWeight));
  const int32_t protect = static_cast<int32_t>(std::nearbyint(static_cast<double>(product) / 100.0));
  for (int32_t x = 0; x < r.SrcWidth; ++x)
    for (int32_t y = 0; y < r.SrcHeight; ++y) {
      const TColor c = r.MaskCanvas->GetPixel(x, y);
      FWeights->Set(x, y, c == MaskProtectColor ? protect : (c == MaskRemoveColor ? -protect : 0));
    }
}

void TWorkerThread::ReadSource() {
  const TCarveRequest& r = FRequest;
  FSource->SetSize(r.SrcWidth, r.SrcHeight);
  for (int32_t y = 0; y < r.SrcHeight; ++y)
    for (int32_t x = 0; x < r.SrcWidth; ++x) {
      const TColor c = r.SrcCanvas->GetPixel(x, y);
      FSource->Set(x, y, MakePixel(uint8_t(c & 255), uint8_t((c >> 8) & 255), uint8_t((c >> 16) & 255), 1));
    }
}

void TWorkerThread::WriteResult() {
  GML_Color& res = *FResult;
  for (int32_t y = 0; y < res.Height; ++y)
    for (int32_t x = 0; x < res.Width; ++x) {
      const GML_RGBA p = res.Get(x, y);
      FRequest.DstCanvas->SetPixel(x, y, MakeRGB(PixelRed(p), PixelGreen(p), PixelBlue(p)));
    }
}
