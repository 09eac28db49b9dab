// The logging and calibration dialogs against the simulated detector, through their buttons,
// and the main window's buttons that open them. The dialogs' clocks run fast.
#include "app/device/Calibration.h"
#include "app/records/ServiceRecords.h"
#include "app/core/Settings.h"
#include "link/KVTComms.h"
#include "model/DeviceUtils.h"
#include "model/SensorTypes.h"
#include "sim/KvtSim.h"
#include "tests/support/SimPort.h"
#include "tests/ui/UiSupport.h"
#include "ui/Label3dB.h"
#include "ui/SensorCals.h"
#include "ui/SensorLogs.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QValueAxis>
#include <QChartView>

namespace {

void Shot(QWidget& w, const char* name) {
  // For a person checking the look: BEAMDOCK_SHOTS=folder keeps a picture of the dialog.
  if (qEnvironmentVariableIsSet("BEAMDOCK_SHOTS"))
    w.grab().save(qEnvironmentVariable("BEAMDOCK_SHOTS") + "/" + name + ".png");
}

class SensorDialogsTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    AppDir = FDir.path();
    DeviceCFG = RDeviceCFG{};
    DeviceCFG.mLogSaveDir = FDir.path();
    DeviceCFG.mCalCheckTime = 1;
    FactoryMode = false;
    SetBuiltInSensorTypes();
  }

  void LoggingShowsReadingsRunsACalibrationAndRefusesToClose() {
    KvtSim::Options o;
    o.timetable = true, o.gasCenter = 0x7FFF, o.gasAmplitude = 0, o.calTimeMs = 300;
    SimPort port(o);
    TComKVT link;
    ScriptedOperator op;
    op.saveFile(FDir.path() + "d.csv");
    op.answer(true);  // "Zero in Gas?": the detector reads over range; zero anyway
    TSensorLogDlg dlg(link, op);
    dlg.Clock().SetSpeed(20);
    dlg.show();
    int readings = 0;
    bool closeRefused = false;
    dlg.Run().OnReading = [&](const RReadingSet&) {
      if (++readings == 1) {
        dlg.close();
        closeRefused = dlg.isVisible();
        QTest::mouseClick(dlg.CalBtn, Qt::LeftButton);
      }
      if (dlg.Run().MonitorState() == 4 && dlg.Run().PollInterval() == 1 && dlg.CalBtn->isEnabled()) {
        Shot(dlg, "logging");
        QTest::mouseClick(dlg.StopBtn, Qt::LeftButton);
      }
      if (readings > 100) dlg.StopBtnClick();
    };
    QTest::mouseClick(dlg.StartBtn, Qt::LeftButton);

    QVERIFY(closeRefused);
    QVERIFY(readings < 100);
    QCOMPARE(op.questions().size(), size_t{1});
    QVERIFY(op.questions()[0].text.find("The detector reads O.L.") != std::string::npos);
    QCOMPARE(dlg.SensorValueLabel[0]->text(), QString("OL"));
    QCOMPARE(dlg.SensorValueLabel[1]->text(), QString("3.95"));
    QCOMPARE(dlg.SensorPeakLabel[2]->text(), QString("1750"));
    QVERIFY(dlg.SensorAlarmCheck[3]->isChecked());  // HIGH
    QCOMPARE(dlg.SensorSeries->count(), readings);
    QCOMPARE(dlg.CalLabel->text(), QString());  // the end of logging empties it
    QVERIFY(dlg.StartBtn->isEnabled() && !dlg.StopBtn->isEnabled() && !dlg.CalBtn->isEnabled());
    QCOMPARE(FDir.read("d.csv").substr(0, 25), std::string("Product Name,QRB Vaporlet"));
    QVERIFY(op.messages().empty());
    dlg.close();
    QVERIFY(!dlg.isVisible());
  }

  // 26 ppm against the simulated unit's 5.0 and 10.0 ppm levels: a banner nobody misses, both
  // levels on a value axis from 0 on round ticks; the fixed scale and Pause change only the view.
  void AlarmReadingShowsTheBannerAndTheLevelsOnARoundAxis() {
    KvtSim::Options o;
    o.timetable = true, o.gasCenter = 260, o.gasAmplitude = 0;
    SimPort port(o);
    TComKVT link;
    ScriptedOperator op;
    op.saveFile(std::nullopt);
    TSensorLogDlg dlg(link, op);
    dlg.Clock().SetSpeed(20);
    dlg.show();
    int readings = 0, shownWhenPaused = -1;
    QString banner;
    double axisMin = -1, axisMax = -1, step = -1;
    dlg.Run().OnReading = [&](const RReadingSet&) {
      ++readings;
      if (readings == 2) {
        banner = dlg.SensorAlarmBanner->text();
        axisMin = dlg.SensorAxisY->min(), axisMax = dlg.SensorAxisY->max(), step = dlg.SensorAxisY->tickInterval();
        dlg.SensorFixedScaleCheck->setChecked(true);
        dlg.SensorPauseBtn->click();
        shownWhenPaused = dlg.SensorSeries->count();
      }
      if (readings == 5) dlg.SensorPauseBtn->click();
      if (readings == 6) dlg.StopBtnClick();
    };
    dlg.StartBtn->click();

    QCOMPARE(QString("%1|%2|%3|%4|%5|%6").arg(banner).arg(axisMin).arg(step).arg(dlg.SensorAxisY->titleText())
                 .arg(dlg.SensorLowSeries->at(1).y()).arg(dlg.SensorHighSeries->at(0).y()),
             QString("ALARM  LOW + HIGH   26.0 ppm|0|5|H2S (ppm)|5|10"));
    QVERIFY(axisMax > 26.0 && dlg.SensorHighSeries->at(1).x() == dlg.SensorAxisX->max());
    QVERIFY(dlg.SensorAxisY->max() >= 100.0 && dlg.SensorAxisY->max() < 110.0);  // the unit's sensor maximum, fixed
    QCOMPARE(shownWhenPaused, 2);
    QCOMPARE(dlg.SensorSeries->count(), 6);  // caught up on resume, and went on

    // Smaller than its captions need it does not get; wider and taller, the chart takes the room.
    dlg.resize(100, 100);
    QVERIFY(dlg.width() >= dlg.minimumSizeHint().width() && dlg.height() >= dlg.minimumSizeHint().height());
    const int chartHeight = dlg.SensorChart->height();
    dlg.resize(1000, dlg.height() + 200);
    QCoreApplication::processEvents();
    QCOMPARE(dlg.width(), 1000);
    QVERIFY(dlg.SensorChart->height() >= chartHeight + 190);
    Shot(dlg, "logging-alarm");
  }

  void CalibrationDialogCancelsThenSucceeds() {
    KvtSim::Options o;
    o.calNeverEnd = true, o.calTimeMs = 300, o.spanGasHeld = true, o.sensor.t90Ms = 0;
    SimPort port(o);
    TComKVT link;
    ScriptedOperator op;
    TSensorCalDlg dlg(link, op);
    QVERIFY(dlg.PrepareDlg(port.sim().config()));
    QCOMPARE(dlg.windowTitle(), QString("Sensor Calibration (H2S)"));
    QCOMPARE(dlg.SpanGasSpin->value(), 25.0);
    QCOMPARE(dlg.CalUnitLabel->text(), QString("ppm"));
    dlg.Clock().SetSpeed(20);
    dlg.show();

    bool closeRefused = false;
    QTimer::singleShot(150, &dlg, [&] {
      dlg.close();
      closeRefused = dlg.isVisible() && dlg.CalAbortBtn->isEnabled() && !dlg.CloseBtn->isEnabled();
      QTest::mouseClick(dlg.CalAbortBtn, Qt::LeftButton);
    });
    QTest::mouseClick(dlg.CalBtn, Qt::LeftButton);
    QVERIFY(closeRefused);
    QCOMPARE(dlg.CalLabel2->text(), QString("Calibration... User Stop"));

    port.sim().modifyOptions([](KvtSim::Options& x) { x.calNeverEnd = false; });
    QTest::mouseClick(dlg.CalBtn, Qt::LeftButton);
    QCOMPARE(dlg.CalLabel->text(), QString("Zero Calibration... OK"));
    QCOMPARE(dlg.CalLabel1->text(), QString("Apply SPAN Gas (H2S)... 25 ppm"));
    QCOMPARE(dlg.CalLabel2->text(), QString("Calibration ... OK"));
    QCOMPARE(dlg.CalProgressBar->value(), dlg.CalProgressBar->maximum());
    QVERIFY(dlg.CalBtn->isEnabled() && dlg.CloseBtn->isEnabled() && !dlg.CalAbortBtn->isEnabled());
    Shot(dlg, "calibration");
    QVERIFY(op.messages().empty());

    // The detector says OK, but kept its span: 30 % low on the span gas is no pass.
    port.sim().modifyOptions([](KvtSim::Options& x) { x.calUnchanged = true, x.sensor.driftPct = -30; });
    QTest::mouseClick(dlg.CalBtn, Qt::LeftButton);
    QCOMPARE(dlg.CalLabel2->text(),
             QString("FAIL: as left out of tolerance (17.5 ppm)"));
    Shot(dlg, "calibration-tolerance");
  }

  // The cylinder comes from the settings; a passed or impossible expiry refuses the start with a
  // box and is not remembered; during the run the fields are locked, the guide and the bar show
  // the step and seconds left, and the span gas prompt comes before the span step.
  void CalibrationGuidesLocksAndRecordsTheCylinder() {
    KvtSim::Options o;
    o.calTimeMs = 300, o.spanGasHeld = true, o.sensor.t90Ms = 0;
    SimPort port(o);
    TComKVT link;
    ScriptedOperator op;
    SaveCylinder("LOT-7", "2000-01-01");
    TSensorCalDlg dlg(link, op);
    QVERIFY(dlg.PrepareDlg(port.sim().config()));
    QCOMPARE(dlg.SensorCalLotEdit->text(), QString("LOT-7"));
    dlg.Model().FProduct = "QRB Vaporlet";
    dlg.Clock().SetSpeed(20);
    dlg.show();
    Shot(dlg, "calibration-before");
    for (const char* refused : {"2000-01-01", "2099-02-30"}) {
      dlg.SensorCalExpiryEdit->setText(refused);
      dlg.CalBtn->click();
    }
    QCOMPARE(op.messages().size(), size_t(2));
    QVERIFY(dlg.CalLabel->text().isEmpty() && LoadCylinder().mExpiry == "2000-01-01");

    op.clear();
    dlg.SensorCalLotEdit->setText(" LOT-8 ");
    dlg.SensorCalExpiryEdit->setText("2099-12-31");
    bool locked = true, promptAlone = false, stepShown = false;
    QTimer watch;
    connect(&watch, &QTimer::timeout, [&] {
      if (dlg.CalBtn->isEnabled()) return;
      locked = locked && !dlg.SpanGasSpin->isEnabled() && !dlg.SensorCalLotEdit->isEnabled() &&
               !dlg.SensorCalExpiryEdit->isEnabled();
      const bool alone = !dlg.CalLabel1->text().isEmpty() && dlg.CalLabel2->text().isEmpty();
      if (alone && !promptAlone) Shot(dlg, "calibration-during");
      promptAlone = promptAlone || alone;
      stepShown = stepShown || (dlg.SensorCalGuideLabel->text().startsWith("Step 2 of 2: apply span gas of 25 ppm") &&
                                dlg.CalProgressBar->text().endsWith(" s left"));
    });
    watch.start(5);
    dlg.CalBtn->click();
    watch.stop();
    Shot(dlg, "calibration-after");
    QVERIFY(locked && promptAlone && stepShown && dlg.SensorCalLotEdit->isEnabled() && op.messages().empty());
    // The folder is shared with the other cases: the newest record is this run's.
    const RServiceRecord r = TRecordStore(RecordsDatabasePath(), TRecordStore::TMode::Read).History("").at(0);
    QCOMPARE(r.mKind + "|" + r.mResult + "|" + r.mLot + "|" + r.mExpiry + "|" + r.mProduct,
             std::string("calibration|PASS|LOT-8|2099-12-31|QRB Vaporlet"));
  }

  void MainWindowButtonsOpenTheDialogs() {
    SimPort port;
    for (const bool factory : {true, false}) {
      TestWindow w(factory ? kFactoryIni : "");
      QString opened;
      QTimer::singleShot(0, [&] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
          opened = modal->objectName() + " " + modal->windowTitle();
          if (auto* cal = qobject_cast<TSensorCalDlg*>(modal))  // its record names the product read
            opened += " " + QString::fromStdString(cal->Model().FProduct);
          static_cast<QDialog*>(modal)->reject();
        }
      });
      w.Find<QPushButton>(factory ? "FatoryOptLogSensorBtn" : "UserCalBtn")->click();
      QCOMPARE(opened, factory ? QString("TSensorLogDlg Sensor Reading Data Logging")
                               : QString("TSensorCalDlg Sensor Calibration (H2S) KVT"));
    }
  }

 private:
  TempDir FDir;
};

}  // namespace

QTEST_MAIN(SensorDialogsTest)
#include "SensorDialogsTest.moc"
