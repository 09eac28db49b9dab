// The part of the operation frame that needs no link: the port error text.
#include "app/device/Operation.h"
#include "link/PortDoctor.h"

#include <cstdlib>

namespace {
// The port's errors end in " (Error: N) "; N is the system's error number.
int errorNumberOf(const std::string& text) {
  const std::string tag = "(Error: ";
  size_t at = text.rfind(tag);
  if (at == std::string::npos) return 0;
  return std::atoi(text.c_str() + at + tag.size());
}

}  // namespace

std::string PortOpenErrorText(const std::string& errorText, const std::string& device) {
  return errorText + "\r" + DiagnosePortOpen(CurrentDoctorEnv(), device, errorNumberOf(errorText));
}
