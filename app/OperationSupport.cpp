// The parts of the operation frame that need no link: the guard and the port error text.
#include "app/Operation.h"

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace {
bool gBusy = false;

// The port's errors end in " (Error: N) "; N is the system's error number.
int errorNumberOf(const std::string& text) {
  const std::string tag = "(Error: ";
  size_t at = text.rfind(tag);
  if (at == std::string::npos) return 0;
  return std::atoi(text.c_str() + at + tag.size());
}

std::string groupOf(const std::string& device) {
  struct stat st {};
  if (device.empty() || ::stat(device.c_str(), &st) != 0) return "";
  std::vector<char> buf(4096);
  struct group gr {};
  struct group* found = nullptr;
  if (::getgrgid_r(st.st_gid, &gr, buf.data(), buf.size(), &found) != 0 || !found) return std::to_string(st.st_gid);
  return found->gr_name;
}
}  // namespace

std::string PortOpenErrorText(const std::string& errorText, const std::string& device) {
  const int number = errorNumberOf(errorText);
  bool denied = number == EACCES || number == EPERM;
  if (!denied && !device.empty() && ::access(device.c_str(), R_OK | W_OK) != 0 && errno == EACCES) denied = true;
  if (!denied) return errorText;
  std::string text = errorText + "\r";
  const std::string group = groupOf(device);
  if (!group.empty())
    text += "No access to " + device + ": add your user to the group \"" + group + "\" (sudo usermod -aG " + group +
            " $USER), then log in again.";
  else
    text += "No access to the serial device" + (device.empty() ? std::string() : " " + device) +
            ": add your user to the group that owns it (usually \"dialout\"), then log in again.";
  return text;
}

TOperationGuard::TOperationGuard() : FAcquired(!gBusy) {
  if (FAcquired) gBusy = true;
}

TOperationGuard::~TOperationGuard() {
  if (FAcquired) gBusy = false;
}

bool TOperationGuard::Busy() { return gBusy; }
