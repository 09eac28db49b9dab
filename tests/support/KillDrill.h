// Kills a file writer with SIGKILL at a random moment and checks what it left: the settings
// file and a .cfg file, each written round after round with new values. Header-only so the
// benchmark in bench/ runs the long drill with the same code as the short test.
#pragma once

#include "app/core/Settings.h"
#include "model/CfgFile.h"

#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <random>
#include <string>

struct RKillDrill {
  int rounds = 0;
  int killedWhileWriting = 0;  // the kill came before the write had returned
  int intact = 0;              // the file read back as the old or the new values
  int leftovers = 0;           // temporary files the killed writers left in the folder
  std::string firstProblem;    // what the first bad round found
  double meanWriteUs = 0;      // one write, measured without kills
};

namespace kill_drill {

// Runs write in a child and kills it `delay` after it starts writing. True when the write
// returned before the kill.
inline bool KillDuringWrite(const std::function<void()>& write, std::chrono::nanoseconds delay) {
  int fds[2];
  if (::pipe(fds) != 0) return true;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    char c = 's';
    (void)!::write(fds[1], &c, 1);
    write();
    c = 'd';
    (void)!::write(fds[1], &c, 1);
    ::_exit(0);
  }
  ::close(fds[1]);
  char c = 0;
  (void)!::read(fds[0], &c, 1);  // the child is about to write
  const timespec ts{static_cast<time_t>(delay.count() / 1'000'000'000), static_cast<long>(delay.count() % 1'000'000'000)};
  ::nanosleep(&ts, nullptr);
  ::kill(pid, SIGKILL);
  int status = 0;
  ::waitpid(pid, &status, 0);
  const bool done = ::read(fds[0], &c, 1) == 1 && c == 'd';
  ::close(fds[0]);
  return done;
}

inline int CountTempFiles(const std::string& dir, const std::string& name) {
  int n = 0;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (const dirent* e = ::readdir(d))
      if (std::string(e->d_name).rfind(name + ".tmp", 0) == 0) ++n;
    ::closedir(d);
  }
  return n;
}

// write(i) writes round i's values; check(i) says what is wrong with the file when it holds
// neither round i-1's nor round i's (empty when it holds one of them).
inline RKillDrill Run(int rounds, const std::string& dir, const std::string& name,
                      const std::function<void(int)>& write, const std::function<std::string(int)>& check) {
  RKillDrill r;
  using Clock = std::chrono::steady_clock;
  write(0);
  const auto t0 = Clock::now();
  for (int i = 0; i < 5; ++i) write(0);
  const auto oneWrite = (Clock::now() - t0) / 5;
  r.meanWriteUs = std::chrono::duration<double, std::micro>(oneWrite).count();
  // Kills spread from the start of a write to well past its usual end.
  std::mt19937 random(20261209);
  std::uniform_int_distribution<long long> delayNs(0, 2 * std::chrono::nanoseconds(oneWrite).count() + 20'000);
  for (int i = 1; i <= rounds; ++i) {
    ++r.rounds;
    if (!KillDuringWrite([&] { write(i); }, std::chrono::nanoseconds(delayNs(random)))) ++r.killedWhileWriting;
    std::string problem = check(i);
    if (problem.empty()) {
      ++r.intact;
    } else if (r.firstProblem.empty()) {
      r.firstProblem = "round " + std::to_string(i) + ": " + problem;
    }
    write(i);  // the next round starts from round i's values
  }
  r.leftovers = CountTempFiles(dir, name);
  return r;
}

// The settings file: [WINDOW] written in one replacement, next to entries it must keep.
inline RKillDrill Settings(int rounds, const std::string& dir) {
  const std::string path = TSettingsFile(dir).FileName();
  if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fputs("; kept\r\n[Environment]\r\nModeEntry=USER\r\n[SENSOR]\r\nH2S=1,ppm,H,120,0,100\r\n", f);
    std::fclose(f);
  }
  const auto geometry = [](int i) { return RWindowGeometry{500 + i, 700 + i, i, -i}; };
  return Run(
      rounds, dir, "BEAMDOCK.INI", [&](int i) { WriteWindowGeometry(dir, geometry(i)); },
      [&](int i) -> std::string {
        TIniFile ini(path);
        if (ini.ReadString("Environment", "ModeEntry", "") != "USER" ||
            ini.ReadString("SENSOR", "H2S", "") != "1,ppm,H,120,0,100")
          return "entries of other sections lost";
        const RWindowGeometry g = ReadWindowGeometry(dir);
        for (int round : {i - 1, i}) {
          const RWindowGeometry w = geometry(round);
          if (g.mWidth == w.mWidth && g.mHeight == w.mHeight && g.mLeft == w.mLeft && g.mTop == w.mTop) return "";
        }
        return "[WINDOW] holds neither the old nor the new geometry";
      });
}

// A .cfg save: the whole file is the old or the new configuration.
inline RKillDrill CfgSave(int rounds, const std::string& dir) {
  const std::string path = dir + "drill.cfg";
  const auto cfg = [](int i) {
    RKVTCFG c{};
    c.mSensor.mAlarmHigh = static_cast<uint16_t>(100 + i);
    c.mUnit.mLifeRemaining = static_cast<uint32_t>(i);
    return c;
  };
  return Run(
      rounds, dir, "drill.cfg", [&](int i) { SaveCFGFile(path, cfg(i), false, nullptr); },
      [&](int i) -> std::string {
        const CFGFileContent content = ReadCFGFile(path);
        if (!content.ok()) return "the file is refused (" + CFGRefusalText(content.refusal) + ")";
        for (int round : {i - 1, i})
          if (content.cfg.mSensor.mAlarmHigh == 100 + round && content.cfg.mUnit.mLifeRemaining == uint32_t(round))
            return "";
        return "the file holds neither the old nor the new configuration";
      });
}

}  // namespace kill_drill
