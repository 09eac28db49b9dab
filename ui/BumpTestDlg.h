// TBumpTestDlg: the measured bump test of the user view. The test gas and its cylinder, the
// detector's alarm levels and the gas to apply, then one run: "Gas is on" starts the timing,
// the live reading, the elapsed time and each alarm's time follow, the verdict, then
// "Gas removed" and the Pass or Fail sent to the detector. Stop ends the run at any moment.
#pragma once

#include "app/device/BumpTest.h"
#include "app/core/Operator.h"
#include "model/Records.h"
#include "ui/WindowClock.h"

#include <QDialog>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class TComKVT;
class TDecimalBox;
class TLabel3DBorder;

class TBumpTestDlg : public QDialog, public TBumpView {
  Q_OBJECT

 public:
  TBumpTestDlg(TComKVT& link, Operator& op, QWidget* parent = nullptr);

  // Prepares the dialog for the detector just read; false (after the box) when its sensor
  // type is not known. ShowDlg also shows it modally.
  bool PrepareDlg(const RKVTCFG& cfg);
  void ShowDlg(const RKVTCFG& cfg);
  TWindowRunClock& Clock() { return FClock; }
  TBumpTestRun* Run() const { return FRun; }
  const RBumpResult& LastResult() const { return FResult; }

  QGroupBox* BumpGB = nullptr;
  TDecimalBox* BumpGasSpin = nullptr;
  QLabel* BumpUnitLabel = nullptr;
  QLineEdit* BumpLotEdit = nullptr;
  QLineEdit* BumpExpiryEdit = nullptr;
  QLabel* BumpGuideLabel = nullptr;
  TLabel3DBorder* BumpReadingLabel = nullptr;
  TLabel3DBorder* BumpElapsedLabel = nullptr;
  TLabel3DBorder* BumpLowLabel = nullptr;
  TLabel3DBorder* BumpHighLabel = nullptr;
  TLabel3DBorder* BumpResultLabel = nullptr;
  QPushButton* BumpStartBtn = nullptr;
  QPushButton* BumpGasOnBtn = nullptr;
  QPushButton* BumpGasOffBtn = nullptr;
  QPushButton* BumpStopBtn = nullptr;
  QPushButton* CloseBtn = nullptr;

  // TBumpView
  void BumpPhase(TBumpPhase phase) override;
  void BumpPrompt(const std::string& text) override;
  void BumpReading(double seconds, const std::string& reading, bool low, bool high) override;
  void BumpAlarm(bool high, double seconds) override;
  void BumpVerdict(const RBumpResult& result) override;

 public slots:
  void StartBtnClick();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  void ShowLevels();

  TComKVT& FLink;
  Operator& FOp;
  TWindowRunClock FClock;
  RKVTCFG FCFG{};
  int FSensor = -1;
  TBumpTestRun* FRun = nullptr;
  RBumpResult FResult;
};
