// TKVTIRMainForm: the main window. It shows one of two views for the whole run (the user
// view or the three-page factory view), puts the working configuration into the controls
// and collects it back, and is the Operator of every operation started from it.
#pragma once

#include "app/config/CfgFields.h"
#include "app/device/DeviceSession.h"
#include "app/core/Operator.h"
#include "model/Records.h"

#include <QMainWindow>
#include <QMargins>
#include <QPointer>
#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class TDecimalBox;
class TIntegerBox;
class QFrame;
class QGroupBox;
class QLineEdit;
class QPainter;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QScrollArea;
class QSpinBox;
class QStyleOptionViewItem;
class QTabWidget;
class QTableWidget;
class QTimer;
class QToolButton;
class QWidget;
class TComKVT;
class TFirmwareDownload;
class TLabel3DBorder;
class TLogoImage;
class TSitePusher;
struct RSensorType;

class TKVTIRMainForm : public QMainWindow, public Operator {
  Q_OBJECT

 public:
  static constexpr int kMinWidth = 500;
  static constexpr int kMinHeight = 580;

  // startFolder: the folder the settings file, Comm.TXT and the default subfolders live in;
  // empty takes the current folder (GetStartDir). It ends with '/' once taken.
  explicit TKVTIRMainForm(const std::string& startFolder = {}, QWidget* parent = nullptr);
  ~TKVTIRMainForm() override;

  // Messages, questions and file choices of every operation go through Op(); tests put a
  // scripted answerer here so that no modal box blocks them. nullptr restores the window.
  // The operation gate is Op()'s, so the window's end-of-operation work moves along; an
  // Operator set here outlives the window or is unset first.
  void SetOperator(Operator* op);
  Operator& Op() { return FOperator ? *FOperator : *this; }

  // Operator, with the status bar, message boxes, file dialogs and the trace memo.
  void showStatus(StatusColour colour, const std::string& text) override;
  void message(MessageIcon icon, const std::string& caption, const std::string& text) override;
  void detailedMessage(MessageIcon icon, const std::string& caption, const std::string& text,
                       const std::string& details) override;
  bool ask(const std::string& caption, const std::string& text) override;
  std::optional<std::string> chooseOpenFile(const FileRequest& request) override;
  std::optional<std::string> chooseSaveFile(const FileRequest& request) override;
  void memoLine(const std::string& line) override;
  void pump() override;

  // Configuration <-> controls.
  void ShowCFG();
  // Reads the active view. Throws ENumberTooLong when the hardware version text holds a
  // digit run too long for 32 bits; TryCollectCFG reports that in an error box instead.
  RKVTCFG CollectCFG(bool forDevice);
  std::optional<RKVTCFG> TryCollectCFG(bool forDevice);
  // Runs a handler body; an exception it lets out is shown in one error box, never a crash.
  template <class F>
  bool Guarded(F&& body);

  // Start-up and close.
  void FormCreate();
  void FormActivate();
  void FormCloseQuery(bool& CanClose);
  void LoadSettings();
  void RestoreView();
  // Loads and checks a firmware image and shows it in both firmware boxes; quiet: no status
  // text, no box (start-up).
  void LoadUpgradeFile(const std::string& fileName, bool quiet);
  void TraceEvent(TComKVT* Sender, std::chrono::system_clock::time_point rNow, const std::string& sLog);

  // Marks the window as connected to the simulated detector (caption and status bar). With
  // control (a line to kvt-sim's control channel; false with the reason), the strip below it
  // applies and removes a test gas.
  using TSimControl = std::function<bool(const std::string& line, std::string& error)>;
  void MarkSimulated(const std::string& device, TSimControl control = {});

  // With a site server: the records that wait to be sent, in the status bar (hidden when
  // none), with why the last push failed as its tooltip.
  void ShowWaitingRecords(int64_t waiting, const QString& failure);
  // Pushes the records in the background when a site server is set; returns at once.
  void RequestSitePush();
  // Hangs the site push on the end of every operation run through Op()'s gate.
  void HookOperationEnd();

