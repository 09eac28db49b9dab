// line: the production line from a terminal, one line on stdout per detector.
#include "app/device/ProductionLine.h"
#include "app/site/SitePusher.h"
#include "cli/Cli.h"
#include "cli/ConfigOutput.h"
#include "cli/StopSignal.h"
#include "model/CfgFile.h"
#include "model/FileUtils.h"

#include <cstdio>
#include <cstdlib>

namespace {

class TTerminalLineView : public TLineView {
 public:
  std::string FReport;  // --report: rewritten after every unit, so a killed line keeps its units
  const std::vector<RLineUnit>* FUnits = nullptr;
  bool FReportFailed = false;

  void ShowWaiting(const std::string& what) override { std::fprintf(stderr, "%s...\n", what.c_str()); }
  void ShowUnit(const RLineUnit& unit) override {
    std::printf("%s\n", LineUnitText(unit).c_str());
    std::fflush(stdout);
    if (FReport.empty() || !FUnits) return;
    std::string error;
    if (!WriteFileAtomic(FReport, LineCSV(*FUnits), &error)) {
      std::fprintf(stderr, "line: %s could not be written: %s\n", FReport.c_str(), error.c_str());
      FReportFailed = true;
    }
  }
};

int Line(CliContext& ctx, const std::vector<std::string>& args) {
  std::string file, report;
  int count = 0;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--count" && i + 1 < args.size()) {
      char* end = nullptr;
      const long n = std::strtol(args[++i].c_str(), &end, 10);
      if (!end || *end || n < 1 || n > 1000000) return UsageError(ctx, "line: --count needs a number from 1");
      count = static_cast<int>(n);
    } else if (args[i] == "--report" && i + 1 < args.size() && !args[i + 1].empty()) {
      report = args[++i];
    } else if (args[i].empty() || args[i][0] == '-' || !file.empty()) {
      return UsageError(ctx, "line: unexpected argument " + args[i]);
    } else {
      file = args[i];
    }
  }
  if (file.empty()) return UsageError(ctx, "line needs one FILE.cfg");
  CliSession cli(ctx);
  const CFGFileContent content = ReadCFGFile(file);
  if (!content.ok()) {
    ctx.op->message(MessageIcon::Error, kCFGReadCaption, CFGRefusalText(content.refusal));
    return kExitRefused;
  }
  TTerminalLineView view;
  view.FReport = report;
  CatchCtrlC();
  TCliRunClock clock;
  TProductionLine line(cli.op(), cli.link(), content.cfg, view, clock, count);
  line.FFileName = file;
  TSitePusher pusher(nullptr);
  line.FAfterUnit = [&pusher] { pusher.RequestFromSettings(); };
  view.FUnits = &line.Units();
  if (const std::optional<RWriteRefusal> refusal = line.Refusal()) {
    ctx.op->message(MessageIcon::Error, kWriteRefusedCaption, refusal->mText);
    return kExitRefused;
  }
  line.StopRequest().Watch(CtrlCFlag());  // ends after the unit under way
  DriveRun(line, clock);
  std::fprintf(stderr, "%d passed, %d failed\n", line.Passed(), line.Failed());
  if (view.FReportFailed) return kExitSoftware;
  return line.Failed() > 0 ? 1 : 0;
}

const CommandRegistrar lineRegistrar("line", &Line);

}  // namespace
