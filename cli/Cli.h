// beamdock-cli: the window's operations from a terminal. Each command lives in a file of its
// own and registers itself with a CommandRegistrar; the help text lists every command of the
// interface, and one that no file registers (and no full program runs) says it is not available
// in this build.
#pragma once

#include "app/core/Operator.h"

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class TComKVT;

// Exit status of a command line the program does not accept; no result code has this value.
constexpr int kExitUsage = 64;
// Exit status of an error that is no result code (a bug or a file that could not be written).
constexpr int kExitSoftware = 70;
// The operation ran, but its service record could be kept neither in the store nor its outbox.
constexpr int kExitRecordLost = 75;

// Status lines and messages on stderr ('\r' printed as a line break), questions on the
// terminal (or No when stdin is not one; --yes answers Yes), trace lines on stderr with --trace.
class TerminalOperator : public Operator {
 public:
  TerminalOperator(bool trace, bool yes, std::FILE* err = stderr, std::FILE* in = stdin);

  void showStatus(StatusColour colour, const std::string& text) override;
  void message(MessageIcon icon, const std::string& caption, const std::string& text) override;
  bool ask(const std::string& caption, const std::string& text) override;
  // The file named on the command line (setFile), else the dialog's proposal for a save, and
  // Cancel for an open.
  std::optional<std::string> chooseOpenFile(const FileRequest& request) override;
  std::optional<std::string> chooseSaveFile(const FileRequest& request) override;
  void memoLine(const std::string& line) override;
  void pump() override {}
  void recordNotKept(const std::string& store, const std::string& why) override;
  void recordsWarning(const std::string& store, const std::string& why) override;
  int recordsLost() const { return FRecordsLost; }

  // The answer to the next file dialog (-o FILE, or a command's file argument).
  void setFile(std::string path) { FFile = std::move(path); }
  const std::vector<std::string>& memo() const { return FMemo; }
  bool stderrIsTerminal() const;

 private:
  bool FTrace;
  bool FYes;
  std::FILE* FErr;
  std::FILE* FIn;
  std::optional<std::string> FFile;
  std::vector<std::string> FMemo;
  int FRecordsLost = 0;
};

// '\r' (and "\r\n") as '\n', for the message table's texts on a terminal.
std::string TerminalText(const std::string& text);

struct CliContext;
// Sends the records waiting in the start folder's store to the site server, when one is set;
// a failure is one line on stderr (the records wait for the next push).
void PushAfterOperation(const CliContext& ctx);
// The program with every command (documents, the site server), run in this one's place with
// the same arguments; returns only when it cannot be run.
int RunFullProgram(char** argv);
// That program's path: beside this one, else where the package installs it.
std::string FullProgramPath();

struct CliContext {
  std::string appDir;  // ends with '/'
  bool trace = false;
  bool yes = false;
  TerminalOperator* op = nullptr;
  std::string program = "beamdock-cli";
};

// The settings and the link for one command, as the window has them after start-up:
// LoadSettings(appDir), one TComKVT with the trace handler when the trace is on (settings)
// or --trace asks for it, and Comm.TXT written at the end when the settings switch it on.
class CliSession {
 public:
  explicit CliSession(CliContext& ctx);
  ~CliSession();
  CliSession(const CliSession&) = delete;
  CliSession& operator=(const CliSession&) = delete;

  TComKVT& link() { return *FLink; }
  Operator& op() { return *FCtx.op; }

  // Runs a framed operation (one call of app/ code). A port that cannot be opened is shown
  // as the window shows it, in one error box with its text, and gives 0xA1.
  uint8_t run(const std::string& name, const std::function<uint8_t()>& operation);

 private:
  CliContext& FCtx;
  std::unique_ptr<TComKVT> FLink;
};

using CommandFn = int (*)(CliContext& ctx, const std::vector<std::string>& args);

// Define one at namespace scope in a command's file: static const CommandRegistrar r("identify", &Run);
class CommandRegistrar {
 public:
  CommandRegistrar(const char* name, CommandFn run);
};

CommandFn FindCommand(const std::string& name);

// The light program hands every documented command it lacks to its full program, so to its
// user each of them is available.
#ifdef BEAMDOCK_CLI_LIGHT
constexpr bool kFullProgramRunsTheRest = true;
#else
constexpr bool kFullProgramRunsTheRest = false;
#endif

struct DocumentedCommand {
  const char* name;   // first word of the command line
  const char* usage;  // its lines in the help text
};
// Every command of the interface, in the order of the help text.
const std::vector<DocumentedCommand>& DocumentedCommands();
// The exit statuses beside the result codes, for the help text and the manual page.
struct DocumentedExit {
  int code;
  const char* meaning;
};
const std::vector<DocumentedExit>& DocumentedExitStatuses();
std::string HelpText();

// fleet --notify [--dry-run]: the due notices of [NOTIFY] over the fleet's rows as fleet read them.
struct RFleetRow;
int FleetNotify(CliContext& ctx, const std::vector<RFleetRow>& rows, const std::string& verified, int dueDays,
                std::time_t now, bool dryRun);

// bump --gas VALUE --lot L --expiry YYYY-MM-DD [--time-limit S] [--tolerance PCT].
int MeasuredBump(CliContext& ctx, const std::vector<std::string>& args);

// Prints "beamdock-cli: text" and the hint to --help; returns kExitUsage.
int UsageError(const CliContext& ctx, const std::string& text);
