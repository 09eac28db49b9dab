#include "tests/support/SimPort.h"

#include <cstdlib>

ScopedEnv::ScopedEnv(std::string name, std::optional<std::string> value) : FName(std::move(name)) {
  if (const char* old = std::getenv(FName.c_str())) FOld = old;
  if (value)
    ::setenv(FName.c_str(), value->c_str(), 1);
  else
    ::unsetenv(FName.c_str());
}

ScopedEnv::~ScopedEnv() {
  if (FOld)
    ::setenv(FName.c_str(), FOld->c_str(), 1);
  else
    ::unsetenv(FName.c_str());
}

namespace {
std::string startedDevice(KvtSim& sim) {
  sim.start();
  return sim.devicePath();
}
}  // namespace

SimPort::SimPort(KvtSim::Options options)
    : FSim(std::move(options)), FDevice(startedDevice(FSim)), FEnv("BEAMDOCK_PORT", FDevice) {}
