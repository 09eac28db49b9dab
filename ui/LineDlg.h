// The "Production Line" window: the file, a counter, the last detector's result in large
// green or red, the list of units done, Start and Stop (which takes effect after the unit
// under way).
#pragma once

#include "app/core/Operator.h"
#include "app/device/ProductionLine.h"
#include "app/site/SitePusher.h"
#include "ui/WindowClock.h"

#include <QDialog>

#include <memory>
#include <optional>
#include <string>

class QLabel;
class QListWidget;
class QPushButton;
class TComKVT;

class TLineDlg : public QDialog, public TLineView {
  Q_OBJECT

 public:
  TLineDlg(Operator& op, TComKVT& link, QWidget* parent = nullptr);

  void ChooseFileClick();
  bool LoadFile(const std::string& path);  // false (and a box) for a refused file
  void StartClick();                       // runs the line until it ends
  void StopClick();

  void ShowWaiting(const std::string& what) override;
  void ShowUnit(const RLineUnit& unit) override;

  QLabel* FileLabel = nullptr;
  QLabel* CounterLabel = nullptr;
  QLabel* ResultLabel = nullptr;
  QLabel* StateLabel = nullptr;
  QListWidget* UnitList = nullptr;
  QPushButton* FileBtn = nullptr;
  QPushButton* StartBtn = nullptr;
  QPushButton* StopBtn = nullptr;
  TWindowRunClock Clock;
  // Each unit's record goes to the site server while the next waits; outlives the line.
  TSitePusher FPusher{nullptr};
  std::unique_ptr<TProductionLine> Line;

 protected:
  void reject() override;  // Esc and the close box wait for the unit under way

 private:
  Operator& FOp;
  TComKVT& FLink;
  std::string FFile;
  std::optional<RKVTCFG> FFileCfg;
};
