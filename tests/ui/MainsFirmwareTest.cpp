// The event-log and firmware buttons of the window against the simulated detector: the log
// is saved, an image chosen in one view shows in both, and during a download the other
// operations are locked, the window will not close and Cancel stops it at the next packet.
#include "sim/KvtSim.h"
#include "tests/support/SimPort.h"
#include "tests/ui/UiSupport.h"
#include "ui/Label3dB.h"

#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>

#include <vector>

namespace {

const char* const kLocked[] = {
    "UserReadFileBtn",   "UserReadDeviceBtn",    "UserWriteFileBtn",    "UserWriteDeviceBtn",    "UserHibernateBtn",
    "UserLogSaveBtn",    "UserCalBtn",           "UserFMOpenBtn",       "UserFMUpgradeBtn",      "UserOptReadFileBtn",
    "UserOptReadDeviceBtn", "UserOptWriteFileBtn", "UserOptWriteDeviceBtn", "UserOptLogSaveBtn", "UserOptFMOpenBtn",
    "UserOptFMUpgradeBtn", "UserOptHibernateBtn", "FatoryOptLogResetBtn", "FatoryOptCalBtn",      "FatoryOptTurnOffBtn",
    "FatoryOptLogSensorBtn", "EtcIdentifyBtn",    "EtcBeepONBtn",        "EtcEEPROMReadBtn",      "EtcEEPROMSaveLogBtn"};

class MainsFirmwareTest : public QObject {
  Q_OBJECT

 private slots:
  void saveLogThenDownloadLocksTheWindowAndCancelStopsIt() {
    KvtSim::Options o;
    o.config.mUnit.mFWVersion = 12, o.config.mUnit.mHWVersion = 1;
    KvtSim::fillCRCs(o.config);
    SimPort port(o);
    TestWindow w(kFactoryIni);
    w.op.saveFile(w.dir.path() + "log.csv");
    w.Find<QPushButton>("UserOptLogSaveBtn")->click();
    QVERIFY(w.dir.read("log.csv").find("HIGH Alarm ") != std::string::npos);
    const std::vector<uint8_t> image = KvtSim::makeFirmwareImage(o);
    w.dir.write("fw.img", std::string(image.begin(), image.end()));
    w.op.openFile(w.dir.path() + "fw.img");
    w.Find<QToolButton>("UserOptFMOpenBtn")->click();
    QCOMPARE(w.Find<TLabel3DBorder>("UserFMFileLabel")->text(), QString::fromStdString(w.dir.path() + "fw.img"));
    QCOMPARE(w.Find<TLabel3DBorder>("UserFMDescLabel")->text(),
             QStringLiteral("KVT Firmware Upgrade ... Firmware Version 1.3"));
    QVERIFY(w.Find<QPushButton>("UserFMUpgradeBtn")->isEnabled());

    auto* bar = w.Find<QProgressBar>("UserFMProgressBar");
    bool checked = false;
    w.op.onPump = [&] {
      if (bar->value() != 41 || checked) return;
      checked = true;
      for (const char* name : kLocked) QVERIFY2(!w.Find<QWidget>(name)->isEnabled(), name);
      QVERIFY(w.Find<QPushButton>("UserFMCancelBtn")->isEnabled());
      QVERIFY(!w.form->close());
      w.Find<QPushButton>("UserOptFMCancelBtn")->click();
    };
    w.Find<QPushButton>("UserOptFMUpgradeBtn")->click();
    QVERIFY(checked);
    QCOMPARE(w.op.lastStatus().text, std::string("Download Image... USER STOP"));
    for (const char* name : {"UserFMProgressBar", "UserOptFMProgressBar"}) {
      QCOMPARE(w.Find<QProgressBar>(name)->value(), 42);
      QCOMPARE(w.Find<QProgressBar>(name)->maximum(), 128);
    }
    for (const char* name : kLocked) QVERIFY2(w.Find<QWidget>(name)->isEnabled(), name);
    QVERIFY(!w.Find<QPushButton>("UserOptFMCancelBtn")->isEnabled());
    QCOMPARE(port.sim().firmwareRuns(), 0);
    for (const char* name : {"UserFMDescLabel", "UserOptFMDescLabel"})
      QVERIFY(w.Find<TLabel3DBorder>(name)->text().startsWith("Not completed: new firmware not started"));

    // Sent again to the end: the identity read back shows the new version in both views; the
    // next operation's start empties the bars and gives the boxes back their image.
    w.op.onPump = nullptr;
    w.Find<QPushButton>("UserOptFMUpgradeBtn")->click();
    QCOMPARE(port.sim().firmwareRuns(), 1);
    QCOMPARE(w.Find<TLabel3DBorder>("UserOptFMDescLabel")->text(),
             QStringLiteral("Upgrade complete: the detector runs firmware 1.3"));
    QCOMPARE(w.Find<TLabel3DBorder>("UserOptSWVersionLabel")->text(), QStringLiteral("1.3"));
    QCOMPARE(w.Find<TLabel3DBorder>("UserSWVersionLabel")->text(), QStringLiteral("1.3"));
    QCOMPARE(bar->value(), 128);
    w.form->showStatus(StatusColour::Running, "Read KVT Information...");
    QCOMPARE(bar->value(), 0);
    QCOMPARE(w.Find<TLabel3DBorder>("UserFMDescLabel")->text(),
             QStringLiteral("KVT Firmware Upgrade ... Firmware Version 1.3"));
    QVERIFY(w.form->close());
  }
};

}  // namespace

QTEST_MAIN(MainsFirmwareTest)
#include "MainsFirmwareTest.moc"
