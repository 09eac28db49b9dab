// Pieces the benchmark programs share: an Operator that answers nothing, the tool's own CPU
// time, and the wire time of one byte.
#pragma once

#include "app/core/Operator.h"

#include <cstdio>
#include <ctime>
#include <optional>
#include <string>

// Ten bits a byte at 115200 baud: what kvt-sim paces each byte at with wire time on.
constexpr double kByteSeconds = 10.0 / 115200.0;

// Questions get `yes`; message texts go to stderr, so a failed run says why.
struct QuietOperator : Operator {
  explicit QuietOperator(bool yes = true) : FYes(yes) {}
  void showStatus(StatusColour, const std::string&) override {}
  void message(MessageIcon, const std::string&, const std::string& text) override {
    std::fprintf(stderr, "%s\n", text.c_str());
  }
  bool ask(const std::string&, const std::string&) override { return FYes; }
  std::optional<std::string> chooseOpenFile(const FileRequest&) override { return std::nullopt; }
  std::optional<std::string> chooseSaveFile(const FileRequest&) override { return std::nullopt; }
  void memoLine(const std::string&) override {}
  void pump() override {}
  bool FYes;
};

// CPU seconds of the calling thread.
inline double ThreadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}
