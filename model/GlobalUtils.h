// The device data model in one include: records and checksum, sensor and product types,
// text helpers, .cfg files and the atomic file writer.
#pragma once

#include "model/CfgFile.h"
#include "model/Checksum.h"
#include "model/FileUtils.h"
#include "model/Records.h"
#include "model/SensorTypes.h"
#include "model/TextHelpers.h"
