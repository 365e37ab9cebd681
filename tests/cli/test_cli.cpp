// The plivane program: arguments, errors, the output file, cancelling.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <algorithm>
#include <fstream>

#include "cli/Cli.h"
#include "jobs/Resampling.h"
#include "os/OsThreads.h"
#include "vcl/Graphics.h"

namespace {

namespace fs = std::filesystem;

const std::string kSample = std::string(PLIVANE_SAMPLES) + "/chelsea.bmp";

struct TRun {
  int Code;
  std::string Out, Err;
};

TRun Plivane(const std::vector<std::string>& args) {
  TRun r;
  r.Code = RunCli(args, r.Out, r.Err);
  return r;
}

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    Dir = fs::temp_directory_path() / ("plivane-cli-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                       "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(Dir);
    fs::create_directories(Dir);
  }
  void TearDown() override {
    CliResetInterrupt();
    fs::remove_all(Dir);
  }
  std::string Path(const std::string& name) const { return (Dir / name).string(); }
  // A small copy of the sample, so that carves stay quick.
  std::string SmallPicture(int32_t w, int32_t h) {
    TBitmap src, dst;
    src.LoadFromFile(kSample);
    dst.SetPixelFormat(pf24bit);
    dst.SetSize(w, h);
    dst.Canvas()->StretchDraw({0, 0, w, h}, src);
    std::string p = Path("small.bmp");
    dst.SaveToFile(p);
    return p;
  }
  fs::path Dir;
};

TEST_F(Cli, BadArgumentsExitWithUsage) {
  const std::string in = SmallPicture(40, 30), out = Path("out.bmp");
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"carve"},
      {"fit", in, out},
      {"fit", in, "--size", "20x20"},
      {"fit", in, out, "--size", "20"},
      {"fit", in, out, "--size", "0x20"},
      {"fit", in, out, "--size", "20x-1"},
      {"fit", in, out, "--size", "40000x20"},
      {"fit", in, out, "--size", "20x20", "--filter", "canny"},
      {"fit", in, out, "--size", "20x20", "--filter", "5"},
      {"fit", in, out, "--size", "20x20", "--stretch", "801"},
      {"fit", in, out, "--size", "20x20", "--mask-weight", "50"},
      {"fit", in, out, "--size", "20x20", "--mask", in, "--mask-weight", "101"},
      {"fit", in, out, "--size", "20x20", "--size"},
      {"fit", in, out, "--size", "20x20", "--bogus"},
      {"fit", in, out, "--size", "20x20", "--quality", "best"},
      {"resample", in, out},
      {"resample", in, out, "--size", "20x20", "--quality", "2"},
      {"resample", in, out, "--size", "20x20", "--filter", "sobel"},
      {"resample", in, out, "--size", "20x20", "--no-prescale"},
  };
  for (const auto& args : cases) {
    TRun r = Plivane(args);
    EXPECT_EQ(r.Code, kExitUsage) << (args.empty() ? "" : args.back());
    EXPECT_NE(r.Err.find("usage: plivane fit"), std::string::npos);
  }
  EXPECT_FALSE(fs::exists(out));
}

TEST_F(Cli, HelpAndVersion) {
  TRun help = Plivane({"--help"}), version = Plivane({"--version"});
  EXPECT_EQ(help.Code, 0);
  EXPECT_NE(help.Out.find("--mask-weight"), std::string::npos);
  EXPECT_EQ(version.Code, 0);
  EXPECT_EQ(version.Out.rfind("plivane ", 0), 0u);
}

std::string FileBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(f)), {});
}

