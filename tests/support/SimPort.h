// A simulated detector on a pseudo-terminal inside the test process, named as the link's
// device through BEAMDOCK_PORT for the life of the object (the old value is restored).
#pragma once

#include "sim/KvtSim.h"

#include <optional>
#include <string>

class ScopedEnv {
 public:
  // value nullopt: the variable is removed while the object lives.
  ScopedEnv(std::string name, std::optional<std::string> value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string FName;
  std::optional<std::string> FOld;
};

class SimPort {
 public:
  explicit SimPort(KvtSim::Options options = KvtSim::Options());
  KvtSim& sim() { return FSim; }
  const std::string& device() const { return FDevice; }

 private:
  KvtSim FSim;
  std::string FDevice;
  ScopedEnv FEnv;
};
