// kvt-sim's control channel: a FIFO it makes and reads, one control line at a time (see
// KvtSim::control), so a test gas can be applied and removed from a terminal or from the
// window's SIMULATED strip while the simulator serves:  echo 'gas 25' > FIFO
#pragma once

#include "sim/KvtSim.h"

#include <functional>
#include <string>
#include <thread>

class KvtSimControl {
 public:
  // say gets the reply to every line (kvt-sim prints it on stderr).
  KvtSimControl(KvtSim& sim, std::string path, std::function<void(const std::string&)> say);
  ~KvtSimControl();
  KvtSimControl(const KvtSimControl&) = delete;
  KvtSimControl& operator=(const KvtSimControl&) = delete;

  // Makes the FIFO (replacing a FIFO left behind, never another kind of file) and starts
  // reading it. Throws std::runtime_error when it cannot.
  void start();
  // Stops reading and removes the FIFO.
  void stop();

 private:
  void run();

  KvtSim& sim_;
  std::string path_;
  std::function<void(const std::string&)> say_;
  int fd_ = -1;
  int wake_[2] = {-1, -1};
  std::thread thread_;
};
