#pragma once
// The plivane program, callable in process so that tests can drive it.
#include <string>
#include <vector>

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitCancelled = 130;

// Runs the program with args (without the program name); messages go to err,
// help and version to out.
int RunCli(const std::vector<std::string>& args, std::string& out, std::string& err);

// What the interrupt key does: the running carve is cancelled. Safe to call
// from a signal handler.
void CliInterrupt();
// Clears an interrupt that has not been acted on.
void CliResetInterrupt();
