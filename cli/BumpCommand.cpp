// bump --gas VALUE --lot L --expiry YYYY-MM-DD [--time-limit S] [--tolerance PCT]: the measured
// bump test. The operator's two answers (gas on, gas removed) are Enter on a terminal, or given
// at once when stdin is not one or --yes is set; Ctrl-C is Stop.
#include "app/device/BumpTest.h"
#include "cli/Cli.h"
#include "cli/StopSignal.h"
#include "model/DeviceUtils.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>

namespace {

// The steady clock that also takes an Enter from the terminal while an answer is awaited.
class TEnterClock : public TSteadyRunClock {
 public:
  TEnterClock() : TSteadyRunClock(CtrlCFlag()) {}
  std::function<void()> FOnEnter;  // set while an answer is awaited

  void WaitUntil(TimePoint deadline) override {
    if (!FOnEnter) return TSteadyRunClock::WaitUntil(deadline);
    while (!CtrlCPressed() && Now() < deadline) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Now()).count();
      pollfd in{0, POLLIN, 0};
      if (::poll(&in, 1, static_cast<int>(std::clamp<long long>(left, 1, 100))) <= 0) continue;
      char buf[256];
      const ssize_t n = ::read(0, buf, sizeof buf);
      // End of input answers too: nobody is left to press Enter.
      if (n <= 0 || std::memchr(buf, '\n', static_cast<size_t>(n))) {
        const std::function<void()> answer = std::move(FOnEnter);
        FOnEnter = nullptr;
        answer();
        return;
      }
    }
  }
};

class TTerminalBumpView : public TBumpView {
 public:
  TTerminalBumpView(TEnterClock& clock, bool atOnce) : FClock(clock), FAtOnce(atOnce) {}
  TBumpTestRun* FRun = nullptr;

  void BumpPhase(TBumpPhase phase) override {
    FClock.FOnEnter = nullptr;
    if (!FRun) return;
    if (phase == TBumpPhase::WaitGasOn) Await("Press Enter when the gas is on", [this] { FRun->GasOn(); });
    if (phase == TBumpPhase::WaitGasOff) Await("Press Enter when the gas is removed", [this] { FRun->GasRemoved(); });
    if (phase == TBumpPhase::Clear) std::fprintf(stderr, "Waiting for the alarms to clear\n");
  }
  void BumpPrompt(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
  void BumpReading(double seconds, const std::string& reading, bool low, bool high) override {
    std::fprintf(stderr, "%s s  %s%s%s\n", SecondsText(seconds).c_str(), reading.c_str(), low ? "  LOW" : "",
                 high ? "  HIGH" : "");
  }
  void BumpAlarm(bool high, double seconds) override {
    std::printf("%s ALARM AFTER %s s\n", high ? "HIGH" : "LOW", SecondsText(seconds).c_str());
    std::fflush(stdout);
  }
  void BumpVerdict(const RBumpResult& r) override {
    std::printf("PEAK %s\n", r.mPeak.empty() ? "none" : r.mPeak.c_str());
    if (r.mOutcome == TBumpOutcome::Pass)
      std::printf("PASS\n");
    else
      std::printf("FAIL: %s\n", r.mReason.c_str());
    std::fflush(stdout);
  }

 private:
  void Await(const char* question, std::function<void()> answer) {
    if (FAtOnce) return answer();
    std::fprintf(stderr, "%s\n", question);
    FClock.FOnEnter = std::move(answer);
  }
  TEnterClock& FClock;
  bool FAtOnce;
};

bool Number(const std::string& text, double lo, double hi, double& value) {
  char* end = nullptr;
  value = std::strtod(text.c_str(), &end);
  return !text.empty() && *end == '\0' && std::isfinite(value) && value >= lo && value <= hi;
}

}  // namespace

int MeasuredBump(CliContext& ctx, const std::vector<std::string>& args) {
  const char* usage = "bump takes --gas VALUE --lot L --expiry YYYY-MM-DD [--time-limit S] [--tolerance PCT]";
  std::optional<double> gas, limit, tolerance;
  std::optional<std::string> lot, expiry;
  for (size_t i = 0; i < args.size(); i += 2) {
    if (i + 1 >= args.size()) return UsageError(ctx, args[i] + " needs a value");
    const std::string& a = args[i];
    const std::string& v = args[i + 1];
    double n = 0;
    if (a == "--gas") {
      if (!Number(v, 0, 1e6, n)) return UsageError(ctx, "--gas needs a number in the sensor's unit");
      gas = n;
    } else if (a == "--time-limit") {
      if (!Number(v, 1, 3600, n)) return UsageError(ctx, "--time-limit needs seconds from 1 to 3600");
      limit = n;
    } else if (a == "--tolerance") {
      if (!Number(v, 1, 100, n)) return UsageError(ctx, "--tolerance needs a percentage from 1 to 100");
      tolerance = n;
    } else if (a == "--lot") {
      lot = v;
    } else if (a == "--expiry") {
      // Not checked here: a date that is none is refused by the run, before any exchange (65).
      expiry = v;
    } else {
      return UsageError(ctx, usage);
    }
  }
  if (!gas || !lot || !expiry) return UsageError(ctx, usage);
  CatchCtrlC();
  CliSession cli(ctx);
  RBumpSetup setup{*gas, *lot, *expiry, limit.value_or(BumpTimeLimit()), tolerance.value_or(BumpTolerancePct())};
  TEnterClock clock;
  TTerminalBumpView view(clock, ctx.yes || ::isatty(0) != 1);
  TBumpTestRun run(cli.op(), cli.link(), view, clock, setup);
  view.FRun = &run;
  run.StopRequest().Watch(CtrlCFlag());
  cli.run(kBumpTestName, [&]() -> uint8_t {
    DriveRun(run, clock);
    return 0;
  });
  return BumpExitStatus(run.Result());
}
