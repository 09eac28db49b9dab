#include "model/FileUtils.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

std::string describe(const std::string& step, const std::string& path, int err) {
  return step + " " + path + ": " + std::strerror(err);
}

void setError(std::string* error, std::string text) {
  if (error != nullptr) *error = std::move(text);
}

// The file a path finally names: a link is followed so that it stays a link.
std::string resolveTarget(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  char* real = realpath(path.c_str(), nullptr);
  if (real == nullptr) return path;  // dangling link: replace the link itself
  std::string target = real;
  std::free(real);
  return target;
}

std::string folderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool writeAll(int fd, const std::string& bytes) {
  const char* p = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

namespace {

// Temporary files of writers that died before their rename (killed, power lost) would pile up
// next to the target; once a write has succeeded they are of no use to anybody.
void RemoveDeadWritersTemps(const std::string& target) {
  const std::string folder = folderOf(target);
  const std::string prefix = target.substr(target.find_last_of('/') + 1) + ".tmp";
  DIR* d = ::opendir(folder.c_str());
  if (!d) return;
  while (const dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name.rfind(prefix, 0) != 0) continue;
    char* end = nullptr;
    const long pid = std::strtol(name.c_str() + prefix.size(), &end, 10);
    if (pid <= 0 || *end != '_' || pid == getpid()) continue;
    if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) ::unlink((folder + "/" + name).c_str());
  }
  ::closedir(d);
}

}  // namespace

bool WriteFileAtomic(const std::string& path, const std::string& bytes, std::string* error) {
  if (path.empty()) {
    setError(error, "No file name given");
    return false;
  }
  const std::string target = resolveTarget(path);

  // The rename below needs only the folder's write permission, so it would replace a file the
  // user made read-only. A file with no write bit is read-only for everyone here, root too.
  struct stat current {};
  if (stat(target.c_str(), &current) == 0 && S_ISREG(current.st_mode) &&
      ((current.st_mode & 0222) == 0 || faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)) {
    setError(error, describe("Cannot write", target, EACCES));
    return false;
  }

  // A fresh name next to the target; O_EXCL keeps us off anybody else's file, and mode 0666
  // lets the umask decide the permissions as for any file the program creates.
  static std::atomic<unsigned> counter{0};
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = target + ".tmp" + std::to_string(getpid()) + "_" + std::to_string(counter++);
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    setError(error, describe("Cannot create", temp, errno));
    return false;
  }

  // Keep the permissions of the file being replaced.
  if (S_ISREG(current.st_mode)) (void)fchmod(fd, current.st_mode & 07777);

  auto fail = [&](const std::string& step, const std::string& name, int err) {
    if (fd >= 0) ::close(fd);
    ::unlink(temp.c_str());
    setError(error, describe(step, name, err));
    return false;
  };

  if (!writeAll(fd, bytes)) return fail("Cannot write", temp, errno);
  if (::fsync(fd) != 0) return fail("Cannot flush", temp, errno);
  const int closed = ::close(fd);
  fd = -1;
  if (closed != 0) return fail("Cannot close", temp, errno);
  if (::rename(temp.c_str(), target.c_str()) != 0) return fail("Cannot replace", target, errno);

  // Make the rename itself durable; the new file is complete either way, so a failure here
  // is not reported.
  const int dir = ::open(folderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    (void)::fsync(dir);
    ::close(dir);
  }
  RemoveDeadWritersTemps(target);
  return true;
}
