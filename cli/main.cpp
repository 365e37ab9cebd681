#include <cstdio>
#include <cstdlib>

#include "cli/Cli.h"
#include "os/Console.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  os::SetInterruptHandler(CliInterrupt);
  std::string out, err;
  int rc = RunCli(args, out, err);
  std::fputs(out.c_str(), stdout);
  std::fputs(err.c_str(), stderr);
  std::fflush(stdout);
  std::fflush(stderr);
  // A cancelled job may still be finishing its engine step; nothing of it is
  // wanted any more, so the process ends without waiting for it.
  if (rc == kExitCancelled) std::_Exit(rc);
  return rc;
}
