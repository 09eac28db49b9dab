// identify: the TEST page's Identify; the six lines of its box on stdout.
#include "app/device/Identify.h"
#include "cli/Cli.h"
#include "link/KVTComms.h"

namespace {

int Run(CliContext& ctx, const std::vector<std::string>& args) {
  if (!args.empty()) return UsageError(ctx, "identify takes no arguments");
  CliSession session(ctx);
  RKVTIdenty ident{};
  const uint8_t code = session.run(kIdentifyName, [&] { return LoadIdentify(session.op(), session.link(), ident); });
  if (code == LINK_OK) std::printf("%s\n", TerminalText(IdentifyText(ident)).c_str());
  return code;
}

const CommandRegistrar registrar("identify", &Run);

}  // namespace
