// The program-wide settings a test may change (DeviceCFG, AppDir, FactoryMode, SensorTypes),
// put back as they were when it goes, so no test hands its settings to the next one.
#pragma once

#include "model/DeviceUtils.h"
#include "model/SensorTypes.h"

#include <string>
#include <vector>

class ProgramState {
 public:
  ProgramState() = default;
  ~ProgramState() {
    DeviceCFG = FDevice;
    AppDir = FDir;
    FactoryMode = FFactory;
    SensorTypes = FTypes;
  }
  ProgramState(const ProgramState&) = delete;
  ProgramState& operator=(const ProgramState&) = delete;

 private:
  RDeviceCFG FDevice = DeviceCFG;
  std::string FDir = AppDir;
  bool FFactory = FactoryMode;
  std::vector<RSensorType> FTypes = SensorTypes;
};
