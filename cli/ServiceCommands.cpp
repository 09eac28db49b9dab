// test, clear-peak, bump, zero-span, power-off, factory-reset: the service buttons of the
// TEST page and the Factory Options row; each exits with the button's result code.
#include "app/device/Service.h"
#include "cli/Cli.h"
#include "cli/ConfigOutput.h"
#include "cli/StopSignal.h"
#include "link/KVTComms.h"
#include "model/DeviceUtils.h"


namespace {

constexpr int kExitRefused = 65;

int Command(CliContext& ctx, const std::vector<std::string>& args, const char* name, TServiceCommand command) {
  if (!args.empty()) return UsageError(ctx, std::string(name) + " takes no arguments");
  CliSession cli(ctx);
  return RunServiceCommand(cli.op(), cli.link(), command);
}

int Test(CliContext& ctx, const std::vector<std::string>& args) {
  static const char* const outputs[] = {"beep", "rled", "lled", "vibrator"};
  int tag = 0;
  for (int i = 0; i < 4 && args.size() == 1; ++i)
    if (args[0] == outputs[i]) tag = i + 1;
  if (tag == 0) return UsageError(ctx, "test needs one of beep, rled, lled, vibrator");
  CatchCtrlC();
  CliSession cli(ctx);
  TCliRunClock clock;
  return RunOutputTest(cli.op(), cli.link(), OutputCommand(tag), DeviceCFG.mAVOperate, clock, CtrlCFlag());
}

int Bump(CliContext& ctx, const std::vector<std::string>& args) {
  if (args.size() == 1 && args[0] == "pass") return Command(ctx, {}, "bump", TServiceCommand::BumpPass);
  if (args.size() == 1 && args[0] == "fail") return Command(ctx, {}, "bump", TServiceCommand::BumpFail);
  if (!args.empty() && args[0].rfind("--", 0) == 0) return MeasuredBump(ctx, args);
  return UsageError(ctx, "bump needs pass or fail, or --gas VALUE --lot L --expiry YYYY-MM-DD");
}

int ClearPeak(CliContext& ctx, const std::vector<std::string>& args) {
  return Command(ctx, args, "clear-peak", TServiceCommand::ClearPeak);
}
int ZeroSpan(CliContext& ctx, const std::vector<std::string>& args) {
  // A zero refused because the detector read gas is a check that refused the command.
  const int code = Command(ctx, args, "zero-span", TServiceCommand::Calibration);
  return code == APP_ZEROINGAS ? kExitRefused : code;
}
int PowerOff(CliContext& ctx, const std::vector<std::string>& args) {
  return Command(ctx, args, "power-off", TServiceCommand::TurnOff);
}
int FactoryReset(CliContext& ctx, const std::vector<std::string>& args) {
  if (!args.empty()) return UsageError(ctx, "factory-reset takes no arguments");
  CliSession cli(ctx);
  if (!ConfirmFactoryReset(cli.op())) return kExitDeclined;
  return RunServiceCommand(cli.op(), cli.link(), TServiceCommand::FactoryReset);
}

const CommandRegistrar testRegistrar("test", &Test);
const CommandRegistrar bumpRegistrar("bump", &Bump);
const CommandRegistrar clearPeakRegistrar("clear-peak", &ClearPeak);
const CommandRegistrar zeroSpanRegistrar("zero-span", &ZeroSpan);
const CommandRegistrar powerOffRegistrar("power-off", &PowerOff);
const CommandRegistrar factoryResetRegistrar("factory-reset", &FactoryReset);

}  // namespace
