#include "app/core/SingleInstance.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace {

using Result = TSingleInstance::Result;

// What a second program start sees, in a process of its own.
Result startInChild(const std::string& folder) {
  pid_t pid = ::fork();
  if (pid == 0) {
    TSingleInstance second(kInstanceName, folder);
    ::_exit(static_cast<int>(second.Acquire()));
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? static_cast<Result>(WEXITSTATUS(status)) : Result::Unavailable;
}

TEST(SingleInstance, ASecondStartIsRefusedWhileTheFirstRuns) {
  TempDir dir;
  {
    TSingleInstance first(kInstanceName, dir.path());
    ASSERT_EQ(first.Acquire(), Result::Acquired);
    EXPECT_EQ(first.LockFile(), dir.path() + "KVTBEAMDOCK");
    EXPECT_EQ(startInChild(dir.path()), Result::AlreadyRunning);
  }
  EXPECT_EQ(startInChild(dir.path()), Result::Acquired);
}

TEST(SingleInstance, AKilledCopyDoesNotBlockTheNextStart) {
  TempDir dir;
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  pid_t pid = ::fork();
  if (pid == 0) {
    ::close(ready[0]);
    TSingleInstance first(kInstanceName, dir.path());
    char ok = first.Acquire() == Result::Acquired ? 'y' : 'n';
    (void)!::write(ready[1], &ok, 1);
    for (;;) ::pause();
  }
  ::close(ready[1]);
  char ok = 0;
  ASSERT_EQ(::read(ready[0], &ok, 1), 1);
  ::close(ready[0]);
  ASSERT_EQ(ok, 'y');

  TSingleInstance next(kInstanceName, dir.path());
  EXPECT_EQ(next.Acquire(), Result::AlreadyRunning);

  ASSERT_EQ(::kill(pid, SIGKILL), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(next.Acquire(), Result::Acquired);
}

TEST(SingleInstance, LockFileInTheRuntimeFolderElseTmpPerUser) {
  TempDir dir;
  const char* old = std::getenv("XDG_RUNTIME_DIR");
  const std::string saved = old ? old : "";
  ::setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
  EXPECT_EQ(TSingleInstance().LockFile(), dir.path() + "KVTBEAMDOCK");
  ::unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(TSingleInstance().LockFile(), "/tmp/KVTBEAMDOCK." + std::to_string(::getuid()));
  if (old) ::setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
}

TEST(SingleInstance, NoLockFileMeansRunningUnguarded) {
  TempDir dir;
  TSingleInstance s(kInstanceName, dir.path() + "missing/");
  EXPECT_EQ(s.Acquire(), Result::Unavailable);
  EXPECT_FALSE(s.Error().empty());
}

}  // namespace
