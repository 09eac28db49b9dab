// TSensorCalDlg: the span gas value and its cylinder, and one zero/span calibration after
// another, each started, watched and, on Cancel or the time limit, aborted by the app's
// calibration run. A guide line names the steps before a run and the current one during it.
#pragma once

#include "app/device/Calibration.h"
#include "app/core/Operator.h"
#include "model/Records.h"
#include "ui/WindowClock.h"

#include <QDialog>

class QDoubleSpinBox;
class TDecimalBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class TComKVT;
class TLabel3DBorder;

class TSensorCalDlg : public QDialog, public TCalView {
  Q_OBJECT

 public:
  TSensorCalDlg(TComKVT& link, Operator& op, QWidget* parent = nullptr);

  // Prepares the dialog for cfg; false (after the "Wrong Sensor" box) when its type is not
  // known. ShowDlg also shows it modally.
  bool PrepareDlg(const RKVTCFG& cfg);
  void ShowDlg(const RKVTCFG& cfg);
  TSensorCal& Model() { return FCal; }
  TWindowRunClock& Clock() { return FClock; }
  const RCalResult& LastResult() const { return FResult; }

  QGroupBox* CalGB = nullptr;
  QPushButton* CalBtn = nullptr;
  QPushButton* CalAbortBtn = nullptr;
  QPushButton* CloseBtn = nullptr;
  TLabel3DBorder* SpanGasLabel = nullptr;
  TDecimalBox* SpanGasSpin = nullptr;
  TLabel3DBorder* CalUnitLabel = nullptr;
  QProgressBar* CalProgressBar = nullptr;
  TLabel3DBorder* CalLabel = nullptr;
  TLabel3DBorder* CalLabel1 = nullptr;
  TLabel3DBorder* CalLabel2 = nullptr;
  QLineEdit* SensorCalLotEdit = nullptr;
  QLineEdit* SensorCalExpiryEdit = nullptr;
  QLabel* SensorCalGuideLabel = nullptr;

  // TCalView
  void CalText(int which, const std::string& text, TCalColour colour) override;
  void CalProgress(int position, int maximum) override;
  void CalRunning(bool running) override;

 public slots:
  void CalBtnClick();
  void CalAbortBtnClick();
  void CloseBtnClick();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  // The steps of a run as the guide line names them; Before also after a run.
  enum class TGuide { Before, Zero, Span };
  void ShowGuide(TGuide step, int secondsLeft = -1);
  std::string SpanGasText() const;
  // The cylinder fields, checked and remembered; false after the box that says why not.
  bool TakeCylinder();

  TComKVT& FLink;
  Operator& FOp;
  TSensorCal FCal;
  TWindowRunClock FClock;
  RKVTCFG FCFG{};
  RCalResult FResult;
  TGuide FGuide = TGuide::Before;
  int FSecondsLeft = -1;  // the run's, for the guide line; -1 before the first count
};
