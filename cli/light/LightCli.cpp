// How the terminal tool reaches its full program: it hands the commands that print a document or
// talk to the site server to the program that has them, and both start the push after an
// operation in that program, so that beamdock-cli never loads Qt Gui or the server client.
#include "app/core/Settings.h"
#include "app/records/PushMarks.h"
#include "app/records/ServiceRecords.h"
#include "cli/Cli.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

namespace {
constexpr int kExitNoProgram = 70;
}  // namespace

std::string FullProgramPath() {
  char self[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n > 0) {
    // Beside this program in a build tree; under the same prefix once installed.
    const std::string self_(self, static_cast<size_t>(n));
    const std::string dir = self_.substr(0, self_.rfind('/') + 1);
    for (const std::string& path : {dir + "beamdock-cli-full", dir + "../libexec/beamdock/beamdock-cli-full"})
      if (::access(path.c_str(), X_OK) == 0) return path;
  }
  return BEAMDOCK_LIBEXEC "/beamdock-cli-full";
}

int RunFullProgram(char** argv) {
  const std::string path = FullProgramPath();
  std::fflush(nullptr);
  ::execv(path.c_str(), argv);
  std::fprintf(stderr, "beamdock-cli: %s: %s\n", path.c_str(), std::strerror(errno));
  return kExitNoProgram;
}

void PushAfterOperation(const CliContext& ctx) {
  const std::string server = AppSettings().ReadString("RECORDS", "Server", "");
  const std::string path = RecordsDatabasePath();
  if (server.empty() || path.empty()) return;
  try {
    const int64_t waiting = WaitingRecords(path);
    if (waiting == 0) return;
    // The last push's failure, if it failed: this push runs on after the exit.
    if (const std::string why = LastPushFailure(path); !why.empty())
      std::fprintf(stderr, "%s: %lld service records wait to be sent to the site server: %s\n", ctx.program.c_str(),
                   static_cast<long long>(waiting), why.c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: service records wait to be sent to the site server: %s\n", ctx.program.c_str(), e.what());
    return;
  }
  // A session of its own, and a grandchild that nobody waits for: this command's exit, and
  // whoever reads its output, go on at once.
  std::fflush(nullptr);
  const pid_t child = ::fork();
  if (child < 0) return;  // what waits is sent by the next push
  if (child > 0) {
    int status = 0;
    ::waitpid(child, &status, 0);
    return;
  }
  ::setsid();
  if (::fork() != 0) ::_exit(0);
  if (const int null = ::open("/dev/null", O_RDWR); null >= 0) {
    ::dup2(null, 0);
    ::dup2(null, 1);
    ::dup2(null, 2);
    if (null > 2) ::close(null);
  }
  const std::string program = FullProgramPath();
  const char* args[] = {"beamdock-cli", "--dir", ctx.appDir.c_str(), "records", "push-detached", nullptr};
  ::execv(program.c_str(), const_cast<char* const*>(args));
  ::_exit(0);
}