  const std::string& StartFolder() const { return FStartFolder; }
  const std::vector<std::string>& MemoLines() const { return FMemoLines; }

  // State owned by the window. The working configuration and what goes with it live in the
  // session, which runs the read and write sequences for the window and the terminal tool.
  bool FFirst = true;
  TDeviceSession Session;
  RKVTCFG& FKVTCFG = Session.FKVTCFG;
  bool& FHibernateBtn = Session.FHibernateBtn;
  uint8_t& FReadSW = Session.FReadSW;
  std::vector<std::vector<uint8_t>> FUpgradeFile;
  bool FUpgrade = false;               // a firmware download runs: close refused
  TFirmwareDownload* FDownload = nullptr;  // the running download, for Cancel
  std::unique_ptr<TComKVT> ComKVT;

  // The four file dialogs (title, filter, default extension, start folder).
  FileRequest OpenDialog;
  FileRequest SaveDialog;
  FileRequest OpenFMDialog;
  FileRequest SaveCSVDialog;

  // Window regions.
  QWidget* StatusPanel = nullptr;
  TLabel3DBorder* StatusLabel = nullptr;
  TLabel3DBorder* StatusTimeLabel = nullptr;
  TLabel3DBorder* SimulatedLabel = nullptr;
  // The test gas at the simulated detector (ui/MainsSimGas.cpp), shown with a control only.
  QWidget* SimGasPanel = nullptr;
  QDoubleSpinBox* SimGasSpin = nullptr;
  QPushButton* SimGasApplyBtn = nullptr;
  QPushButton* SimGasRemoveBtn = nullptr;
  TLabel3DBorder* SimGasStateLabel = nullptr;
  TSimControl FSimControl;
  TLabel3DBorder* SiteLabel = nullptr;  // the records that wait for the site server, when any
  QWidget* CustomerPanel = nullptr;
  TLogoImage* CustomerImage = nullptr;
  TLabel3DBorder* CustomerLabel = nullptr;
  TLabel3DBorder* CustomerUrlLabel = nullptr;
  QPlainTextEdit* Memo = nullptr;
  QScrollArea* UserScrollBox = nullptr;
  QScrollArea* DevScrollBox = nullptr;
  QTimer* TimeTimer = nullptr;

  // User view.
  TLabel3DBorder* UserHWVersionLabel = nullptr;
  TLabel3DBorder* UserSWVersionLabel = nullptr;
  TLabel3DBorder* UserSerialLabel = nullptr;
  TLabel3DBorder* UserMonthLifeLabel = nullptr;
  TLabel3DBorder* UserDayLifeLabel = nullptr;
  QComboBox* UserSensorTypeCombo = nullptr;
  TDecimalBox* UserHighAlarmSpin = nullptr;
  TDecimalBox* UserLowAlarmSpin = nullptr;
  TIntegerBox* UserCalIntervalSpin = nullptr;
  TIntegerBox* UserBumpIntervalSpin = nullptr;
  QLineEdit* UserIDEdit = nullptr;
  TIntegerBox* UserTestIntervalSpin = nullptr;
  QComboBox* UserDispCombo = nullptr;
  QCheckBox* UserHideBumpLEDCheck = nullptr;
  QPushButton* UserReadFileBtn = nullptr;
  QPushButton* UserReadDeviceBtn = nullptr;
  QPushButton* UserWriteFileBtn = nullptr;
  QPushButton* UserWriteDeviceBtn = nullptr;
  QPushButton* UserHibernateBtn = nullptr;
  QGroupBox* UserLogPanel = nullptr;
  QPushButton* UserLogSaveBtn = nullptr;
  QGroupBox* UserCalPanel = nullptr;
  QPushButton* UserCalBtn = nullptr;
  QPushButton* UserBumpBtn = nullptr;
  QPushButton* UserHistoryBtn = nullptr;     // the service records (ui/HistoryDlg)
  QPushButton* UserOptHistoryBtn = nullptr;
  // Beside History, a menu of Compare (ui/CompareDlg), Fleet (ui/FleetDlg) and Production
  // Line (ui/LineDlg).
  QToolButton* UserMoreBtn = nullptr;
  QToolButton* UserOptMoreBtn = nullptr;
  QGroupBox* UserFMPanel = nullptr;
  TLabel3DBorder* UserFMFileLabel = nullptr;
  QToolButton* UserFMOpenBtn = nullptr;
  TLabel3DBorder* UserFMDescLabel = nullptr;
  QPushButton* UserFMUpgradeBtn = nullptr;
  QPushButton* UserFMCancelBtn = nullptr;
  QProgressBar* UserFMProgressBar = nullptr;

