#include "cli/Cli.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <new>

#include "jobs/Resampling.h"
#include "jobs/WaitFrm.h"
#include "os/MessageBox.h"
#include "publisher/PUBAddIn_IMPL.h"
#include "vcl/Forms.h"

#ifndef PLIVANE_VERSION
#define PLIVANE_VERSION "0"
#endif

namespace {

std::atomic<bool> gInterrupted{false};

const char kUsage[] =
    "usage: plivane fit INPUT.bmp OUTPUT.bmp --size WIDTHxHEIGHT [--filter prewitt|v1|v_square|sobel|laplacian|0..4]"
    " [--stretch 0..800] [--mask MASK.bmp [--mask-weight 0..100]] [--quality low|good|high] [--no-prescale]\n"
    "       plivane resample INPUT.bmp OUTPUT.bmp --size WIDTHxHEIGHT [--quality low|good|high]\n"
    "       plivane --help | --version\n";

const char kHelp[] =
    "plivane: carves a picture to a new size by seam carving, as the Publisher add-in does.\n"
    "\n"
    "  fit INPUT.bmp OUTPUT.bmp --size WIDTHxHEIGHT\n"
    "      Fits the picture to a frame of WIDTH x HEIGHT pixels: when the frame is\n"
    "      smaller (or larger) in both directions, the picture is first scaled\n"
    "      uniformly, then seams of least edge energy are removed or inserted for\n"
    "      the rest of the change. The result, a 24-bit Windows bitmap, has the\n"
    "      size the add-in would give it, which rounding can set a pixel or a\n"
    "      few off the frame's.\n"
    "  --filter NAME|N   edge filter: prewitt (0, default), v1 (1), v_square (2),\n"
    "                    sobel (3), laplacian (4)\n"
    "  --stretch N       penalty of inserted seams, 0 to 800 (default 400)\n"
    "  --mask MASK.bmp   a picture of the same size painted in the mask colours:\n"
    "                    green (0,128,0) protects, red (255,0,0) is carved away first\n"
    "  --mask-weight N   strength of the mask in percent, 0 to 100 (default 100)\n"
    "  --quality Q       quality of the uniform scaling: low (stretching), good\n"
    "                    (bilinear), high (Mitchell filter, default)\n"
    "  --no-prescale     no uniform scaling: carve straight to WIDTH x HEIGHT\n"
    "\n"
    "  resample INPUT.bmp OUTPUT.bmp --size WIDTHxHEIGHT [--quality Q]\n"
    "      Scales the whole picture to WIDTH x HEIGHT without carving.\n"
    "\n"
    "Ctrl-C cancels the carve; no output is written then (exit status 130).\n"
    "Exit status: 0 done, 1 a picture could not be read or written, 2 bad arguments.\n";

struct TUsageError {
  std::string Message;
};

struct TOptions {
  bool Resample = false;  // the resample command, else fit
  std::string Input, Output, Mask;
  int32_t Width = 0, Height = 0;
  uint8_t Filter = 0;
  int32_t Stretch = 400;
  int32_t MaskWeight = 100;
  bool MaskWeightGiven = false;
  int32_t Quality = rmMitchell;
  bool Prescale = true;
};

bool ParseInt(const std::string& s, long lo, long hi, int32_t& out) {
  if (s.empty() || s.size() > 9) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  long v = std::strtol(s.c_str(), nullptr, 10);
  if (v < lo || v > hi) return false;
  out = static_cast<int32_t>(v);
  return true;
}

// The largest side a result may have: the bitmap files we read have the same limit.
constexpr long kMaxSide = 30000;

TOptions ParseArgs(const std::vector<std::string>& args) {
  TOptions o;
  o.Resample = args[0] == "resample";
  std::vector<std::string> positional;
  bool sizeGiven = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> const std::string& {
      if (i + 1 >= args.size()) throw TUsageError{a + " needs a value"};
      return args[++i];
    };
    if (a == "--size") {
      const std::string& v = value();
      size_t x = v.find('x');
      if (x == std::string::npos || !ParseInt(v.substr(0, x), 1, kMaxSide, o.Width) ||
          !ParseInt(v.substr(x + 1), 1, kMaxSide, o.Height))
        throw TUsageError{"--size must be WIDTHxHEIGHT with sides of 1 to 30000 pixels, not '" + v + "'"};
      sizeGiven = true;
    } else if (a == "--quality") {
      static const char* const names[] = {"low", "good", "high"};
      const std::string& v = value();
      int32_t n = -1;
      for (int k = 0; k < 3; ++k)
        if (v == names[k]) n = k;
      if (n < 0) throw TUsageError{"--quality must be low, good or high, not '" + v + "'"};
      o.Quality = n;
    } else if (o.Resample && a.size() > 1 && a[0] == '-') {
      throw TUsageError{"resample takes only --size and --quality, not " + a};
    } else if (a == "--filter") {
      static const char* const names[] = {"prewitt", "v1", "v_square", "sobel", "laplacian"};
      const std::string& v = value();
      int32_t n = -1;
      for (int k = 0; k < 5; ++k)
        if (v == names[k]) n = k;
      if (n < 0 && !ParseInt(v, 0, 4, n)) throw TUsageError{"unknown filter '" + v + "'"};
      o.Filter = static_cast<uint8_t>(n);
    } else if (a == "--stretch") {
      const std::string& v = value();
      if (!ParseInt(v, 0, 800, o.Stretch)) throw TUsageError{"--stretch must be 0 to 800, not '" + v + "'"};
    } else if (a == "--mask") {
      o.Mask = value();
    } else if (a == "--mask-weight") {
      const std::string& v = value();
      if (!ParseInt(v, 0, 100, o.MaskWeight)) throw TUsageError{"--mask-weight must be 0 to 100, not '" + v + "'"};
      o.MaskWeightGiven = true;
    } else if (a == "--no-prescale") {
      o.Prescale = false;
    } else if (a.size() > 1 && a[0] == '-') {
      throw TUsageError{"unknown option " + a};
    } else {
      positional.push_back(a);
    }
  }
  if (positional.size() != 2) throw TUsageError{args[0] + " needs an input and an output file"};
  if (!sizeGiven) throw TUsageError{args[0] + " needs --size WIDTHxHEIGHT"};
  if (o.MaskWeightGiven && o.Mask.empty()) throw TUsageError{"--mask-weight needs --mask"};
  o.Input = positional[0];
  o.Output = positional[1];
  return o;
}

