// The bump test dialog against the simulated detector's gas, through its buttons, on a fast
// clock the simulated sensor shares.
#include "app/core/Settings.h"
#include "app/records/ServiceRecords.h"
#include "link/KVTComms.h"
#include "model/DeviceUtils.h"
#include "model/SensorTypes.h"
#include "sim/KvtSim.h"
#include "tests/support/SimPort.h"
#include "tests/ui/UiSupport.h"
#include "ui/BumpTestDlg.h"
#include "ui/Label3dB.h"
#include "ui/NumberBoxes.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

namespace {

class BumpTestDlgTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    AppDir = FDir.path();
    DeviceCFG = RDeviceCFG{};
    FactoryMode = false;
    SetBuiltInSensorTypes();
  }

  void GasOnTimesTheAlarmsAndGasRemovedSendsTheVerdict() {
    ScriptedOperator op;
    TComKVT link;
    TBumpTestDlg* dialog = nullptr;
    KvtSim::Options o;
    o.sensor.t90Ms = 10000;
    o.sensorClock = [&dialog] { return dialog ? dialog->Clock().Now() : std::chrono::steady_clock::now(); };
    SimPort port(o);
    TBumpTestDlg dlg(link, op);
    dlg.Clock().SetSpeed(20);
    QVERIFY(dlg.PrepareDlg(port.sim().config()));
    dialog = &dlg;
    QCOMPARE(dlg.windowTitle(), QString("Bump Test (H2S)"));
    QCOMPARE(dlg.BumpGasSpin->value(), 10.0);  // the highest alarm level until a gas is remembered
    QVERIFY(dlg.BumpGuideLabel->text().startsWith("Alarms at 5 and 10 ppm."));
    dlg.BumpGasSpin->setValue(25);
    dlg.BumpLotEdit->setText("L-7");
    dlg.BumpExpiryEdit->setText("2031-01-31");
    dlg.show();
    Shot(dlg, "bump-before");

    bool closeRefused = false, shot = false;
    QTimer buttons;
    connect(&buttons, &QTimer::timeout, &dlg, [&] {
      if (dlg.BumpGasOnBtn->isEnabled()) {
        dlg.close();
        closeRefused = dlg.isVisible() && dlg.BumpStopBtn->isEnabled() && !dlg.CloseBtn->isEnabled();
        port.sim().applyGas(25);
        QTest::mouseClick(dlg.BumpGasOnBtn, Qt::LeftButton);
      }
      if (dlg.BumpGasOffBtn->isEnabled()) {
        if (!shot) Shot(dlg, "bump-verdict"), shot = true;
        port.sim().applyGas(0);
        QTest::mouseClick(dlg.BumpGasOffBtn, Qt::LeftButton);
      }
    });
    buttons.start(20);
    QTest::mouseClick(dlg.BumpStartBtn, Qt::LeftButton);
    buttons.stop();
    Shot(dlg, "bump-after");
    QVERIFY(closeRefused);
    QCOMPARE(dlg.LastResult().mOutcome, TBumpOutcome::Pass);
    QVERIFY2(dlg.BumpResultLabel->text().startsWith("PASS, peak 2"), qPrintable(dlg.BumpResultLabel->text()));
    QVERIFY(dlg.BumpLowLabel->text().startsWith("after "));
    QVERIFY(dlg.BumpHighLabel->text().startsWith("after "));
    QVERIFY(dlg.CloseBtn->isEnabled() && dlg.BumpStartBtn->isEnabled() && !dlg.BumpStopBtn->isEnabled());
    int pass = 0;
    for (const KvtSim::Frame& f : port.sim().received()) pass += f.received && f.what == "46";
    QCOMPARE(pass, 1);
    // The gas and its cylinder are remembered for the next test.
    TBumpTestDlg again(link, op);
    QVERIFY(again.PrepareDlg(port.sim().config()));
    QCOMPARE(again.BumpGasSpin->value(), 25.0);
    QCOMPARE(again.BumpLotEdit->text(), QString("L-7"));
  }

 private:
  static void Shot(QWidget& w, const char* name) {
    // For a person checking the look: BEAMDOCK_SHOTS=folder keeps a picture of the dialog.
    if (qEnvironmentVariableIsSet("BEAMDOCK_SHOTS"))
      w.grab().save(qEnvironmentVariable("BEAMDOCK_SHOTS") + "/" + name + ".png");
  }
  TempDir FDir;
};

}  // namespace

QTEST_MAIN(BumpTestDlgTest)
#include "BumpTestDlgTest.moc"
