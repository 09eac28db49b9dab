// Any baud rate through termios2 (BOTHER). Kept apart from CommInt.cpp because the kernel's
// <asm/termbits.h> and the C library's <termios.h> cannot be included together.
#pragma once

// Both return 0 or an errno.
int SetTermiosRate(int fd, unsigned rate);
int GetTermiosRate(int fd, unsigned& inputRate, unsigned& outputRate);
