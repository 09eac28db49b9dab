// eeprom [-o FILE.csv]: EEPROM Read, then Save File of the grid it leaves.
// eeprom --log: Read/Save Log; the path of the log file on stdout after "SAVE:".
#include "app/device/EepromDump.h"
#include "cli/Cli.h"
#include "link/KVTComms.h"
#include "model/DeviceUtils.h"

#include <cstdio>
#include <filesystem>

namespace {

int Run(CliContext& ctx, const std::vector<std::string>& args) {
  bool log = false;
  std::string output;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--log") {
      log = true;
    } else if (args[i] == "-o" || args[i] == "--output") {
      if (i + 1 >= args.size() || args[i + 1].empty()) return UsageError(ctx, "eeprom: -o needs a file name");
      output = args[++i];
    } else {
      return UsageError(ctx, "eeprom: unexpected argument " + args[i]);
    }
  }
  if (log && !output.empty()) return UsageError(ctx, "eeprom: --log names its own file; -o does not go with it");

  CliSession cli(ctx);
  // Outside the factory view the settings do not create EEPROM/; the file must not be lost
  // after the detector was read, so the folder it goes to is made (or refused) first.
  if (log || output.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(DeviceCFG.mEEPROMSaveDir, ec);
    if (!std::filesystem::is_directory(DeviceCFG.mEEPROMSaveDir, ec)) {
      std::fprintf(stderr, "%s: the folder %s cannot be made, so the EEPROM file could not be saved; nothing was read\n",
                   ctx.program.c_str(), DeviceCFG.mEEPROMSaveDir.c_str());
      return kExitSoftware;
    }
  }
  TEEPROMGrid grid = NewEEPROMGrid(DeviceCFG.mEEPROMMaxAddress);
  if (log) {
    const REEPROMLogResult r = EEPROMReadSaveLog(cli.op(), cli.link(), grid);
    if (r.mCode != LINK_OK) return r.mCode;
    if (!r.mSaved) return kExitSoftware;
    std::printf("SAVE:%s\n", r.mPath.c_str());
    return 0;
  }
  const uint8_t code = EEPROMRead(cli.op(), cli.link(), grid);
  if (code != LINK_OK) return code;
  if (!output.empty()) ctx.op->setFile(output);
  FileRequest dialog{"", "Data file|*.csv", "csv", "", ""};
  std::string path;
  if (EEPROMSaveFile(cli.op(), dialog, grid, &path) != TEEPROMSave::Saved) return kExitSoftware;
  std::fprintf(stderr, "SAVE:%s\n", path.c_str());
  return 0;
}

const CommandRegistrar registrar("eeprom", &Run);

}  // namespace
