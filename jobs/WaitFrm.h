#pragma once
// The carve request, the job thread that reads the bitmaps into matrices,
// runs the engine and writes the result back, and the processing dialog shown
// while it runs.
#include <cstdint>
#include <memory>

#include "engine/GEM.h"
#include "vcl/Classes.h"
#include "vcl/Forms.h"
#include "vcl/Graphics.h"

constexpr TColor MaskProtectColor = 0x008000;  // red 0, green 128, blue 0
constexpr TColor MaskRemoveColor = 0x0000FF;   // red 255, green 0, blue 0
constexpr int32_t FullMaskWeight = 214748;

// Filled by a command and copied by value into the job. The drawing surfaces
// are not owned; their bitmaps stay alive until the job has ended.
struct TCarveRequest {
  int32_t SrcWidth = 0;
  int32_t SrcHeight = 0;
  int32_t DstWidth = 0;
  int32_t DstHeight = 0;
  int32_t MaskWeight = 100;
  uint8_t Filter = 0;
  int32_t Stretch = 400;
  TCanvas* MaskCanvas = nullptr;
  TCanvas* SrcCanvas = nullptr;
  TCanvas* DstCanvas = nullptr;
  bool UseMask = false;
};

TColor MakeRGB(uint8_t Red, uint8_t Green, uint8_t Blue);

class TWorkerThread : public TThread {
 public:
  // Copies the request and makes the thread suspended.
  explicit TWorkerThread(const TCarveRequest& Request);

  TCarveRequest FRequest;
  std::unique_ptr<GML_Color> FResult;
  std::unique_ptr<GML_Color> FSource;
  std::unique_ptr<GML_Int> FWeights;

 protected:
  void Execute() override;

 private:
  // Run on the main thread.
  void ReadMask();
  void ReadSource();
  void WriteResult();
};

// Shown modally while a carve job runs: closes itself with mrOk when the job
// has ended; Cancel (or Escape) gives the job up and returns mrCancel at once.
class TWaitingFrm : public TForm {
 public:
  explicit TWaitingFrm(TComponent* AOwner);
  // A job still running is given up; an ended one is freed.
  ~TWaitingFrm() override;

  // Starts the job on a copy of the request; returns at once.
  void InitThread(TCarveRequest Request);
  void OnTerminate(TObject* Sender);
  void BitBtn1Click(TObject* Sender);
  // The error that ended the job early, once the dialog has closed with mrOk;
  // null after a job that ran to its end, or after Cancel.
  std::exception_ptr JobError() const;

  TImage* Image1;
  TBitBtn* BitBtn1;

 private:
  TWorkerThread* FThread = nullptr;
};
