#include "app/core/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {
std::string lockFileFor(const std::string& name, const std::string& folder) {
  if (!folder.empty()) return folder + (folder.back() == '/' ? "" : "/") + name;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && *runtime) {
    std::string dir = runtime;
    return dir + (dir.back() == '/' ? "" : "/") + name;
  }
  // /tmp is shared by every user: the user id keeps one user's copy from blocking another's.
  return "/tmp/" + name + "." + std::to_string(::getuid());
}
}  // namespace

TSingleInstance::TSingleInstance(std::string name, std::string folder) : FLockFile(lockFileFor(name, folder)) {}

TSingleInstance::~TSingleInstance() { Release(); }

TSingleInstance::Result TSingleInstance::Acquire() {
  if (FFd >= 0) return Result::Acquired;
  int fd = ::open(FLockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    FError = std::strerror(errno);
    return Result::Unavailable;
  }
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    const int err = errno;
    ::close(fd);
    if (err == EWOULDBLOCK) return Result::AlreadyRunning;
    FError = std::strerror(err);
    return Result::Unavailable;
  }
  FFd = fd;
  return Result::Acquired;
}

void TSingleInstance::Release() {
  if (FFd >= 0) {
    ::close(FFd);
    FFd = -1;
  }
}
