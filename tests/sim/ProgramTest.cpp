// kvt-sim as a program: first line of stdout is the terminal, SIGUSR1 wakes, SIGTERM ends.
#include "tests/sim/PtyPort.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

// ctest names the build folder; run by hand, the program sits one folder above the test.
std::string simBinary() {
  if (const char* bin = std::getenv("BEAMDOCK_BIN")) return std::string(bin) + "/kvt-sim";
  char self[4096];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  std::string dir = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string("./x");
  dir.erase(dir.rfind('/'));
  return dir + "/../kvt-sim";
}

struct Child {
  pid_t pid = -1;
  int out = -1;

  explicit Child(std::vector<std::string> args) {
    int p[2];
    if (::pipe(p) != 0) return;
    pid = ::fork();
    if (pid == 0) {
      ::dup2(p[1], 1);
      ::close(p[0]);
      ::close(p[1]);
      std::vector<char*> argv;
      std::string bin = simBinary();
      argv.push_back(bin.data());
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(bin.c_str(), argv.data());
      ::_exit(127);
    }
    ::close(p[1]);
    out = p[0];
  }
  ~Child() {
    if (pid > 0) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
    if (out >= 0) ::close(out);
  }
  std::string readAll(int timeoutMs, bool firstLineOnly) {
    std::string s;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
      pollfd f{out, POLLIN, 0};
      if (::poll(&f, 1, 50) <= 0) continue;
      char c[256];
      const ssize_t n = ::read(out, c, firstLineOnly ? 1 : sizeof c);
      if (n <= 0) break;
      s.append(c, static_cast<size_t>(n));
      if (firstLineOnly && s.back() == '\n') break;
    }
    return s;
  }
  int wait() {
    int status = 0;
    ::waitpid(pid, &status, 0);
    pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
};

TEST(SimProgram, ServesOnThePrintedTerminalUntilTerminated) {
  Child c({"--serial", "PRG0000001", "--wake-after-ms", "0"});
  ASSERT_GT(c.pid, 0);
  std::string line = c.readAll(5000, true);
  ASSERT_FALSE(line.empty());
  ASSERT_EQ(line.back(), '\n');
  line.pop_back();
  EXPECT_EQ(line.rfind("/dev/", 0), 0u) << line;

  {
    PtyPort port(line);
    bool ok = false;
    port.connect(2000, &ok);
    ASSERT_TRUE(ok);
    const Bytes id = port.exchange({0xA0}, 20);
    ASSERT_EQ(id.size(), 20u);
    EXPECT_EQ(std::string(id.begin() + 8, id.begin() + 18), "PRG0000001");
    // Powered down, it answers again once SIGUSR1 wakes it.
    EXPECT_EQ(port.exchange({0x14}, 3, 500), kAck);
    port.connect(100, &ok);
    EXPECT_FALSE(ok);
    ::kill(c.pid, SIGUSR1);
    port.connect(2000, &ok);
    EXPECT_TRUE(ok);
  }
  ::kill(c.pid, SIGTERM);
  EXPECT_EQ(c.wait(), 0);
}

TEST(SimProgram, HelpAndBadOptions) {
  {
    Child c({"--help"});
    const std::string text = c.readAll(5000, false);
    EXPECT_NE(text.find("--corrupt-crc-every"), std::string::npos);
    EXPECT_EQ(c.wait(), 0);
  }
  {
    Child c({"--no-such-option"});
    EXPECT_EQ(c.readAll(5000, false), "");
    EXPECT_EQ(c.wait(), 2);
  }
}

}  // namespace