  // Factory view.
  QTabWidget* PageControl = nullptr;
  QWidget* UserTS = nullptr;
  QWidget* FactoryTS = nullptr;
  QWidget* ETCTS = nullptr;

  // Page "User Options".
  QLineEdit* UserOptHWVersionEdit = nullptr;
  TLabel3DBorder* UserOptIDLabel = nullptr;
  TLabel3DBorder* UserOptSWVersionLabel = nullptr;
  QLineEdit* UserOptSerialEdit = nullptr;
  TIntegerBox* UserOptMonthLifeSpin = nullptr;
  TIntegerBox* UserOptDayLifeSpin = nullptr;
  QComboBox* UserOptSensorTypeCombo = nullptr;
  TDecimalBox* UserOptHighAlarmSpin = nullptr;
  TDecimalBox* UserOptLowAlarmSpin = nullptr;
  TIntegerBox* UserOptCalIntervalSpin = nullptr;
  TIntegerBox* UserOptBumpIntervalSpin = nullptr;
  QLineEdit* UserOptIDEdit = nullptr;
  TIntegerBox* UserOptTestIntervalSpin = nullptr;
  QComboBox* UserOptDispCombo = nullptr;
  QCheckBox* UserOptHideBumpLEDCheck = nullptr;
  QPushButton* UserOptReadFileBtn = nullptr;
  QPushButton* UserOptReadDeviceBtn = nullptr;
  QPushButton* UserOptWriteFileBtn = nullptr;
  QPushButton* UserOptWriteDeviceBtn = nullptr;
  QPushButton* UserOptHibernateBtn = nullptr;
  QGroupBox* UserOptLogPanel = nullptr;
  QPushButton* UserOptLogSaveBtn = nullptr;
  QGroupBox* UserOptFMPanel = nullptr;
  TLabel3DBorder* UserOptFMFileLabel = nullptr;
  QToolButton* UserOptFMOpenBtn = nullptr;
  TLabel3DBorder* UserOptFMDescLabel = nullptr;
  QPushButton* UserOptFMUpgradeBtn = nullptr;
  QPushButton* UserOptFMCancelBtn = nullptr;
  QProgressBar* UserOptFMProgressBar = nullptr;