// Frames smaller or larger in both directions are first scaled uniformly
// (60 x 40 to 30 x 30: 45 x 30, then carved to 30 wide; to 90 x 50: 75 x 50,
// then 90 wide); the output has the frame's size either way.
TEST_F(Cli, FitWritesExactlyTheSizeAsked) {
  const std::string in = SmallPicture(60, 40);
  struct Case {
    int32_t w, h;
    std::vector<std::string> extra;
  } cases[] = {{45, 40, {}},
               {70, 33, {"--filter", "sobel", "--stretch", "0"}},
               {60, 40, {"--no-prescale"}},
               {50, 48, {"--filter", "2"}},
               {30, 30, {}},
               {30, 30, {"--quality", "low"}},
               {90, 50, {"--quality", "good"}},
               {30, 30, {"--no-prescale"}}};
  for (const Case& c : cases) {
    const std::string out = Path("out.bmp");
    std::vector<std::string> args = {"fit", in, out, "--size", std::to_string(c.w) + "x" + std::to_string(c.h)};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    TRun r = Plivane(args);
    ASSERT_EQ(r.Code, 0) << r.Err;
    TBitmap result;
    result.LoadFromFile(out);
    EXPECT_EQ(result.Width(), c.w);
    EXPECT_EQ(result.Height(), c.h);
    EXPECT_EQ(fs::file_size(out), 54u + uint64_t((c.w * 3 + 3) / 4 * 4) * c.h);  // 24 bits per pixel
    EXPECT_FALSE(fs::exists(out + ".partial"));
  }
}

// Scaling first, and its quality, change what is carved; straight carving
// does neither.
TEST_F(Cli, PrescalingAndItsQualityShapeTheResult) {
  const std::string in = SmallPicture(60, 40);
  const std::vector<std::vector<std::string>> variants = {
      {}, {"--quality", "high"}, {"--quality", "good"}, {"--quality", "low"}, {"--no-prescale"},
      {"--no-prescale", "--quality", "low"}};
  std::vector<std::string> files;
  for (const auto& extra : variants) {
    std::vector<std::string> args = {"fit", in, Path("out.bmp"), "--size", "30x30"};
    args.insert(args.end(), extra.begin(), extra.end());
    ASSERT_EQ(Plivane(args).Code, 0);
    files.push_back(FileBytes(Path("out.bmp")));
  }
  EXPECT_EQ(files[0], files[1]);  // high is the default
  EXPECT_NE(files[1], files[2]);
  EXPECT_NE(files[2], files[3]);
  EXPECT_NE(files[1], files[4]);
  EXPECT_EQ(files[4], files[5]);  // no scaling, no quality
}

// The resampler on a whole file: the pixels of an in-process resample.
TEST_F(Cli, ResampleScalesTheWholePicture) {
  const std::string in = SmallPicture(60, 40);
  const char* qualities[] = {"low", "good", "high"};
  for (int q = 0; q < 3; ++q) {
    const std::string out = Path(std::string(qualities[q]) + ".bmp");
    TRun r = Plivane({"resample", in, out, "--size", "97x23", "--quality", qualities[q]});
    ASSERT_EQ(r.Code, 0) << r.Err;
    TBitmap source, expected, written;
    source.LoadFromFile(in);
    expected.SetSize(97, 23);
    expected.SetPixelFormat(pf24bit);
    Resample(source, expected, static_cast<TResampleMethod>(q));
    written.LoadFromFile(out);
    ASSERT_EQ(written.Width(), 97);
    ASSERT_EQ(written.Height(), 23);
    for (int32_t y = 0; y < 23; ++y)
      for (int32_t x = 0; x < 97; ++x) ASSERT_EQ(written.Canvas()->GetPixel(x, y), expected.Canvas()->GetPixel(x, y));
  }
  EXPECT_EQ(Plivane({"resample", Path("missing.bmp"), Path("x.bmp"), "--size", "5x5"}).Code, kExitFailure);
}

TEST_F(Cli, SameInputGivesTheSameFile) {
  const std::string in = SmallPicture(50, 36);
  ASSERT_EQ(Plivane({"fit", in, Path("a.bmp"), "--size", "38x44"}).Code, 0);
  ASSERT_EQ(Plivane({"fit", in, Path("b.bmp"), "--size", "38x44"}).Code, 0);
  EXPECT_EQ(FileBytes(Path("a.bmp")), FileBytes(Path("b.bmp")));
}

