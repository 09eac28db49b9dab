// The kill drill at length: writers of the settings file and of a .cfg file, each killed with
// SIGKILL at a random moment, round after round; every file left must read as the old or the
// new values. Exit status 1 when one did not.
//   bench_CrashSafetyBench [rounds (200)] [folder (a new one under /tmp)]
#include "tests/support/KillDrill.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 200;
  std::string dir;
  if (argc > 2) {
    dir = argv[2];
    if (dir.back() != '/') dir += '/';
  } else {
    char templ[] = "/tmp/beamdock-killdrill-XXXXXX";
    if (!::mkdtemp(templ)) return 2;
    dir = std::string(templ) + "/";
  }
  bool ok = true;
  std::printf("%-14s %6s %8s %7s %9s %10s\n", "file", "rounds", "mid-write", "intact", "leftovers", "write (us)");
  using TDrill = RKillDrill (*)(int, const std::string&);
  const std::pair<const char*, TDrill> drills[] = {{"BEAMDOCK.INI", kill_drill::Settings}, {".cfg save", kill_drill::CfgSave}};
  for (const auto& [name, drill] : drills) {
    const auto start = std::chrono::steady_clock::now();
    const RKillDrill r = drill(rounds, dir);
    const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%-14s %6d %8d %7d %9d %10.0f   (%.1f s)\n", name, r.rounds, r.killedWhileWriting, r.intact, r.leftovers,
                r.meanWriteUs, secs);
    if (r.intact != r.rounds) {
      std::printf("  %s\n", r.firstProblem.c_str());
      ok = false;
    }
  }
  if (argc <= 2) std::system(("rm -rf '" + dir + "'").c_str());
  return ok ? 0 : 1;
}
