#include "model/DeviceUtils.h"

RDeviceCFG DeviceCFG;
std::string AppDir;
