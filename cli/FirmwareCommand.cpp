// firmware FILE.img: load and check the image, then Upgrade Firmware. Progress on stderr (a
// bar on a terminal, a line per tenth otherwise); Ctrl-C is the Cancel button.
#include "app/device/Firmware.h"
#include "cli/Cli.h"
#include "cli/StopSignal.h"
#include "link/KVTComms.h"

#include <cstdio>
#include <filesystem>

namespace {

class TTerminalProgress : public TFirmwareView {
 public:
  explicit TTerminalProgress(bool bar) : FBar(bar) {}
  ~TTerminalProgress() override {
    if (FBar && FOpenLine) std::fputc('\n', stderr);
  }
  void ShowProgress(int packets, int total, int attempt, int attempts) override {
    if (FBar) {
      const int width = 30;
      const int filled = total > 0 ? packets * width / total : width;
      std::fprintf(stderr, "\rattempt %d of %d [%s%s] %d/%d packets", attempt, attempts,
                   std::string(static_cast<size_t>(filled), '#').c_str(),
                   std::string(static_cast<size_t>(width - filled), '.').c_str(), packets, total);
      FOpenLine = true;
    } else {
      const int tenth = total > 0 ? packets * 10 / total : 10;
      if (packets != 0 && tenth == FLastTenth && packets != total) return;
      FLastTenth = tenth;
      std::fprintf(stderr, "attempt %d of %d: %d/%d packets\n", attempt, attempts, packets, total);
    }
    std::fflush(stderr);
  }

 private:
  bool FBar;
  bool FOpenLine = false;
  int FLastTenth = -1;
};

int Run(CliContext& ctx, const std::vector<std::string>& args) {
  if (args.size() != 1 || args[0].empty()) return UsageError(ctx, "firmware needs one FILE.img");
  CatchCtrlC();
  CliSession cli(ctx);
  TUpgradeImage image;
  RFirmwareBox box;
  // The settings remember the image by its full path, as the window's dialog gives it.
  std::error_code ec;
  const std::filesystem::path file = std::filesystem::absolute(args[0], ec);
  const uint8_t loaded = LoadUpgradeFile(cli.op(), ec ? args[0] : file.lexically_normal().string(), false, image, box);
  if (loaded != 0) return loaded;

  TTerminalProgress progress(ctx.op->stderrIsTerminal());
  TFirmwareDownload run(cli.op(), cli.link(), image, progress);
  run.StopRequest().Watch(CtrlCFlag());
  return run.Run();
}

const CommandRegistrar registrar("firmware", &Run);

}  // namespace
