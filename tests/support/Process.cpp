#include "tests/support/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

int decode(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

// In the child: environment, then exec; never returns.
[[noreturn]] void execChild(const std::vector<std::string>& argv, const EnvChanges& env) {
  for (const auto& [name, value] : env) {
    if (value)
      ::setenv(name.c_str(), value->c_str(), 1);
    else
      ::unsetenv(name.c_str());
  }
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  ::execv(args[0], args.data());
  ::_exit(127);
}

}  // namespace

std::string BinPath(const std::string& name) {
  const char* bin = std::getenv("BEAMDOCK_BIN");
  return std::string(bin && *bin ? bin : ".") + "/" + name;
}

ProcessResult RunProcess(const std::vector<std::string>& argv, const EnvChanges& env, int timeoutMs,
                         const std::string& stdinData) {
  ProcessResult result;
  int in[2], out[2], err[2];
  if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return result;
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(in[0], 0);
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    execChild(argv, env);
  }
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  if (!stdinData.empty()) (void)!::write(in[1], stdinData.data(), stdinData.size());
  ::close(in[1]);

  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  bool outOpen = true, errOpen = true;
  while (outOpen || errOpen) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      result.timedOut = true;
      ::kill(pid, SIGKILL);
      break;
    }
    pollfd fds[2] = {{outOpen ? out[0] : -1, POLLIN, 0}, {errOpen ? err[0] : -1, POLLIN, 0}};
    if (::poll(fds, 2, static_cast<int>(left)) < 0 && errno != EINTR) break;
    char buf[4096];
    for (int k = 0; k < 2; ++k) {
      if (fds[k].fd < 0 || fds[k].revents == 0) continue;
      ssize_t n = ::read(fds[k].fd, buf, sizeof buf);
      if (n > 0) {
        (k == 0 ? result.out : result.err).append(buf, static_cast<size_t>(n));
      } else {
        (k == 0 ? outOpen : errOpen) = false;
      }
    }
  }
  ::close(out[0]);
  ::close(err[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  result.exitCode = decode(status);
  return result;
}

ChildProcess::~ChildProcess() { stop(); }

bool ChildProcess::start(const std::vector<std::string>& argv, const EnvChanges& env) {
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return false;
  FPid = ::fork();
  if (FPid == 0) {
    int devnull = ::open("/dev/null", O_RDONLY);
    ::dup2(devnull, 0);
    ::dup2(out[1], 1);
    execChild(argv, env);
  }
  ::close(out[1]);
  FOut = out[0];
  return FPid > 0;
}

std::optional<std::string> ChildProcess::readLine(int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    size_t nl = FBuffer.find('\n');
    if (nl != std::string::npos) {
      std::string line = FBuffer.substr(0, nl);
      FBuffer.erase(0, nl + 1);
      return line;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (FOut < 0 || left <= 0) return std::nullopt;
    pollfd p{FOut, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    char buf[512];
    ssize_t n = ::read(FOut, buf, sizeof buf);
    if (n <= 0) return std::nullopt;
    FBuffer.append(buf, static_cast<size_t>(n));
  }
}

int ChildProcess::stop() {
  if (FPid <= 0) return -1;
  ::kill(FPid, SIGTERM);
  int status = 0;
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  while (::waitpid(FPid, &status, WNOHANG) == 0) {
    if (Clock::now() > deadline) {
      ::kill(FPid, SIGKILL);
      ::waitpid(FPid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  FPid = -1;
  if (FOut >= 0) ::close(FOut);
  FOut = -1;
  return decode(status);
}
