// readings: the logging dialog's loop. One data-log row per reading on stdout; --csv also
// writes the data-log file as the dialog does. Ctrl-C is Stop Logging.
#include "app/device/DataLog.h"
#include "app/device/Logging.h"
#include "cli/Cli.h"
#include "cli/StopSignal.h"
#include "model/DeviceUtils.h"
#include "model/TextHelpers.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

// The file answer of the save dialog is --csv, or Cancel: without it no file is written.
class TReadingsOperator : public Operator {
 public:
  TReadingsOperator(Operator& op, std::optional<std::string> csv) : FOp(op), FCsv(std::move(csv)) {}
  void showStatus(StatusColour c, const std::string& t) override { FOp.showStatus(c, t); }
  void message(MessageIcon i, const std::string& c, const std::string& t) override { FOp.message(i, c, t); }
  bool ask(const std::string& c, const std::string& t) override { return FOp.ask(c, t); }
  std::optional<std::string> chooseOpenFile(const FileRequest&) override { return std::nullopt; }
  std::optional<std::string> chooseSaveFile(const FileRequest&) override { return FCsv; }
  void memoLine(const std::string& line) override { FOp.memoLine(line); }
  void pump() override {}
  TOperationGate& Gate() override { return FOp.Gate(); }

 private:
  Operator& FOp;
  std::optional<std::string> FCsv;
};

// Only the calibration lines and file errors reach the terminal; the reading is the row.
class TReadingsView : public TLoggingView {
 public:
  void ShowReading(const RReadingTexts&) override {}
  void ChartReset(double, double, double) override {}
  void ChartAdd(const RChartPoint&) override {}
  void ChartScroll(double, double, const std::vector<RChartPoint>&) override {}
  void ShowCalLabel(const std::string& text, TLabelColour) override {
    if (!text.empty()) std::fprintf(stderr, "%s\n", text.c_str());
  }
  void CalButtons(bool) override {}
  void LoggingButtons(bool) override {}
  void CalProgress(int, int) override {}
  void DataLogError(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
  bool BatteryTicked() override { return true; }
  bool TemperatureTicked() override { return true; }
};

bool PositiveNumber(const std::string& text, long max, long& value) {
  char* end = nullptr;
  value = std::strtol(text.c_str(), &end, 10);
  return !text.empty() && *end == '\0' && value >= 1 && value <= max;
}

int Run(CliContext& ctx, const std::vector<std::string>& args) {
  long interval = 0, count = 0;
  std::optional<std::string> csv;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (i + 1 >= args.size() || (a != "--interval" && a != "--count" && a != "--csv"))
      return UsageError(ctx, "readings takes [--interval S] [--count N] [--csv FILE]");
    const std::string& v = args[++i];
    if (a == "--interval" && !PositiveNumber(v, 600, interval))
      return UsageError(ctx, "--interval needs whole seconds from 1 to 600");
    if (a == "--count" && !PositiveNumber(v, 1000000000L, count))
      return UsageError(ctx, "--count needs a number of readings above 0");
    if (a == "--csv") csv = v;
  }
  CatchCtrlC();
  CliSession session(ctx);
  if (interval > 0) DeviceCFG.mLogInterval = static_cast<uint16_t>(interval);
  // The chart's rule (at least 100 intervals shown) holds for a changed interval too.
  DeviceCFG.mLogDisplayTime = std::max<uint16_t>(DeviceCFG.mLogDisplayTime, DeviceCFG.mLogInterval * 100);

  TReadingsOperator op(session.op(), csv);
  TReadingsView view;
  TCliRunClock clock;
  TLoggingRun run(session.link(), op, view, clock);
  run.StopRequest().Watch(CtrlCFlag());
  long readings = 0;
  run.OnReading = [&](const RReadingSet&) {
    std::printf("%s\n", run.LastRow().c_str());
    std::fflush(stdout);
    if (count > 0 && ++readings >= count) run.Stop();
  };
  return session.run("Sensor Reading Data Logging", [&] { return run.StartLogging(); });
}

const CommandRegistrar registrar("readings", &Run);

}  // namespace
