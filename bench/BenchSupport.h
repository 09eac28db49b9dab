// Pieces the benchmark programs share: an Operator that answers nothing, the tool's own CPU
// time, and the wire time of one byte.
#pragma once

#include "app/core/Operator.h"
#include "sim/KvtSim.h"
#include "tests/support/Loopback.h"

#include <algorithm>
#include <vector>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string>

// Ten bits a byte at 115200 baud: what kvt-sim paces each byte at with wire time on.
constexpr double kByteSeconds = 10.0 / 115200.0;

// The least time a conforming tool takes for the frames kvt-sim took and answered: the wire time
// of every byte it paced and 1 ms after every exchange; for the handshake, 1.05 ms per connect
// frame (its answer is read only once that time is up, and arrives within it) and the 2 ms
// after it.
inline double WireFloorSeconds(const KvtSim& sim) {
  std::vector<KvtSim::Frame> frames = sim.received();
  const std::vector<KvtSim::Frame> sent = sim.sent();
  frames.insert(frames.end(), sent.begin(), sent.end());
  std::stable_sort(frames.begin(), frames.end(),
                   [](const KvtSim::Frame& a, const KvtSim::Frame& b) { return a.time < b.time; });
  double floor = 0;
  bool connecting = false;
  for (const KvtSim::Frame& f : frames) {
    if (f.received) {
      connecting = f.what == "B2";
      floor += connecting ? 0.00105 : 0.001;
    } else if (connecting) {
      floor += 0.002;  // the answer lies within the 1.05 ms; then the two pauses
      connecting = false;
    } else {
      floor += static_cast<double>(f.bytes.size()) * kByteSeconds;
    }
  }
  return floor;
}

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