// Runs the carve behind the processing dialog, as the add-in does; the
// interrupt key presses its Escape. Returns the exit status.
int RunJob(const TCarveRequest& request, std::string& err) {
  TWaitingFrm form(nullptr);
  form.InitThread(request);
  Application.OnIdle = [&form] {
    if (gInterrupted.exchange(false)) form.KeyPress(VK_ESCAPE);
  };
  const TModalResult result = form.ShowModal();
  Application.OnIdle = nullptr;
  if (result != mrOk) {
    err += "plivane: cancelled\n";
    return kExitCancelled;
  }
  // A job that stopped on an error ends as one that finished; its result
  // bitmap was never written, so it must not become the output.
  if (std::exception_ptr error = form.JobError()) {
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& e) {
      err += std::string("plivane: the carve failed: ") + e.what() + "\n";
    } catch (...) {
      err += "plivane: the carve failed\n";
    }
    return kExitFailure;
  }
  return kExitOk;
}

// Reads a picture with pixels; on failure says why in err.
bool LoadPicture(const std::string& path, TBitmap& b, std::string& err) {
  try {
    b.LoadFromFile(path);
  } catch (const Exception& e) {
    err += "plivane: " + e.Message() + "\n";
    return false;
  }
  if (b.Width() < 1 || b.Height() < 1) {
    err += "plivane: " + path + ": the picture has no pixels\n";
    return false;
  }
  return true;
}

// Written whole or not at all: a partial file never takes the output's name.
int SaveWhole(const TBitmap& b, const std::string& path, std::string& err) {
  const std::string temp = path + ".partial";
  try {
    b.SaveToFile(temp);
    std::error_code ec;
    std::filesystem::rename(temp, path, ec);
    if (ec) throw Exception(path + ": cannot write the result (" + ec.message() + ")");
  } catch (const Exception& e) {
    std::error_code ignored;
    std::filesystem::remove(temp, ignored);
    err += "plivane: " + e.Message() + "\n";
    return kExitFailure;
  }
  return kExitOk;
}

