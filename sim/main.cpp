// kvt-sim: prints the terminal's device path on its first line, then serves until
// SIGINT or SIGTERM. SIGUSR1 wakes the unit from power down or hibernation; SIGUSR2 plugs a
// new terminal in after a hang-up (printing its path). With --control FIFO it takes control
// lines (a test gas) from FIFO and answers each on stderr.
#include "sim/KvtSim.h"
#include "sim/SimControl.h"

#include <csignal>
#include <cstdio>
#include <exception>
#include <pthread.h>

int main(int argc, char** argv) {
  KvtSim::Options opts;
  std::string error;
  bool help = false;
  if (!KvtSim::parseArgs(argc, argv, opts, error, &help)) {
    std::fprintf(stderr, "kvt-sim: %s\nTry kvt-sim --help\n", error.c_str());
    return 2;
  }
  if (help) {
    std::fputs(KvtSim::helpText().c_str(), stdout);
    return 0;
  }

  if (!opts.makeImage.empty()) {
    const std::vector<uint8_t> image = KvtSim::makeFirmwareImage(opts);
    std::FILE* f = std::fopen(opts.makeImage.c_str(), "wb");
    const bool ok = f && std::fwrite(image.data(), 1, image.size(), f) == image.size();
    if (!f || std::fclose(f) != 0 || !ok) {
      std::fprintf(stderr, "kvt-sim: cannot write %s\n", opts.makeImage.c_str());
      return 1;
    }
    return 0;
  }

  // Blocked before the serving thread starts, so only sigwait below sees them.
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGUSR1);
  sigaddset(&set, SIGUSR2);
  sigaddset(&set, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  KvtSim sim(opts);
  try {
    sim.start();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kvt-sim: %s\n", e.what());
    return 1;
  }
  KvtSimControl control(sim, opts.controlPath, [](const std::string& reply) {
    std::fprintf(stderr, "kvt-sim: %s\n", reply.c_str());
  });
  if (!opts.controlPath.empty()) {
    try {
      control.start();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "kvt-sim: %s\n", e.what());
      sim.stop();
      return 1;
    }
  }
  std::printf("%s\n", sim.devicePath().c_str());
  std::fflush(stdout);

  for (;;) {
    int sig = 0;
    if (sigwait(&set, &sig) != 0) break;
    if (sig == SIGUSR1) {
      sim.wake();
      continue;
    }
    if (sig == SIGUSR2) {
      try {
        sim.replug();
      } catch (const std::exception& e) {
        std::fprintf(stderr, "kvt-sim: %s\n", e.what());
        continue;
      }
      std::printf("%s\n", sim.devicePath().c_str());
      std::fflush(stdout);
      continue;
    }
    break;
  }
  control.stop();
  sim.stop();
  return 0;
}
