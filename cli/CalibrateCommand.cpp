// calibrate: the Sensor Calibration button and one run of its dialog. The labels go to stderr
// as they change, with the seconds of the run; Ctrl-C is Cancel (the abort code is sent).
#include "app/device/Calibration.h"
#include "app/device/DeviceSession.h"
#include "app/core/Results.h"
#include "cli/Cli.h"
#include "cli/StopSignal.h"
#include "model/TimeText.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

constexpr int kExitCheck = 65;
constexpr int kExitCalFailed = 67;
constexpr int kExitTimeOut = 68;
constexpr int kExitUserStop = 69;

class TTerminalCalView : public TCalView {
 public:
  void CalText(int, const std::string& text, TCalColour) override {
    if (text.empty()) return;
    EndProgress();
    std::fprintf(stderr, "%s\n", text.c_str());
  }
  void CalProgress(int position, int maximum) override {
    if (position == FShown) return;
    FShown = position;
    // On a terminal one line that counts up; otherwise a line for each second.
    if (FTerminal) {
      std::fprintf(stderr, "\r%d of %d s", position, maximum);
      FOpen = true;
    } else {
      std::fprintf(stderr, "%d of %d s\n", position, maximum);
    }
    std::fflush(stderr);
  }
  void CalRunning(bool running) override {
    if (!running) EndProgress();
  }

 private:
  void EndProgress() {
    if (FOpen) std::fprintf(stderr, "\n");
    FOpen = false;
  }
  bool FTerminal = ::isatty(2) == 1;
  bool FOpen = false;
  int FShown = -1;
};

int Run(CliContext& ctx, const std::vector<std::string>& args) {
  std::optional<double> span;
  std::optional<std::string> lot, expiry;
  std::string spanText;
  for (size_t i = 0; i < args.size(); i += 2) {
    if (i + 1 >= args.size()) return UsageError(ctx, args[i] + " needs a value");
    const std::string& value = args[i + 1];
    if (args[i] == "--span") {
      char* end = nullptr;
      const double v = std::strtod(value.c_str(), &end);
      if (value.empty() || *end != '\0' || !std::isfinite(v)) return UsageError(ctx, "--span needs a number");
      span = v;
      spanText = value;
    } else if (args[i] == "--lot") {
      lot = value;
    } else if (args[i] == "--expiry") {
      if (!ValidDateText(value)) return UsageError(ctx, "--expiry takes a date, YYYY-MM-DD");
      expiry = value;
    } else {
      return UsageError(ctx, "calibrate takes [--span VALUE] [--lot LOT] [--expiry YYYY-MM-DD]");
    }
  }
  CatchCtrlC();
  CliSession cli(ctx);
  {
    // A cylinder past its expiry is refused before anything is sent, as the dialog does.
    const std::string today = LocalDateText(std::time(nullptr));
    const std::string problem = CylinderExpiryProblem(expiry.value_or(LoadCylinder().mExpiry), today);
    if (!problem.empty()) {
      ctx.op->message(MessageIcon::Error, "Span Gas Cylinder", problem);
      return kExitCheck;
    }
  }
  TDeviceSession session;
  TSensorCal cal;
  int status = -1;  // set by every end the run reaches
  const uint8_t raised = cli.run(kReadSensorName, [&]() -> uint8_t {
    uint8_t code = 0;
    if (!CheckSensorCalibration(cli.op(), cli.link(), session, code)) {
      status = code == APP_SENSORTYPE ? kExitCheck : code;
      return code;
    }
    if (!cal.ShowDlg(cli.op(), session.FKVTCFG)) {
      status = kExitCheck;
      return APP_SENSORTYPE;
    }
    // The span box's one decimal; a value outside its limits is refused, not moved to the
    // nearest limit: a span the operator did not mean would calibrate the detector wrongly.
    double value = cal.SpinValue();
    if (span) {
      const RSensorType& sensor = cal.Sensor();
      value = std::round(*span * 10) / 10;
      if (value < sensor.mMin || value > sensor.mMax) {
        char range[160];
        std::snprintf(range, sizeof range, "--span %s is outside the %s sensor's range %g to %g %s", spanText.c_str(),
                      sensor.mName.c_str(), sensor.mMin, sensor.mMax, sensor.mUnit.c_str());
        status = UsageError(ctx, range);
        return 0;
      }
    }
    // The cylinder is remembered like the span gas value, for the next run.
    if (lot || expiry) SaveCylinder(lot.value_or(LoadCylinder().mLot), expiry.value_or(LoadCylinder().mExpiry));
    const RCylinder cylinder = LoadCylinder();
    cal.FLot = cylinder.mLot;
    cal.FExpiry = cylinder.mExpiry;
    cal.FProduct = session.FProductName;
    TTerminalCalView view;
    TCliRunClock clock;
    status = CalibrationExitStatus(
        cal.CalBtnClick(cli.op(), cli.link(), view, clock, session.FKVTCFG, value, CtrlCFlag()));
    return 0;
  });
  return status >= 0 ? status : raised;
}

const CommandRegistrar registrar("calibrate", &Run);

}  // namespace
