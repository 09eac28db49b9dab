// hibernate: the Hibernate button; the question is answered on the terminal or by --yes.
#include "app/device/DeviceSession.h"
#include "cli/Cli.h"
#include "cli/ConfigOutput.h"

namespace {

int Run(CliContext& ctx, const std::vector<std::string>& args) {
  if (!args.empty()) return UsageError(ctx, "hibernate takes no arguments");
  CliSession cli(ctx);
  TDeviceSession session;
  session.ShowCFG();
  return SessionExitStatus(session.Hibernate(cli.op(), cli.link()));
}

const CommandRegistrar registrar("hibernate", &Run);

}  // namespace
