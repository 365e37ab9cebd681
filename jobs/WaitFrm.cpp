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

namespace {

// The product logo: the name's initial over a band carved by a seam, in the
// logo's stated size.
void DrawLogo(TBitmap& b) {
  b.SetPixelFormat(pf24bit);
  b.SetSize(276, 80);
  TCanvas& c = *b.Canvas();
  c.FillRect({0, 0, 276, 80}, clWhite);
  for (int32_t x = 0; x < 276; ++x) {
    const uint8_t shade = uint8_t(60 + x * 150 / 275);
    const int32_t seam = 40 + int32_t(12 * std::sin(x / 18.0));
    for (int32_t y = 20; y < 60; ++y)
      c.SetPixel(x, y, std::abs(y - seam) < 2 ? clWhite : RGBColor(0, shade, uint8_t(255 - shade / 2)));
  }
  c.FillRect({14, 26, 20, 54}, clWhite);  // the stem of a P
  c.FillRect({20, 26, 34, 31}, clWhite);
  c.FillRect({20, 38, 34, 43}, clWhite);
  c.FillRect({30, 26, 35, 43}, clWhite);
}

}  // namespace

TWaitingFrm::TWaitingFrm(TComponent* AOwner) : TForm(AOwner) {
  Name = "WaitingFrm";
  Caption = "Plivane - Processing";
  BorderStyle = bsToolWindow;
  BorderIcons = 0;  // no system menu, no close box: only Cancel ends it early
  ClientWidth = 280;
  ClientHeight = 120;
  Color = clWhite;
  Font.Name = "Tahoma";
  Font.Height = -11;
  FormStyle = fsStayOnTop;
  Position = poOwnerFormCenter;

  Image1 = new TImage(this);
  Image1->Name = "Image1";
  Image1->Align = alClient;
  Image1->SetBounds(0, 0, 280, 120);
  DrawLogo(*Image1->Picture());

  BitBtn1 = new TBitBtn(this);
  BitBtn1->Name = "BitBtn1";
  BitBtn1->SetBounds(104, 87, 75, 25);
  BitBtn1->Caption = "Cancel";
  BitBtn1->TabOrder = 0;
  BitBtn1->Cancel = true;
  BitBtn1->ModalResult = mrCancel;
  BitBtn1->OnClick = [this](TObject* Sender) { BitBtn1Click(Sender); };
  BitBtn1->LoadStockGlyph(bkCancel);
}

TWaitingFrm::~TWaitingFrm() {
  // Abandon frees an ended job at once, and a running one when its body
  // returns, without letting anything it still queues reach the bitmaps.
  if (FThread) {
    FThread->Terminate();
    FThread->Abandon();
  }
}

void TWaitingFrm::InitThread(TCarveRequest Request) {
  FThread = new TWorkerThread(Request);
  FThread->OnTerminate = [this](TObject* Sender) { OnTerminate(Sender); };
  FThread->Resume();
}

void TWaitingFrm::OnTerminate(TObject*) { ModalResult = mrOk; }

std::exception_ptr TWaitingFrm::JobError() const { return FThread ? FThread->FatalException() : nullptr; }

void TWaitingFrm::BitBtn1Click(TObject*) {
  if (FThread) {
    FThread->Terminate();
    // From here on none of its queued or later calls runs, its termination
    // handler included; it frees itself and its matrices once the engine's
    // step in progress has returned.
    FThread->Abandon();
    FThread = nullptr;
  }
  ModalResult = mrCancel;
}