  // Page "Factory Options".
  TIntegerBox* FatoryOptBatteryLimitSpin = nullptr;
  TIntegerBox* FatoryOptBatteryLimitStartupSpin = nullptr;
  TIntegerBox* FatoryOptBatteryLimit1Spin = nullptr;
  TIntegerBox* FatoryOptBatteryLimit2Spin = nullptr;
  TLabel3DBorder* FatoryOptAlarmTimeLabel = nullptr;
  TLabel3DBorder* FatoryOptAlarmCountLabel = nullptr;
  TLabel3DBorder* FatoryOptTestTimeLabel = nullptr;
  TLabel3DBorder* FatoryOptTestCountLabel = nullptr;
  QComboBox* FactoryOptHibernateCombo = nullptr;
  TDecimalBox* FatoryOptSpanGasSpin = nullptr;
  TDecimalBox* FatoryOptSensorMaxSpin = nullptr;
  TDecimalBox* FatoryOptSensorBaseSpin = nullptr;
  TDecimalBox* FatoryOptDeadZoneSpin = nullptr;
  TIntegerBox* FatoryOptTempComp1Spin = nullptr;
  TIntegerBox* FatoryOptTempComp2Spin = nullptr;
  TIntegerBox* FatoryOptTempComp3Spin = nullptr;
  TLabel3DBorder* FatoryOptSensorUnitLabel = nullptr;  // the unit of the four sensor boxes
  TLabel3DBorder* FatoryOptZeroLabel = nullptr;
  TLabel3DBorder* FatoryOptSpanLabel = nullptr;
  TLabel3DBorder* FatoryOptMinSpanLabel = nullptr;
  TLabel3DBorder* FatoryOptTauLabel = nullptr;
  TLabel3DBorder* FatoryOptLastCalLabel = nullptr;
  TLabel3DBorder* FatoryOptPeakTimerLabel = nullptr;
  TLabel3DBorder* FatoryOptLastBumpTimerLabel = nullptr;
  QPushButton* FatoryOptCalBtn = nullptr;
  QPushButton* FatoryOptTurnOffBtn = nullptr;
  QPushButton* FatoryOptLogResetBtn = nullptr;
  QPushButton* FatoryOptLogSensorBtn = nullptr;

  // Page "TEST".
  QPushButton* EtcFactoryResetBtn = nullptr;
  QPushButton* EtcIdentifyBtn = nullptr;
  QPushButton* EtcBeepONBtn = nullptr;
  QPushButton* EtcRLEDONBtn = nullptr;
  QPushButton* EtcLLEDONBtn = nullptr;
  QPushButton* EtcVibratorBtn = nullptr;
  QPushButton* EtcClearPeakBtn = nullptr;
  QPushButton* EtcBumpFailBtn = nullptr;
  QPushButton* EtcBumpPassBtn = nullptr;
  QGroupBox* EtcEEPROMGB = nullptr;
  QPushButton* EtcEEPROMReadBtn = nullptr;
  QPushButton* EtcEEPROMSaveBtn = nullptr;
  QPushButton* EtcEEPROMSaveLogBtn = nullptr;
  QTableWidget* EtcEEPROMGrid = nullptr;

  // The sensor unit beside the alarm levels of both views (high, low; user view first).
  TLabel3DBorder* AlarmUnitLabels[4] = {};

  // The number boxes of both views (they turn green while they hold the focus) and the
  // eight whose range follows the sensor type.
  std::vector<QWidget*> NumberBoxes() const;
  std::vector<TDecimalBox*> SensorRangeBoxes() const;
  // The numbers of the active view as its fields hold them, for the writes' range check.
  std::vector<RShownNumber> ShownNumbers() const;

 public slots:
  void UserReadFileBtnClick();
  void UserWriteFileBtnClick();
  void UserReadDeviceBtnClick();
  void UserWriteDeviceBtnClick();
  void UserOptHibernateBtnClick();
  void UserLogSaveBtnClick();
  void UserLogResetBtnClick();
  void UserFMOpenBtnClick();
  void UserFMUpgradeBtnClick();
  void UserFMCancelBtnClick();
  void UserCalBtnClick();
  void UserBumpBtnClick();
  // The checks before a sensor dialog opens (the detector read), under the operation guard,
  // which is let go before the dialog takes its own.
  bool SensorDialogMayOpen();
  void UserHistoryBtnClick();
  void UserCompareBtnClick();
  void UserFleetBtnClick();
  void UserIncidentsBtnClick();  // ui/IncidentsDlg
  void UserLineBtnClick();
  void FatoryOptLogSensorBtnClick();
  void FatoryOptCalBtnClick();
  void FatoryOptTurnOffBtnClick();
  void EtcBeepONBtnClick(QObject* Sender);     // tag 1..4: beeper, right LED, left LED, vibrator
  void EtcClearPeakBtnClick(QObject* Sender);  // tag 1..3: clear peak, bump fail, bump pass
  void EtcFactoryResetBtnClick();
  void EtcIdentifyBtnClick();
  void EtcEEPROMReadBtnClick();
  void EtcEEPROMSaveBtnClick();
  void EtcEEPROMSaveLogBtnClick();
  void UserOptSensorTypeComboChange(int position);
  void TimeTimerTimer();
  void CustomerImageClick();
  void CustomerImageMouseEnter();
  void CustomerImageMouseLeave();
  void CustomerUrlLabelClick();

