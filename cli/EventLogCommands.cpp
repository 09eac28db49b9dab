// log export / log reset: Save Event Log and Log Reset of the window. The CSV file is the
// window's, byte for byte; its path is printed on stdout. Both keep the log's entries in the
// service records first.
#include "app/device/DeviceSession.h"
#include "app/device/EventLog.h"
#include "cli/Cli.h"
#include "cli/ConfigOutput.h"
#include "link/KVTComms.h"

#include <cstdio>
#include <filesystem>

namespace {

int Export(CliContext& ctx, const std::vector<std::string>& args) {
  std::string output;
  for (size_t i = 0; i < args.size(); ++i) {
    if ((args[i] == "-o" || args[i] == "--output") && i + 1 < args.size() && !args[i + 1].empty())
      output = args[++i];
    else
      return UsageError(ctx, "log export: unexpected argument " + args[i]);
  }
  CliSession cli(ctx);
  TDeviceSession session;
  session.ShowCFG();
  // The folder is remembered in the settings, so by its full path.
  std::error_code ec;
  if (!output.empty()) ctx.op->setFile(std::filesystem::absolute(output, ec).lexically_normal().string());
  FileRequest dialog = EventLogSaveDialog();
  const REventLogResult r = SaveEventLog(cli.op(), cli.link(), session, dialog);
  if (r.mCode != LINK_OK) return r.mCode;
  if (r.mEnd == TEventLogEnd::NotSaved) return kExitSoftware;
  if (r.mEnd == TEventLogEnd::Saved) std::printf("%s\n", r.mFile.c_str());
  return 0;
}

int Run(CliContext& ctx, const std::vector<std::string>& args) {
  if (args.empty()) return UsageError(ctx, "log needs export or reset");
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  if (args[0] == "export") return Export(ctx, rest);
  if (args[0] != "reset") return UsageError(ctx, "log: unknown action " + args[0]);
  if (!rest.empty()) return UsageError(ctx, "log reset takes no arguments");
  CliSession cli(ctx);
  if (!ConfirmLogReset(cli.op())) return kExitDeclined;
  TDeviceSession session;
  const uint8_t code = LogReset(cli.op(), cli.link(), session);
  // Entries kept nowhere: nothing was cleared, and the records are what failed.
  return code == APP_LOGNOTKEPT ? kExitRecordLost : code;
}

const CommandRegistrar registrar("log", &Run);

}  // namespace
