#include "sim/SimControl.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

KvtSimControl::KvtSimControl(KvtSim& sim, std::string path, std::function<void(const std::string&)> say)
    : sim_(sim), path_(std::move(path)), say_(std::move(say)) {}

KvtSimControl::~KvtSimControl() { stop(); }

void KvtSimControl::start() {
  auto fail = [this](const std::string& what) {
    const std::string text = what + " " + path_ + ": " + std::strerror(errno);
    stop();
    throw std::runtime_error(text);
  };
  struct stat st{};
  if (::lstat(path_.c_str(), &st) == 0) {
    if (!S_ISFIFO(st.st_mode)) {
      errno = EEXIST;
      fail("control: not a FIFO,");
    }
    ::unlink(path_.c_str());
  }
  if (::mkfifo(path_.c_str(), 0600) != 0) fail("mkfifo");
  // Read and write: the FIFO never reports an end when a writer closes, so one open serves
  // every echo that follows.
  fd_ = ::open(path_.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) fail("open");
  if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) fail("pipe");
  thread_ = std::thread([this] { run(); });
}

void KvtSimControl::stop() {
  if (thread_.joinable()) {
    const char c = 1;
    [[maybe_unused]] auto n = ::write(wake_[1], &c, 1);
    thread_.join();
  }
  for (int* fd : {&fd_, &wake_[0], &wake_[1]}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
  if (!path_.empty()) {
    struct stat st{};
    if (::lstat(path_.c_str(), &st) == 0 && S_ISFIFO(st.st_mode)) ::unlink(path_.c_str());
  }
}

void KvtSimControl::run() {
  std::string pending;
  char buf[512];
  for (;;) {
    pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents) return;
    const ssize_t n = ::read(fd_, buf, sizeof buf);
    if (n <= 0) continue;
    pending.append(buf, static_cast<size_t>(n));
    // A line longer than any control line is junk: dropped rather than kept growing.
    if (pending.size() > 4096 && pending.find('\n') == std::string::npos) pending.clear();
    for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
      std::string line = pending.substr(0, end);
      pending.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      std::string reply;
      sim_.control(line, reply);
      if (!reply.empty() && say_) say_(reply);
    }
  }
}
