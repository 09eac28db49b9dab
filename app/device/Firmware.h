// Firmware upgrade: the image file (load and check), the check of the detector against the
// image's header, and the download, a long run the window, the terminal tool and tests drive
// one step at a time.
#pragma once

#include "app/core/Operator.h"
#include "model/Records.h"
#include "app/core/RunClock.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class TComKVT;

inline constexpr const char* kLoadingUpgradeName = "Loading Upgrade File";
inline constexpr const char* kCheckProgramName = "Check Program";
inline constexpr const char* kDownloadImageName = "Download Image";
inline constexpr const char* kVersionCheckCaption = "File Version Check";
inline constexpr const char* kVersionCheckQuestion = "This file is not old version\rExecute upgrade?";
inline constexpr const char* kSelectFileDesc = "KVT Firmware Upgrade ... Select File";
inline constexpr const char* kFirmwareDescPrefix = "KVT Firmware Upgrade ... Firmware Version ";

// mFLASHMaxAddress rows of mFALSHPacketSize bytes; row p is packet p.
using TUpgradeImage = std::vector<std::vector<uint8_t>>;

// What both firmware boxes show: the file, its description, whether Upgrade is enabled.
struct RFirmwareBox {
  std::string mFileLabel;
  std::string mDescLabel = kSelectFileDesc;
  bool mUpgradeEnabled = false;
};

// The open dialog: "Select Firmware Upgrade File", .img files, starting in mFLASHSaveDir.
FileRequest FirmwareOpenDialog();

// Reads and checks fileName into image (0, or 0x80 to 0x83). The size is checked before a
// byte is read. A good image is remembered ([FLASH] ImageFile, its folder for the dialog);
// a bad one leaves the remembered image alone. Unless quiet: running status and the end.
uint8_t LoadUpgradeFile(Operator& op, const std::string& fileName, bool quiet, TUpgradeImage& image,
                        RFirmwareBox& box);

// The detector against the image header: link failures, 0x92, 0x85, or 0x84 when an older
// image is not confirmed (a stop already requested is that No). Ends with its own status and
// message. seen, when given, gets the identity the detector answered with.
uint8_t CheckProgram(Operator& op, TComKVT& link, const TUpgradeImage& image, const TStopRequest* stop = nullptr,
                     RKVTIdenty* seen = nullptr);

// Where the download shows its progress: both progress bars in the window, a line or bar on
// the terminal, a recorder in tests.
class TFirmwareView {
 public:
  virtual ~TFirmwareView() = default;
  // packets handled of total in attempt (from 1) of attempts.
  virtual void ShowProgress(int packets, int total, int attempt, int attempts) = 0;
};

// Upgrade Firmware after the buttons are disabled: Check Program, then up to
// mFLASHDownloadRetry attempts of the whole image, then Download Image's end.
//
//   Check --passed--> StartAttempt --> Packet (one per pass) --> EndAttempt --> Done
//     |                    ^                                        |
//     |                    +----------- failed, attempts left ------+
//     +-- refused or stopped --------------------------------------------------> Done
//
// Step() does one pass and returns false once the upgrade has ended. Stop() is the Cancel
// button (Ctrl-C in the terminal, through StopRequest().Watch): pressed before an attempt opens the
// link, nothing is sent and the upgrade ends with 0x86; pressed during a packet (the link lets
// the window take clicks during long waits) it counts from that packet's end, so the next
// packet still goes and the attempt then ends with 0x86; after the last packet it no longer
// stops the upgrade. At the older-image question a stop is No.
class TFirmwareDownload : public TLongRun {
 public:
  using TClock = std::function<std::chrono::system_clock::time_point()>;

  TFirmwareDownload(Operator& op, TComKVT& link, const TUpgradeImage& image, TFirmwareView& view,
                    TClock clock = [] { return std::chrono::system_clock::now(); });

  bool Step() override;
  // No pause between packets beyond the link's own timing.
  TRunClock::TimePoint NextDue() const override { return std::chrono::steady_clock::now(); }
  bool Running() const { return FState != TState::Done; }
  uint8_t Result() const { return FCode; }  // meaningful once Running() is false
  // True when the check passed and downloading began (the Cancel buttons are then enabled).
  bool Downloading() const { return FState != TState::Check && FState != TState::Done; }

  // Runs every step.
  uint8_t Run();

 private:
  enum class TState { Check, StartAttempt, Packet, EndAttempt, Done };
  void StartAttempt();
  void SendPacket();
  void EndAttempt();
  void Memo(const std::string& text, int packet);

  Operator& FOp;
  TComKVT& FLink;
  const TUpgradeImage& FImage;
  TFirmwareView& FView;
  TClock FClock;
  TState FState = TState::Check;
  bool FUpgrade = true;   // false from the end of the packet during which Cancel was pressed
  uint8_t FCode = 0;
  int FAttempt = 0;
  int FPacket = 0;
  RKVTIdenty FIdentity{};  // from the check, for the download's record
};
