#include "link/CommRate.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>

int SetTermiosRate(int fd, unsigned rate) {
  struct termios2 t {};
  if (::ioctl(fd, TCGETS2, &t) != 0) return errno;
  t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
  t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  t.c_ispeed = rate;
  t.c_ospeed = rate;
  if (::ioctl(fd, TCSETS2, &t) != 0) return errno;
  return 0;
}

int GetTermiosRate(int fd, unsigned& inputRate, unsigned& outputRate) {
  struct termios2 t {};
  if (::ioctl(fd, TCGETS2, &t) != 0) return errno;
  inputRate = t.c_ispeed;
  outputRate = t.c_ospeed;
  return 0;
}
