// doctor: the checks between this machine and the detector, one line each on stdout;
// exit 0 when none failed, 1 otherwise.
#include "app/device/Operation.h"
#include "link/PortDoctor.h"
#include "link/USBtoUART.h"
#include "cli/Cli.h"
#include "model/DeviceUtils.h"


namespace {

int Run(CliContext& ctx, const std::vector<std::string>& args) {
  if (!args.empty()) return UsageError(ctx, "doctor takes no arguments");
  RDoctorEnv env = CurrentDoctorEnv();
  // The settings file is not read here (reading it creates folders); the handshake gets the
  // default connect time.
  env.connectSeconds = ConnectSeconds();
  bool failed = false;
  for (const RDoctorCheck& check : RunDoctor(env, PortOverride())) {
    std::printf("%s\n", DoctorLine(check).c_str());
    std::fflush(stdout);
    failed = failed || check.state == TCheckState::Fail;
  }
  return failed ? 1 : 0;
}

const CommandRegistrar registrar("doctor", &Run);

}  // namespace
