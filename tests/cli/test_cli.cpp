// The plivane program: arguments, errors, the output file, cancelling.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <algorithm>
#include <fstream>

#include "cli/Cli.h"
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

TEST_F(Cli, FitWritesExactlyTheSizeAsked) {
  const std::string in = SmallPicture(60, 40);
  struct Case {
    int32_t w, h;
    std::vector<std::string> extra;
  } cases[] = {{45, 40, {}},
               {70, 33, {"--filter", "sobel", "--stretch", "0"}},
               {60, 40, {"--no-prescale"}},
               {50, 48, {"--filter", "2"}}};
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

TEST_F(Cli, SameInputGivesTheSameFile) {
  const std::string in = SmallPicture(50, 36);
  ASSERT_EQ(Plivane({"fit", in, Path("a.bmp"), "--size", "38x44"}).Code, 0);
  ASSERT_EQ(Plivane({"fit", in, Path("b.bmp"), "--size", "38x44"}).Code, 0);
  std::ifstream a(Path("a.bmp"), std::ios::binary), b(Path("b.bmp"), std::ios::binary);
  std::string da((std::istreambuf_iterator<char>(a)), {}), db((std::istreambuf_iterator<char>(b)), {});
  EXPECT_EQ(da, db);
}

TEST_F(Cli, MaskSteersTheCarve) {
  const std::string in = SmallPicture(48, 32), mask = Path("mask.bmp");
  TBitmap m;
  m.LoadFromFile(in);
  m.Canvas()->FillRect({10, 0, 14, 32}, 0x0000FF);  // red: carved away first
  m.SaveToFile(mask);
  ASSERT_EQ(Plivane({"fit", in, Path("plain.bmp"), "--size", "40x32"}).Code, 0);
  TRun r = Plivane({"fit", in, Path("masked.bmp"), "--size", "40x32", "--mask", mask, "--mask-weight", "80"});
  ASSERT_EQ(r.Code, 0) << r.Err;
  std::ifstream a(Path("plain.bmp"), std::ios::binary), b(Path("masked.bmp"), std::ios::binary);
  std::string da((std::istreambuf_iterator<char>(a)), {}), db((std::istreambuf_iterator<char>(b)), {});
  EXPECT_EQ(da.size(), db.size());
  EXPECT_NE(da, db);
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
                          " --size 1300x900 2>/dev/null & p=$!; sleep 0.5; kill -INT $p; wait $p; echo $?'";
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
