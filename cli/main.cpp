// beamdock-cli [--dir FOLDER] [--port DEVICE] [--trace] [--yes] COMMAND [ARGS]
#include "cli/Cli.h"
#include "link/KVTComms.h"
#include "model/TextHelpers.h"

#include <sys/stat.h>

#include <climits>
#include <clocale>
#include <cstdlib>
#include <exception>

namespace {

// --name VALUE or --name=VALUE
bool optionValue(const std::vector<std::string>& args, size_t& i, const std::string& name, std::string& value,
                 bool& missing) {
  const std::string& a = args[i];
  if (a == name) {
    if (i + 1 >= args.size()) {
      missing = true;
      return true;
    }
    value = args[++i];
    return true;
  }
  if (a.rfind(name + "=", 0) == 0) {
    value = a.substr(name.size() + 1);
    return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  // The user's decimal separator in the trace's check-time line, as in the window.
  std::setlocale(LC_ALL, "");
  CliContext ctx;
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string dir;
  std::string port;
  bool dirGiven = false;
  size_t i = 0;
  for (; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.empty() || a[0] != '-') break;
    bool missing = false;
    std::string value;
    if (a == "--help" || a == "-h") {
      std::fputs(HelpText().c_str(), stdout);
      return 0;
    }
    if (a == "--trace") {
      ctx.trace = true;
    } else if (a == "--yes") {
      ctx.yes = true;
    } else if (optionValue(args, i, "--dir", value, missing)) {
      if (missing || value.empty()) return UsageError(ctx, "--dir needs a folder");
      dir = value;
      dirGiven = true;
    } else if (optionValue(args, i, "--port", value, missing)) {
      if (missing || value.empty()) return UsageError(ctx, "--port needs a device");
      port = value;
    } else {
      return UsageError(ctx, "unknown option " + a);
    }
  }
  if (i >= args.size()) return UsageError(ctx, "no command given");
  const std::string command = args[i];
  const std::vector<std::string> rest(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());

  bool documented = false;
  for (const DocumentedCommand& c : DocumentedCommands()) documented = documented || command == c.name;
  CommandFn run = FindCommand(command);
  // Documents and the site server are another program's: this one starts without them.
  if (!run && documented && kFullProgramRunsTheRest) return RunFullProgram(argv);
  if (!run) {
    if (documented) return UsageError(ctx, "the command '" + command + "' is not available in this build");
    return UsageError(ctx, "unknown command '" + command + "'");
  }

  if (dirGiven) {
    struct stat st {};
    char resolved[PATH_MAX];
    if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || !::realpath(dir.c_str(), resolved))
      return UsageError(ctx, "--dir " + dir + ": no such folder");
    ctx.appDir = resolved;
    if (ctx.appDir.back() != '/') ctx.appDir += '/';
  } else {
    ctx.appDir = GetStartDir();
  }
  if (!port.empty()) ::setenv("BEAMDOCK_PORT", port.c_str(), 1);

  TerminalOperator op(ctx.trace, ctx.yes);
  ctx.op = &op;
  try {
    const int status = run(ctx, rest);
    // Discovery knows only the adapter's USB ids; any other serial device must be named.
    if (status == LINK_NOADAPTER)
      std::fprintf(stderr,
                   "%s: no adapter found. To use another serial device, name it: --port DEVICE "
                   "(or BEAMDOCK_PORT=DEVICE), for example --port /dev/ttyUSB0.\n",
                   ctx.program.c_str());
    // The result is out before the site server is asked: a server that is down costs the
    // operation nothing, and what could not be sent waits for the next push.
    if (command != "records") PushAfterOperation(ctx);
    // The operation's own result came first; a record kept nowhere is said after it.
    if (op.recordsLost() > 0) {
      std::fprintf(stderr, "%s: the service record of this operation could be kept nowhere\n", ctx.program.c_str());
      return kExitRecordLost;
    }
    return status;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", ctx.program.c_str(), e.what());
    return kExitSoftware;
  }
}
