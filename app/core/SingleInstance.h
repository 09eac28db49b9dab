// Only one copy of the program runs per user. The lock is an flock on a lock file, which the
// system drops when the process ends in any way (a crash or kill -9 included), so a dead
// copy never blocks the next start.
#pragma once

#include <string>

constexpr const char* kInstanceName = "KVTBEAMDOCK";
constexpr const char* kAlreadyRunningText = "KVT BeamDock program now running...";

class TSingleInstance {
 public:
  enum class Result { Acquired, AlreadyRunning, Unavailable };

  // folder: where the lock file lives; empty means $XDG_RUNTIME_DIR, else /tmp (one file per user).
  explicit TSingleInstance(std::string name = kInstanceName, std::string folder = "");
  ~TSingleInstance();  // releases the lock
  TSingleInstance(const TSingleInstance&) = delete;
  TSingleInstance& operator=(const TSingleInstance&) = delete;

  // AlreadyRunning when another process holds the lock. Unavailable when no lock file could
  // be made (the copy then runs unguarded rather than never).
  Result Acquire();
  void Release();
  const std::string& LockFile() const { return FLockFile; }
  const std::string& Error() const { return FError; }

 private:
  std::string FLockFile;
  std::string FError;
  int FFd = -1;
};
