// read and write: Read Device, Read File and Write Device of the main window, on the same
// session code the window runs.
#include "app/config/CfgFields.h"
#include "app/config/CfgView.h"
#include "app/device/DeviceSession.h"
#include "cli/Cli.h"
#include "cli/ConfigOutput.h"
#include "link/KVTComms.h"

#include "model/CfgFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>

namespace {

int Read(CliContext& ctx, const std::vector<std::string>& args) {
  bool json = false;
  std::string output;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--json") {
      json = true;
    } else if (args[i] == "-o" || args[i] == "--output") {
      if (i + 1 >= args.size() || args[i + 1].empty()) return UsageError(ctx, "read: -o needs a file name");
      output = args[++i];
    } else {
      return UsageError(ctx, "read: unexpected argument " + args[i]);
    }
  }
  CliSession cli(ctx);
  TDeviceSession session;
  session.ShowCFG();  // the start-up view
  const RSessionResult read = session.ReadDevice(cli.op(), cli.link());
  if (!read.ok()) return SessionExitStatus(read);

  const std::string text = json ? ConfigJson(session.FIdentity, session.FKVTCFG) + "\n"
                                : ConfigListing(session.FIdentity, session.FKVTCFG, session.FProductName);
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
  if (output.empty()) return 0;

  // As Write File after the read: the collect of the view, then the file.
  ctx.op->setFile(output);
  FileRequest dialog = CFGSaveDialog();
  return SessionExitStatus(session.WriteFile(cli.op(), dialog, session.CollectShown(false)));
}

// The file is checked before the detector is: a wrong name should not cost a connection.
// Returns the exit status when the file is refused.
std::optional<int> RefuseCFGFile(CliContext& ctx, const std::string& path, const char* command = "write") {
  const CFGFileContent file = ReadCFGFile(path);
  if (file.ok()) return std::nullopt;
  if (file.refusal != CFGRefusal::NotOpened) {
    ctx.op->message(MessageIcon::Error, kCFGReadCaption, CFGRefusalText(file.refusal));
    return kExitRefused;
  }
  std::error_code ec;
  int err = std::filesystem::is_directory(path, ec) ? EISDIR : 0;
  if (err == 0) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    err = fd < 0 ? errno : EIO;
    if (fd >= 0) ::close(fd);
  }
  std::fprintf(stderr, "%s: %s: cannot read %s: %s\n", ctx.program.c_str(), command, path.c_str(), std::strerror(err));
  return kExitRefused;
}

int Write(CliContext& ctx, const std::vector<std::string>& args) {
  if (args.size() != 1 || args[0].empty()) return UsageError(ctx, "write needs one FILE.cfg");
  CliSession cli(ctx);
  if (const std::optional<int> refused = RefuseCFGFile(ctx, args[0])) return *refused;
  TDeviceSession session;
  session.ShowCFG();
  RSessionResult r = session.ReadDevice(cli.op(), cli.link());
  if (!r.ok()) return SessionExitStatus(r);

  ctx.op->setFile(args[0]);
  FileRequest dialog = CFGOpenDialog();
  r = session.ReadFile(cli.op(), dialog);
  if (!r.ok()) return SessionExitStatus(r);

  // The file's own values are checked before the boxes' limits could quietly change them: an
  // alarm level beyond the sensor's range is refused, not cut to it.
  r = TDeviceSession::RefuseWrite(cli.op(), session.FKVTCFG);
  if (!r.ok()) return SessionExitStatus(r);
  // Write Device collects what the controls show; a life beyond 24 months is limited and said.
  bool lifeLimited = false;
  const RKVTCFG collected = session.CollectShown(true, &lifeLimited);
  if (lifeLimited) cli.op().message(MessageIcon::Information, kLifeOverCaption, kLifeOverText);
  return SessionExitStatus(session.WriteDevice(cli.op(), cli.link(), collected));
}

// Read Device, then the file's fields taken over as Read File does, then what differs.
int Diff(CliContext& ctx, const std::vector<std::string>& args) {
  if (args.size() != 1 || args[0].empty()) return UsageError(ctx, "diff needs one FILE.cfg");
  CliSession cli(ctx);
  if (const std::optional<int> refused = RefuseCFGFile(ctx, args[0], "diff")) return *refused;
  TDeviceSession session;
  session.ShowCFG();
  const RSessionResult r = session.ReadDevice(cli.op(), cli.link());
  if (!r.ok()) return SessionExitStatus(r);
  RKVTCFG fromFile = session.FKVTCFG;
  if (const CFGRefusal refusal = LoadCFGFileInto(args[0], fromFile); refusal != CFGRefusal::None) {
    ctx.op->message(MessageIcon::Error, kCFGReadCaption, CFGRefusalText(refusal));
    return kExitRefused;
  }
  const std::vector<RFieldChange> changes = DiffCFG(session.FKVTCFG, fromFile);
  std::fputs(ChangeLines(changes).c_str(), stdout);
  std::fflush(stdout);
  return changes.empty() ? 0 : 1;
}

const CommandRegistrar readRegistrar("read", &Read);
const CommandRegistrar diffRegistrar("diff", &Diff);
const CommandRegistrar writeRegistrar("write", &Write);

}  // namespace