 public:
  // Cell drawing of the EEPROM grid; false leaves the cell to the grid's own painting.
  bool EtcEEPROMGridDrawCell(QPainter* painter, const QStyleOptionViewItem& option, int ACol, int ARow);
  // Key handling of the text edits (from the event filter); true drops the key.
  bool UserIDEditKeyPress(QLineEdit* edit, QChar key);
  void UserOptSerialEditKeyUp();
  void UserHighAlarmSpinEnter(QWidget* box);
  void UserHighAlarmSpinExit(QWidget* box);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void BuildWindow();
  // The user view, or with factory the factory view's "User Options" page: the same rows,
  // buttons and boxes, named User... or UserOpt...; the user view shows the identity that
  // the page edits, and has the calibration box.
  QWidget* BuildOptionsPage(bool factory);
  QWidget* BuildFactoryPage();
  QWidget* BuildTestPage();
  QWidget* BuildStatusPanel();
  QWidget* BuildSimGasPanel();
  void SimGasBtnClick(bool apply);
  QWidget* BuildCustomerPanel();
  QGroupBox* BuildFirmwareBox(const QString& prefix, TLabel3DBorder*& fileLabel, QToolButton*& openBtn,
                              TLabel3DBorder*& descLabel, QPushButton*& upgradeBtn, QPushButton*& cancelBtn,
                              QProgressBar*& progressBar);
  void ConnectHandlers();
  // Tooltips (range and unit of every field, what every button changes) and the shortcuts.
  void DescribeControls();
  // While an operation runs: the views' controls disabled and the busy cursor.
  void ShowBusy(bool busy);
  // During the handshake: the status line says that the link is trying, and how long yet.
  void ShowConnecting();
  void FitContactPanel();
  // An operator's change of a configuration control (not ShowCFG's): the form holds edits.
  void NoteEdit();
  // After a download: what became of the upgrade, in both firmware boxes; on success the
  // identity read back shows the version the detector now runs. Kept until the next
  // operation starts, which also empties the progress bars.
  void ShowUpgradeEnd(uint8_t code);
  void ClearUpgradeEnd();
  void PrepareEEPROMGrid(int rows);
  void ShowEEPROMReadState();
  void FillSensorTypeCombos();
  void SetSensorRanges(const RSensorType& type);
  void ApplyWindowGeometry(int width, int height, int left, int top);
  QMargins FrameMargins() const;

  std::string FStartFolder;
  Operator* FOperator = nullptr;
  std::vector<std::string> FMemoLines;  // the memo's lines as added, saved to Comm.TXT
  QMargins FRestoredFrame;              // the frame as known when the geometry was restored
  QString FFirmwareDesc;                // the loaded image's description in the firmware boxes
  bool FUpgradeEndShown = false;
  std::unique_ptr<TSitePusher> FSitePusher;
  QString FStatusText;                  // the status line as the last operation set it
  QPointer<QWidget> FFocusBeforeBusy;
  bool FShowing = false;                // ShowCFG is filling the controls
  bool FEEPROMRead = false;             // the EEPROM grid shows bytes read from a detector
};

#include <exception>

template <class F>
bool TKVTIRMainForm::Guarded(F&& body) {
  try {
    body();
    return true;
  } catch (const std::exception& e) {
    Op().message(MessageIcon::Error, "KVT BeamDock", e.what());
  }
  return false;
}
