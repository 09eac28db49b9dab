// The working configuration of the configuration editor and the operations that read and
// write it: Read Device, Write Device, Hibernate, Read File, Write File. The main window holds
// one session and the terminal tool another, so both run the same sequences; what the window
// shows afterwards (ShowCFG, the product name) is a callback it installs.
#pragma once

#include "app/config/CfgFields.h"
#include "app/core/Operator.h"
#include "model/Records.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class TComKVT;
class TOperationRecord;

inline constexpr const char* kReadDeviceName = "Read KVT Information";
inline constexpr const char* kWriteDeviceName = "Write KVT Information";
inline constexpr const char* kHibernateName = "Hibernate";

inline constexpr const char* kNoSensorCaption = "No sensor information";
inline constexpr const char* kNoSensorFactoryText = "No sensor information.\rFirst READ DEVICE or select sensor type";
inline constexpr const char* kNoSensorUserText = "No sensor information.\rFirst READ DEVICE";
inline constexpr const char* kCheckUnitCaption = "Check Unit";
inline constexpr const char* kCheckUnitText =
    "This feature is only supported on the KVT+ instrument\rPlease contact QRB more details";
inline constexpr const char* kHibernateCaption = "Hibernate";
inline constexpr const char* kHibernateQuestion =
    "Hibernation will clear the event log.\rAre you sure you want to proceed.";

// mAllowSuspend of a detector that may hibernate.
constexpr uint8_t kAllowSuspend = 0x80;
// Configuration block reads, window writes and the life write each get this many attempts.
constexpr int kCFGAttempts = 3;

// How an action of the session ended. Stops are the ends that carry no result code: a check
// before the link was opened, the "Check Unit" box, a No to the question, a cancelled dialog,
// a refused or unsaved file. Each has shown its own box (a cancel shows none).
// WriteRefused: a configuration that may not go to a detector (RefuseForDevice); nothing was sent.
enum class TSessionStop { None, NoSensor, CheckUnit, Declined, Cancelled, FileRefused, FileNotSaved, WriteRefused };

// Write Device before anything was read or loaded: refused in the user view, asked in the
// factory view (which may program a new detector from the form).
constexpr const char* kUnknownFormCaption = "Write KVT Information";
constexpr const char* kUnknownFormUserText =
    "The form shows no detector's configuration yet: it holds the program's default values.\r"
    "Read the detector (Read Device) or open a file (Read File) first; nothing was sent.";
constexpr const char* kUnknownFormFactoryText =
    "The form was not read from a detector or a file: it holds the program's default values.\r"
    "Write these values into the detector?";

// Hibernate reads the detector first, which replaces what the form shows.
constexpr const char* kHibernateEditsText =
    "Hibernate reads the detector first: the values shown are replaced by the detector's.\r"
    "Changes that were not written to the detector or to a file are lost.\rContinue?";

// What Read File and Write File show on the status line.
inline constexpr const char* kReadFileName = "Read File";
inline constexpr const char* kWriteFileName = "Write File";

struct RSessionResult {
  uint8_t mCode = 0;  // the operation's result code; meaningful when mStop is None
  TSessionStop mStop = TSessionStop::None;
  bool ok() const { return mStop == TSessionStop::None && mCode == 0; }
};

class TDeviceSession {
 public:
  TDeviceSession();  // FKVTCFG := the default configuration

  // State the window owns.
  RKVTCFG FKVTCFG{};           // the working configuration
  uint8_t FReadSW = 0;         // mFWVersion of the last configuration read from a detector
  bool FHibernateBtn = false;  // hibernation confirmed; a further Hibernate does not ask
  std::string FProductName;    // shown in UserOptIDLabel; empty until an accepted identity
  RKVTIdenty FIdentity{};      // the identity the last read or write got from the detector
  // FKVTCFG came from a detector or a file in this run, not from the defaults it starts with:
  // Write Device never sends a form that nobody read, loaded or chose to write.
  bool FFormKnown = false;
  // The operator changed a value since the form last showed a read, a file or a write (the
  // window sets it): Hibernate, which reads the detector, asks before it replaces them.
  bool FUnwrittenEdits = false;

  // Installed by the window: FKVTCFG was replaced and every control should show it (ShowCFG),
  // and the product name display changed.
  std::function<void()> OnShowCFG;
  std::function<void(const std::string&)> OnProductName;

  // Every main-window action except the TEST page, the EEPROM buttons and choosing an image
  // starts by forgetting a confirmed hibernation.
  void BeginAction() { FHibernateBtn = false; }

  // FKVTCFG changed: tell the view (OnShowCFG) and follow the range the sensor boxes take.
  void ShowCFG();

  // The sequences, run with an open link. ReadDeviceInfo replaces FKVTCFG only on success.
  // record, when given, takes the detector, the configuration read and the bytes written.
  uint8_t ReadDeviceInfo(TComKVT& link, TOperationRecord* record = nullptr);
  uint8_t WriteDeviceInfo(TComKVT& link, TOperationRecord* record = nullptr);

  // The buttons. Each frames its operation (status, open, commands, close, end); an error
  // raised while opening the port is shown in one box and gives 0xA1.
  RSessionResult ReadDevice(Operator& op, TComKVT& link);
  // Before a write collects anything: the numbers as the fields hold them. One outside its
  // field's range refuses the write (of the detector, or else of a file) with a box naming
  // every such field, value and range, and the refused status; true when refused.
  bool RefuseTyped(Operator& op, bool device, const std::vector<RShownNumber>& shown);
  // collected: CollectCFG for a detector write, taken as the new FKVTCFG even when the
  // write then stops or fails. A configuration RefuseForDevice refuses is named in a box
  // and the link is not opened. Every stop ends with its own status.
  RSessionResult WriteDevice(Operator& op, TComKVT& link, const RKVTCFG& collected);
  RSessionResult Hibernate(Operator& op, TComKVT& link);

  // Read File: the open dialog (started in AppDir + "Configure/"), the file's settings fields
  // taken over into FKVTCFG. A file that cannot be opened, has a wrong version or is shorter
  // than its version's body changes nothing.
  RSessionResult ReadFile(Operator& op, FileRequest& dialog);
  // Write File: collected becomes FKVTCFG first (also when the dialog is cancelled), then the
  // save dialog and a version 7 file, written atomically.
  RSessionResult WriteFile(Operator& op, FileRequest& dialog, const RKVTCFG& collected);
  // Write File to a given path, no dialog (the terminal tool's read -o).
  RSessionResult SaveFile(Operator& op, const std::string& path);

  // What CollectCFG returns when the controls show FKVTCFG as ShowCFG left them: every
  // value limited by its box's range, the life counter through months and days. For those
  // who have no controls (the terminal tool). lifeLimited tells that the life boxes held
  // more than 24 months.
  RKVTCFG CollectShown(bool forDevice, bool* lifeLimited = nullptr) const;

  // Shows the box of a configuration that may not be written and gives the stop; None when
  // it may be.
  static RSessionResult RefuseWrite(Operator& op, const RKVTCFG& cfg);

 private:
  void SetProductName(const std::string& name);

  // Range of the eight sensor range boxes, as the last ShowCFG with a known type left it.
  float FRangeMin = 0.0f;
  float FRangeMax = 100.0f;
};

// The dialog texts of Read File and Write File, starting in AppDir + "Configure/".
FileRequest CFGOpenDialog();
FileRequest CFGSaveDialog();
