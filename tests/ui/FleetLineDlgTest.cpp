// The window's production line over three simulated detectors (one failing its read-back),
// then the Fleet window over the records it left, and Compare against the window's values.
#include "app/core/Settings.h"
#include "model/CfgFile.h"
#include "model/Checksum.h"
#include "tests/support/SimPort.h"
#include "tests/ui/UiSupport.h"
#include "ui/FleetDlg.h"
#include "ui/LineDlg.h"

#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTableWidget>
#include <QTimer>

#include <cstring>

namespace {

void Shot(QWidget* w, const char* name) {
  if (qEnvironmentVariableIsSet("BEAMDOCK_SHOTS"))
    w->grab().save(qEnvironmentVariable("BEAMDOCK_SHOTS") + "/" + name + ".png");
}

class FleetLineDlgTest : public QObject {
  Q_OBJECT

 private slots:
  void ALineOfThreeThenTheFleetAndCompare() {
    // Units from SH10000000 up with High 15.0 ppm and no intervals: the one whose write is lost
    // reads back 15.0 and stays without a due date.
    KvtSim::Options options;
    std::memcpy(options.config.mUnit.mSerial, "SH10000000", 10);
    options.config.mSensor.mAlarmHigh = 150;
    options.config.mSensor.mCalInterval = options.config.mSensor.mBumpInterval = 0;
    KvtSim::fillCRCs(options.config);
    options.units = 3, options.loseWritesUnit = 2;
    SimPort port(options);
    KvtSim& sim = port.sim();
    TestWindow w;
    AppDir = w.dir.path();
    DeviceCFG.mConnectTime = 200;  // short attempts: the waits between units are what runs here
    RKVTCFG cfg;
    SetDefaultCFG(cfg);
    cfg.mSensor.mAlarmHigh = 200, cfg.mSensor.mAlarmLow = 120, cfg.mSensor.mCalInterval = 30 * 86400;
    cfg.mSensor.mBumpInterval = 7;
    QVERIFY(SaveCFGFile(w.dir.path() + "line.cfg", cfg, false, nullptr));
    w.op.openFile(w.dir.path() + "line.cfg");

    QStringList units;  // the list, then the result and the counter
    QTimer::singleShot(0, [&] {
      auto* dlg = qobject_cast<TLineDlg*>(QApplication::activeModalWidget());
      if (!dlg) return;
      dlg->ChooseFileClick();
      // The operator's hands: a done unit is taken away, the next put on once the line waits.
      int seen = 0;
      QTimer hands;
      QObject::connect(&hands, &QTimer::timeout, [&] {
        if (dlg->Line) dlg->Line->FPauseSeconds = 0.02;
        const int n = dlg->UnitList->count();
        if (n > seen) {
          seen = n;
          sim.takeAway();
          if (n == 3) dlg->StopClick();
        } else if (dlg->StateLabel->text() == "Waiting for a detector..." && seen > 0 && !sim.present()) {
          sim.putBack(true);
        }
      });
      hands.start(5);
      dlg->StartClick();
      hands.stop();
      for (int i = 0; i < dlg->UnitList->count(); ++i) units << dlg->UnitList->item(i)->text().mid(20);
      units << dlg->ResultLabel->text() << dlg->CounterLabel->text();
      Shot(dlg, "window-line");
      dlg->accept();
    });
    w.form->UserLineBtnClick();
    QCOMPARE(units, (QStringList{"SH10000002 PASS mAlarmHigh mAlarmLow mCalInterval mBumpInterval",
                                 "SH10000001 FAIL read back: mAlarmHigh written 20.0 ppm, read 15.0 ppm",
                                 "SH10000000 PASS mAlarmHigh mAlarmLow mCalInterval mBumpInterval",
                                 "SH10000002  PASS", "2 done, 1 failed"}));
    QVERIFY(w.op.messages().empty());  // a line runs without boxes

    // The fleet lists the three: two never calibrated with intervals set are DUE; the filter.
    TFleetDlg fleet(w.op, std::time(nullptr));
    QCOMPARE(fleet.Grid->rowCount(), 3);
    QCOMPARE(fleet.Grid->item(0, 6)->text(), QString("DUE"));
    QCOMPARE(fleet.Grid->item(2, 0)->text(), QString("SH10000001"));
    fleet.FilterEdit->setText("due");
    QCOMPARE(fleet.Grid->rowCount(), 2);
    Shot(&fleet, "window-fleet");

    // Compare: the detector on the adapter (unit 3, as the line left it) against the window.
    sim.putBack();
    w.form->UserHighAlarmSpin->setValue(25.0);
    QStringList rows;  // the summary, then the fields
    QTimer::singleShot(0, [&] {
      auto* dlg = QApplication::activeModalWidget();
      if (!dlg) return;
      auto* grid = dlg->findChild<QTableWidget*>("CompareGrid");
      rows << dlg->findChild<QLabel*>("CompareSummary")->text();
      for (int r = 0; grid && r < grid->rowCount(); ++r)
        rows << grid->item(r, 0)->text() + ": " + grid->item(r, 1)->text() + " -> " + grid->item(r, 2)->text();
      Shot(dlg, "window-compare");
      qobject_cast<QDialog*>(dlg)->accept();
    });
    w.form->UserCompareBtnClick();
    QCOMPARE(rows, (QStringList{"Write Device would change 4 field(s) of detector SH10000002.",
                                "High Alarm: 20.0 ppm -> 25.0 ppm", "Low Alarm: 12.0 ppm -> 10.0 ppm",
                                "Calibration Interval: 30 Days -> 0 Days", "Bump Interval: 7 Days -> 0 Days"}));
  }
};

}  // namespace

QTEST_MAIN(FleetLineDlgTest)
#include "FleetLineDlgTest.moc"