// Also when the picture is scaled first (48 x 32 to 30 x 24: 36 x 24 first):
// the mask follows the scaling.
TEST_F(Cli, MaskSteersTheCarve) {
  const std::string in = SmallPicture(48, 32), mask = Path("mask.bmp");
  TBitmap m;
  m.LoadFromFile(in);
  m.Canvas()->FillRect({10, 0, 14, 32}, 0x0000FF);  // red: carved away first
  m.SaveToFile(mask);
  for (const char* size : {"40x32", "30x24"}) {
    ASSERT_EQ(Plivane({"fit", in, Path("plain.bmp"), "--size", size}).Code, 0);
    TRun r = Plivane({"fit", in, Path("masked.bmp"), "--size", size, "--mask", mask, "--mask-weight", "80"});
    ASSERT_EQ(r.Code, 0) << r.Err;
    const std::string plain = FileBytes(Path("plain.bmp")), masked = FileBytes(Path("masked.bmp"));
    EXPECT_EQ(plain.size(), masked.size()) << size;
    EXPECT_NE(plain, masked) << size;
  }
}

TEST_F(Cli, BadFilesExitWithOneLine) {
  const std::string in = SmallPicture(40, 30), out = Path("out.bmp"), wrongMask = Path("wrong.bmp");
  {
    std::ofstream f(Path("junk.bmp"), std::ios::binary);
    f << "BM not really a bitmap";
  }
  TBitmap small;
  small.SetPixelFormat(pf24bit);
  small.SetSize(10, 10);
  small.SaveToFile(wrongMask);
  const std::vector<std::vector<std::string>> cases = {
      {"fit", Path("missing.bmp"), out, "--size", "20x20"},
      {"fit", Path("junk.bmp"), out, "--size", "20x20"},
      {"fit", in, out, "--size", "20x20", "--mask", wrongMask},
      {"fit", in, Path("no-such-dir/out.bmp"), "--size", "20x20"},
  };
  for (const auto& args : cases) {
    TRun r = Plivane(args);
    EXPECT_EQ(r.Code, kExitFailure) << args[1];
    EXPECT_EQ(r.Err.rfind("plivane: ", 0), 0u) << r.Err;
    EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 1) << r.Err;
  }
  EXPECT_FALSE(fs::exists(out));
}

// The job's thread cannot be made (its first semaphore), or the engine stops
// on an error (the first semaphore of its cost map): one line, no output.
TEST_F(Cli, FailedJobWritesNoOutput) {
  const std::string in = SmallPicture(40, 30), out = Path("out.bmp");
  for (int failing : {1, 2}) {
    os::FailSemaphoreCreate(failing);
    TRun r = Plivane({"fit", in, out, "--size", "30x30", "--no-prescale"});
    os::FailSemaphoreCreate(0);
    EXPECT_EQ(r.Code, kExitFailure) << failing;
    EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 1) << r.Err;
    EXPECT_FALSE(fs::exists(out));
  }
}

TEST_F(Cli, InterruptCancelsWithoutOutput) {
  const std::string in = SmallPicture(120, 80), out = Path("out.bmp");
  CliInterrupt();
  TRun r = Plivane({"fit", in, out, "--size", "100x90"});
  EXPECT_EQ(r.Code, kExitCancelled);
  EXPECT_FALSE(fs::exists(out));
  EXPECT_FALSE(fs::exists(out + ".partial"));
}

}  // namespace

namespace {

// The real interrupt key on the real program: a POSIX shell sends SIGINT.
TEST_F(Cli, CtrlCEndsTheProgramWith130) {
  const std::string cli = PLIVANE_CLI;
  if (cli.size() > 4 && cli.compare(cli.size() - 4, 4, ".exe") == 0) GTEST_SKIP() << "needs a POSIX shell";
  const std::string out = Path("out.bmp");
  const std::string cmd = "sh -c '" + cli + " fit " + kSample + " " + out +
                          " --size 1300x900 --no-prescale 2>/dev/null & p=$!; sleep 0.5; kill -INT $p; wait $p; echo $?'";
  FILE* p = popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  char buf[32] = {};
  ASSERT_NE(fgets(buf, sizeof buf, p), nullptr);
  pclose(p);
  EXPECT_EQ(std::string(buf), "130\n");
  EXPECT_FALSE(fs::exists(out));
  EXPECT_FALSE(fs::exists(out + ".partial"));
}

}  // namespace
