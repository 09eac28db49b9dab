// A socket listening on the loopback address at a port of the system's choosing: the far end of
// a server the tests play (one that answers, or one that never does).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// The listening socket (-1 when none could be made); its port in *port.
inline int ListenOnLoopback(int* port, int backlog = 16) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof addr;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, backlog) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &size) != 0) {
    if (fd >= 0) ::close(fd);
    return -1;
  }
  *port = ntohs(addr.sin_port);
  return fd;
}