int Fit(const TOptions& o, std::string& err) {
  TPUBAddIn addIn;
  addIn.FSourceBitmap = std::make_unique<TBitmap>();
  TBitmap& source = *addIn.FSourceBitmap;
  TBitmap mask;
  if (!LoadPicture(o.Input, source, err)) return kExitFailure;
  if (!o.Mask.empty()) {
    if (!LoadPicture(o.Mask, mask, err)) return kExitFailure;
    if (mask.Width() != source.Width() || mask.Height() != source.Height()) {
      err += "plivane: " + o.Mask + ": the mask is " + std::to_string(mask.Width()) + " x " +
             std::to_string(mask.Height()) + " pixels but the picture is " + std::to_string(source.Width()) + " x " +
             std::to_string(source.Height()) + "\n";
      return kExitFailure;
    }
  }

  // The frame is the size asked for; the ratios are taken as the add-in takes
  // them from the frame and the picture's original size.
  addIn.FFilter = o.Filter;
  addIn.FStretch = o.Stretch;
  addIn.FMaskWeight = o.MaskWeight;
  addIn.FSamplingQuality = o.Quality;
  addIn.FScaleBeforeCarving = o.Prescale;
  double hFactor = 1, vFactor = 1;
  std::unique_ptr<TBitmap> picture;
  TBitmap result;
  result.SetPixelFormat(pf24bit);
  try {
    if (o.Prescale) {
      picture = addIn.PrescalePicture(hFactor, vFactor, double(o.Width) / double(source.Width()),
                                      double(o.Height) / double(source.Height()));
      result.SetSize(ScaledSide(picture->Width(), hFactor), ScaledSide(picture->Height(), vFactor));
    } else {
      result.SetSize(o.Width, o.Height);
    }
  } catch (const Exception& e) {
    err += "plivane: " + o.Input + ": " + e.Message() + "\n";
    return kExitFailure;
  }
  TBitmap& carved = picture ? *picture : source;
  // The mask marks the input picture; it follows the picture's scaling without
  // mixing colours, since only the exact mask colours count.
  if (!o.Mask.empty() && (carved.Width() != mask.Width() || carved.Height() != mask.Height())) {
    TBitmap scaled;
    scaled.SetPixelFormat(pf24bit);
    scaled.SetSize(carved.Width(), carved.Height());
    scaled.Canvas()->StretchDraw({0, 0, carved.Width(), carved.Height()}, mask);
    mask.Assign(scaled);
  }

  TCarveRequest request;
  request.SrcWidth = carved.Width();
  request.SrcHeight = carved.Height();
  request.DstWidth = result.Width();
  request.DstHeight = result.Height();
  request.MaskWeight = addIn.FMaskWeight;
  request.Filter = addIn.FFilter;
  request.Stretch = addIn.FStretch;
  request.SrcCanvas = carved.Canvas();
  request.DstCanvas = result.Canvas();
  request.UseMask = !o.Mask.empty();
  request.MaskCanvas = request.UseMask ? mask.Canvas() : nullptr;

  if (int rc = RunJob(request, err); rc != kExitOk) return rc;
  return SaveWhole(result, o.Output, err);
}

int ResampleFile(const TOptions& o, std::string& err) {
  TBitmap source, result;
  if (!LoadPicture(o.Input, source, err)) return kExitFailure;
  result.SetSize(o.Width, o.Height);
  result.SetPixelFormat(pf24bit);
  try {
    Resample(source, result, static_cast<TResampleMethod>(o.Quality));
  } catch (const Exception& e) {
    err += "plivane: " + o.Input + ": " + e.Message() + "\n";
    return kExitFailure;
  }
  return SaveWhole(result, o.Output, err);
}

}  // namespace

void CliInterrupt() { gInterrupted.store(true); }
void CliResetInterrupt() { gInterrupted.store(false); }

int RunCli(const std::vector<std::string>& args, std::string& out, std::string& err) {
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    out += kHelp;
    out += "\n";
    out += kUsage;
    return kExitOk;
  }
  if (args.size() == 1 && args[0] == "--version") {
    out += "plivane " PLIVANE_VERSION "\n";
    return kExitOk;
  }
  if (args.empty() || (args[0] != "fit" && args[0] != "resample")) {
    err += args.empty() ? "plivane: no command given\n" : "plivane: unknown command '" + args[0] + "'\n";
    err += kUsage;
    return kExitUsage;
  }
  TOptions options;
  try {
    options = ParseArgs(args);
  } catch (const TUsageError& e) {
    err += "plivane: " + e.Message + "\n";
    err += kUsage;
    return kExitUsage;
  }

  // The engine's messages come out on the console. A job given up may still
  // show one later, so the sink owns what it writes to.
  struct TMessages {
    std::mutex Lock;
    std::string Text;
  };
  auto messages = std::make_shared<TMessages>();
  os::SetMessageBoxSink([messages](const std::string& text, const std::string&, unsigned) {
    std::lock_guard<std::mutex> l(messages->Lock);
    messages->Text += "plivane: " + text + "\n";
    return os::IDOK;
  });
  std::string fitErr;
  int rc;
  try {
    rc = options.Resample ? ResampleFile(options, fitErr) : Fit(options, fitErr);
  } catch (const std::bad_alloc&) {
    fitErr += "plivane: not enough memory for pictures of that size\n";
    rc = kExitFailure;
  } catch (const Exception& e) {  // the job could not even start
    fitErr += "plivane: " + e.Message() + "\n";
    rc = kExitFailure;
  }
  os::SetMessageBoxSink(nullptr);
  {
    std::lock_guard<std::mutex> l(messages->Lock);
    err += messages->Text;
  }
  err += fitErr;
  return rc;
}
