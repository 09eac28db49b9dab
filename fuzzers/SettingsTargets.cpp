// Targets for the settings file: the INI reader and writer, start-up's LoadSettings and the
// [SENSOR] table.
#include "fuzzers/FuzzSupport.h"

#include "app/core/IniFile.h"
#include "app/core/Settings.h"
#include "model/DeviceUtils.h"
#include "model/SensorTypes.h"

#include <algorithm>
#include <string>

namespace {

// The settings name folders the program creates; with '/' out of the input they all stay
// inside the scratch folder.
std::vector<uint8_t> WithoutSlashes(std::vector<uint8_t> bytes) {
  std::replace(bytes.begin(), bytes.end(), uint8_t{'/'}, uint8_t{'_'});
  return bytes;
}

std::string Text(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

}  // namespace

// Reads of any file, then one key written: the key reads back, every other entry of its
// section stays, and the file still reads.
int FuzzIniFile(const uint8_t* data, size_t size) {
  TFuzzBytes in(data, size);
  const uint8_t split = in.Byte();
  const std::string names = Text(in.Take(split % 16));
  const std::string section = names.substr(0, names.size() / 2), key = names.substr(names.size() / 2);
  const std::string path = FuzzScratchDir() + "fuzz.ini";
  WriteScratchFile(path, in.Rest());

  TIniFile ini(path);
  int number = 0;
  (void)ParseIniInteger(ini.ReadString(section, key, "7"), number);
  (void)ini.ReadInteger(section, key, 3);
  (void)ini.ValueExists(section, key);
  const bool hadSection = ini.SectionExists(section);
  const auto before = ini.ReadSectionValues(section);

  const std::string value = "v" + std::to_string(split);
  if (!ini.WriteString(section, key, value)) return 0;  // a name the file cannot hold
  FUZZ_CHECK(ini.SectionExists(section) || !hadSection);
  const auto after = ini.ReadSectionValues(section);
  // The first entry of the key takes the value; the others keep theirs.
  if (ini.ValueExists(section, key)) FUZZ_CHECK(ini.ReadString(section, key, "") == value);
  size_t kept = 0;
  for (const auto& entry : before)
    if (std::find(after.begin(), after.end(), entry) != after.end()) ++kept;
  FUZZ_CHECK(kept + 1 >= before.size());
  return 0;
}

// BEAMDOCK.INI at start-up: every setting read, folders made, defaults written back.
int FuzzLoadSettings(const uint8_t* data, size_t size) {
  TFuzzBytes in(data, size);
  const std::string& dir = FuzzScratchDir();
  WriteScratchFile(TSettingsFile(dir).FileName(), WithoutSlashes(in.Rest()));
  LoadSettings(dir);
  FUZZ_CHECK(!SensorTypes.empty());
  // What start-up wrote back leaves the file readable with the same table.
  const std::vector<RSensorType> first = SensorTypes;
  LoadSettings(dir);
  FUZZ_CHECK(SensorTypes.size() == first.size());
  return 0;
}

// The [SENSOR] entries alone, and the lookups start-up makes of them.
int FuzzSensorEntries(const uint8_t* data, size_t size) {
  const TSettingsFile settings(FuzzScratchDir());
  std::string text = "[SENSOR]\n";
  text.append(reinterpret_cast<const char*>(data), size);
  WriteScratchFile(settings.FileName(), std::vector<uint8_t>(text.begin(), text.end()));
  const std::vector<RSensorType> table = ReadSensorTypes(settings);
  FUZZ_CHECK(!table.empty());
  for (const RSensorType& t : table) {
    FUZZ_CHECK(t.mSpec.size() == 2);
    FUZZ_CHECK(static_cast<double>(t.mMax) - 0.1 > static_cast<double>(t.mMin));
    FUZZ_CHECK(FindSensorType(table, t.mIndex) >= 0);
  }
  return 0;
}
