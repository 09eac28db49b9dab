// ports: every adapter discovery finds, one line each; nothing is opened.
#include "link/PortDoctor.h"
#include "cli/Cli.h"

namespace {

int Run(CliContext& ctx, const std::vector<std::string>& args) {
  if (!args.empty()) return UsageError(ctx, "ports takes no arguments");
  for (const RPortEntry& port : ListPorts("/")) std::printf("%s\n", PortLine(port).c_str());
  return 0;
}

const CommandRegistrar registrar("ports", &Run);

}  // namespace
