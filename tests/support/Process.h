// Running the programs of the build (beamdock-cli, kvt-sim) from tests.
#pragma once

#include <optional>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

// $BEAMDOCK_BIN/name; the build folder's programs.
std::string BinPath(const std::string& name);

// Environment changes for a child: a value sets the variable, nullopt removes it.
using EnvChanges = std::vector<std::pair<std::string, std::optional<std::string>>>;

struct ProcessResult {
  int exitCode = -1;     // exit status, or 128 + signal
  std::string out, err;  // everything written to stdout and stderr
  bool timedOut = false; // killed after the time limit
};

// Runs argv[0] (a path) with stdin from stdinData (a pipe, so not a terminal), collecting
// its output; killed after timeoutMs.
ProcessResult RunProcess(const std::vector<std::string>& argv, const EnvChanges& env = {}, int timeoutMs = 60000,
                         const std::string& stdinData = "");

// A program that keeps running while the test talks to it (kvt-sim).
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();  // stop()
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool start(const std::vector<std::string>& argv, const EnvChanges& env = {});
  // One line of its stdout without the line end; nullopt when none came within timeoutMs.
  std::optional<std::string> readLine(int timeoutMs = 10000);
  // SIGTERM, then SIGKILL if it has not ended within a few seconds; its exit code.
  int stop();
  pid_t pid() const { return FPid; }

 private:
  pid_t FPid = -1;
  int FOut = -1;
  std::string FBuffer;
};
