#include "cli/Cli.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>

#include "jobs/WaitFrm.h"
#include "os/MessageBox.h"
#include "vcl/Forms.h"

#ifndef PLIVANE_VERSION
#define PLIVANE_VERSION "0"
#endif

namespace {

std::atomic<bool> gInterrupted{false};

const char kUsage[] =
    "usage: plivane fit INPUT.bmp OUTPUT.bmp --size WIDTHxHEIGHT [--filter prewitt|v1|v_square|sobel|laplacian|0..4]"
    " [--stretch 0..800] [--mask MASK.bmp [--mask-weight 0..100]] [--no-prescale]\n"
    "       plivane --help | --version\n";

const char kHelp[] =
    "plivane: carves a picture to a new size by seam carving, as the Publisher add-in does.\n"
    "\n"
    "  fit INPUT.bmp OUTPUT.bmp --size WIDTHxHEIGHT\n"
    "      Removes or inserts seams of least edge energy until the picture is\n"
    "      WIDTH x HEIGHT pixels, and writes it as a 24-bit Windows bitmap.\n"
    "  --filter NAME|N   edge filter: prewitt (0, default), v1 (1), v_square (2),\n"
    "                    sobel (3), laplacian (4)\n"
    "  --stretch N       penalty of inserted seams, 0 to 800 (default 400)\n"
    "  --mask MASK.bmp   a picture of the same size painted in the mask colours:\n"
    "                    green (0,128,0) protects, red (255,0,0) is carved away first\n"
    "  --mask-weight N   strength of the mask in percent, 0 to 100 (default 100)\n"
    "  --no-prescale     carve straight to WIDTH x HEIGHT\n"
    "\n"
    "Ctrl-C cancels the carve; no output is written then (exit status 130).\n"
    "Exit status: 0 done, 1 a picture could not be read or written, 2 bad arguments.\n";

struct TUsageError {
  std::string Message;
};

struct TFitOptions {
  std::string Input, Output, Mask;
  int32_t Width = 0, Height = 0;
  uint8_t Filter = 0;
  int32_t Stretch = 400;
  int32_t MaskWeight = 100;
  bool MaskWeightGiven = false;
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

TFitOptions ParseFit(const std::vector<std::string>& args) {
  TFitOptions o;
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
      // Carving straight to the size is the only behaviour so far.
    } else if (a.size() > 1 && a[0] == '-') {
      throw TUsageError{"unknown option " + a};
    } else {
      positional.push_back(a);
    }
  }
  if (positional.size() != 2) throw TUsageError{"fit needs an input and an output file"};
  if (!sizeGiven) throw TUsageError{"fit needs --size WIDTHxHEIGHT"};
  if (o.MaskWeightGiven && o.Mask.empty()) throw TUsageError{"--mask-weight needs --mask"};
  o.Input = positional[0];
  o.Output = positional[1];
  return o;
}

// The console's stand-in for the processing dialog: runs the main loop until
// the job ends, or gives the job up when the user interrupts.
bool RunJob(const TCarveRequest& request) {
  auto* thread = new TWorkerThread(request);
  bool ended = false;
  thread->OnTerminate = [&ended](TObject*) { ended = true; };
  thread->Resume();
  while (!ended) {
    if (gInterrupted.exchange(false)) {
      thread->Terminate();
      thread->Abandon();
      return false;
    }
    Application.HandleMessage(50);
  }
  delete thread;
  return true;
}

int Fit(const TFitOptions& o, std::string& err) {
  TBitmap source, mask, result;
  try {
    source.LoadFromFile(o.Input);
    if (!o.Mask.empty()) {
      mask.LoadFromFile(o.Mask);
      if (mask.Width() != source.Width() || mask.Height() != source.Height()) {
        err += "plivane: " + o.Mask + ": the mask is " + std::to_string(mask.Width()) + " x " +
               std::to_string(mask.Height()) + " pixels but the picture is " + std::to_string(source.Width()) +
               " x " + std::to_string(source.Height()) + "\n";
        return kExitFailure;
      }
    }
  } catch (const Exception& e) {
    err += "plivane: " + e.Message() + "\n";
    return kExitFailure;
  }
  if (source.Width() < 1 || source.Height() < 1) {
    err += "plivane: " + o.Input + ": the picture has no pixels\n";
    return kExitFailure;
  }

  result.SetPixelFormat(pf24bit);
  result.SetSize(o.Width, o.Height);
  TCarveRequest request;
  request.SrcWidth = source.Width();
  request.SrcHeight = source.Height();
  request.DstWidth = result.Width();
  request.DstHeight = result.Height();
  request.MaskWeight = o.MaskWeight;
  request.Filter = o.Filter;
  request.Stretch = o.Stretch;
  request.SrcCanvas = source.Canvas();
  request.DstCanvas = result.Canvas();
  request.UseMask = !o.Mask.empty();
  request.MaskCanvas = request.UseMask ? mask.Canvas() : nullptr;

  if (!RunJob(request)) {
    err += "plivane: cancelled\n";
    return kExitCancelled;
  }

  // Written whole or not at all: a partial file never takes the output's name.
  const std::string temp = o.Output + ".partial";
  try {
    result.SaveToFile(temp);
    std::error_code ec;
    std::filesystem::rename(temp, o.Output, ec);
    if (ec) throw Exception(o.Output + ": cannot write the result (" + ec.message() + ")");
  } catch (const Exception& e) {
    std::error_code ignored;
    std::filesystem::remove(temp, ignored);
    err += "plivane: " + e.Message() + "\n";
    return kExitFailure;
  }
  return kExitOk;
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
  if (args.empty() || args[0] != "fit") {
    err += args.empty() ? "plivane: no command given\n" : "plivane: unknown command '" + args[0] + "'\n";
    err += kUsage;
    return kExitUsage;
  }
  TFitOptions options;
  try {
    options = ParseFit(args);
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
  int rc = Fit(options, fitErr);
  os::SetMessageBoxSink(nullptr);
  {
    std::lock_guard<std::mutex> l(messages->Lock);
    err += messages->Text;
  }
  err += fitErr;
  return rc;
}
