// Read Device, Write Device, Hibernate, Read File and Write File through the window's
// buttons, against the simulated detector on a pseudo-terminal; every box and file dialog is
// answered by the script.
#include "model/CfgFile.h"
#include "model/Checksum.h"
#include "model/SensorTypes.h"
#include "sim/KvtSim.h"
#include "tests/support/SimPort.h"
#include "tests/ui/UiSupport.h"
#include "ui/Label3dB.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include <cstring>
#include <utility>
#include <vector>

namespace {

const char* const kFactoryNoWindowsIni =
    "[Environment]\r\nModeEntry=MRW_TQP__\r\n"
    "[UNIT]\r\nUnitWriteUserSize=0\r\nUnitWriteFactorySize=0\r\nSensorWriteUserSize=0\r\nSensorWriteFactorySize=0\r\n";

// A detector whose every shown field differs from the default configuration.
RKVTCFG Detector() {
  RKVTCFG cfg;
  SetDefaultCFG(cfg);
  RKVTUnitCFG& u = cfg.mUnit;
  RKVTSensorCFG& s = cfg.mSensor;
  u.mUnitFlag = 0x07;  // reading only, quiet bump LED
  std::memcpy(u.mUserID, "AB-12 ", 6);
  u.mTestInterval = 12;
  u.mAllowSuspend = 0x80;
  std::memcpy(u.mSerial, "SH12345678", 10);
  u.mBatLimit[0] = 650, u.mBatLimit[1] = 651;
  u.mBatLimitStartUp = 709, u.mBatLimitCritical = 601;
  u.mHWVersion = 3, u.mFWVersion = 14;
  u.mLifeRemaining = 15 * kSecondsPerMonth + 10 * kSecondsPerDay;
  u.mAlarmTime = 1234, u.mTestTime = 63072001, u.mAlarmCount = 9, u.mTestCount = 10;
  s.mAlarmHigh = 2005, s.mAlarmLow = 755, s.mCalInterval = 30 * kSecondsPerDay, s.mBumpInterval = 7;
  s.mSensorType = 2;  // CO, 0 to 300
  s.mDeadZone = 16, s.mSpanGas = 2510, s.mSensorMax = 2999, s.mSensorBase = 3;
  s.mTempCompSpan[0] = -229833, s.mTempCompSpan[1] = 17, s.mTempCompSpan[2] = -5;
  s.mZero = 205, s.mSpan = 5562, s.mTau = 6, s.mLastCal = 100, s.mPeakTimer = 200, s.mMinSpan = 3441;
  s.mLastBump = 300;
  return cfg;
}

KvtSim::Options WithConfig(const RKVTCFG& cfg) {
  KvtSim::Options o;
  o.config = cfg;
  return o;
}

std::vector<std::pair<int, int>> Windows(const KvtSim& sim) {
  std::vector<std::pair<int, int>> out;
  for (const KvtSim::Frame& f : sim.received())
    if (f.what == "header") out.emplace_back(f.bytes[0], (f.bytes[2] << 8) | f.bytes[3]);
  return out;
}

int Count(const KvtSim& sim, const char* what) {
  int n = 0;
  for (const KvtSim::Frame& f : sim.received()) n += f.what == what;
  return n;
}

class MainsDeviceTest : public QObject {
  Q_OBJECT

  static QString Text(TestWindow& w, const char* label) { return w.Find<TLabel3DBorder>(label)->text(); }
  static double Dec(TestWindow& w, const char* box) { return w.Find<QDoubleSpinBox>(box)->value(); }
  static int Int(TestWindow& w, const char* box) { return w.Find<QSpinBox>(box)->value(); }
  static QString Edit(TestWindow& w, const char* edit) { return w.Find<QLineEdit>(edit)->text(); }
  static void Click(TestWindow& w, const char* button) { QTest::mouseClick(w.Find<QPushButton>(button), Qt::LeftButton); }
  // The status line of the operation, as the window's Operator (here the script) was given it.
  static QString Status(TestWindow& w) { return QString::fromStdString(w.op.lastStatus().text); }
  static void Type(TestWindow& w, const char* box, double value) {
    auto* spin = w.Find<QDoubleSpinBox>(box);
    spin->setFocus();
    spin->selectAll();
    QTest::keyClicks(spin, QString::number(value, 'f', 1));
  }

 private slots:
  void readDeviceFillsEveryControlOfBothViews() {
    SimPort port(WithConfig(Detector()));
    TestWindow w(kFactoryIni);
    w.form->FHibernateBtn = true;
    Click(w, "UserOptReadDeviceBtn");
    QCOMPARE(Status(w), QStringLiteral("Read KVT Information... OK"));
    QVERIFY(w.op.messages().empty());
    QVERIFY(!w.form->FHibernateBtn);
    QCOMPARE(w.form->FReadSW, uint8_t{14});
    QCOMPARE(Text(w, "UserOptIDLabel"), QStringLiteral("KVT"));

    QCOMPARE(Text(w, "UserHWVersionLabel"), QStringLiteral("003"));
    QCOMPARE(Text(w, "UserSWVersionLabel"), QStringLiteral("1.4"));
    QCOMPARE(Text(w, "UserSerialLabel"), QStringLiteral("SH12345678"));
    QCOMPARE(Text(w, "UserMonthLifeLabel"), QStringLiteral("15"));
    QCOMPARE(Text(w, "UserDayLifeLabel"), QStringLiteral("11"));
    QCOMPARE(w.Find<QComboBox>("UserSensorTypeCombo")->currentText(), QStringLiteral("CO"));
    QCOMPARE(Dec(w, "UserHighAlarmSpin"), 200.5);
    QCOMPARE(Dec(w, "UserLowAlarmSpin"), 75.5);
    QCOMPARE(Int(w, "UserCalIntervalSpin"), 30);
    QCOMPARE(Int(w, "UserBumpIntervalSpin"), 7);
    QCOMPARE(Edit(w, "UserIDEdit"), QStringLiteral("AB-12"));
    QCOMPARE(Int(w, "UserTestIntervalSpin"), 12);
    QCOMPARE(w.Find<QComboBox>("UserDispCombo")->currentText(), QStringLiteral("Sensor Reading"));
    QVERIFY(w.Find<QCheckBox>("UserHideBumpLEDCheck")->isChecked());

    QCOMPARE(Edit(w, "UserOptHWVersionEdit"), QStringLiteral("003"));
    QCOMPARE(Text(w, "UserOptSWVersionLabel"), QStringLiteral("1.4"));
    QCOMPARE(Edit(w, "UserOptSerialEdit"), QStringLiteral("SH12345678"));
    QCOMPARE(Int(w, "UserOptMonthLifeSpin"), 15);
    QCOMPARE(Int(w, "UserOptDayLifeSpin"), 11);
    QCOMPARE(w.Find<QComboBox>("UserOptSensorTypeCombo")->currentText(), QStringLiteral("CO"));
    QCOMPARE(Dec(w, "UserOptHighAlarmSpin"), 200.5);
    QCOMPARE(Dec(w, "UserOptLowAlarmSpin"), 75.5);
    QCOMPARE(Int(w, "UserOptCalIntervalSpin"), 30);
    QCOMPARE(Int(w, "UserOptBumpIntervalSpin"), 7);
    QCOMPARE(Edit(w, "UserOptIDEdit"), QStringLiteral("AB-12"));
    QCOMPARE(Int(w, "UserOptTestIntervalSpin"), 12);
    QCOMPARE(w.Find<QComboBox>("UserOptDispCombo")->currentText(), QStringLiteral("Sensor Reading"));
    QVERIFY(w.Find<QCheckBox>("UserOptHideBumpLEDCheck")->isChecked());

    QCOMPARE(Int(w, "FatoryOptBatteryLimitSpin"), 601);
    QCOMPARE(Int(w, "FatoryOptBatteryLimitStartupSpin"), 709);
    QCOMPARE(Int(w, "FatoryOptBatteryLimit1Spin"), 650);
    QCOMPARE(Int(w, "FatoryOptBatteryLimit2Spin"), 651);
    QCOMPARE(Text(w, "FatoryOptAlarmTimeLabel"), QStringLiteral("1234"));
    QCOMPARE(Text(w, "FatoryOptAlarmCountLabel"), QStringLiteral("9"));
    QCOMPARE(Text(w, "FatoryOptTestTimeLabel"), QStringLiteral("---"));
    QCOMPARE(Text(w, "FatoryOptTestCountLabel"), QStringLiteral("10"));
    QCOMPARE(w.Find<QComboBox>("FactoryOptHibernateCombo")->currentText(), QStringLiteral("Allow suspend"));
    QCOMPARE(Dec(w, "FatoryOptSpanGasSpin"), 251.0);
    QCOMPARE(Dec(w, "FatoryOptSensorMaxSpin"), 299.9);
    QCOMPARE(Dec(w, "FatoryOptSensorBaseSpin"), 0.3);
    QCOMPARE(Dec(w, "FatoryOptDeadZoneSpin"), 1.6);
    QCOMPARE(Int(w, "FatoryOptTempComp1Spin"), -229833);
    QCOMPARE(Int(w, "FatoryOptTempComp2Spin"), 17);
    QCOMPARE(Int(w, "FatoryOptTempComp3Spin"), -5);
    QCOMPARE(Text(w, "FatoryOptZeroLabel"), QStringLiteral("205"));
    QCOMPARE(Text(w, "FatoryOptSpanLabel"), QStringLiteral("5.562"));
    QCOMPARE(Text(w, "FatoryOptMinSpanLabel"), QStringLiteral("3.441"));
    QCOMPARE(Text(w, "FatoryOptTauLabel"), QStringLiteral("6.0"));
    QCOMPARE(Text(w, "FatoryOptLastCalLabel"), QStringLiteral("100"));
    QCOMPARE(Text(w, "FatoryOptPeakTimerLabel"), QStringLiteral("200"));
    QCOMPARE(Text(w, "FatoryOptLastBumpTimerLabel"), QStringLiteral("300"));
  }

  void aFailedReadLeavesTheControlsAndClearsTheProductName() {
    KvtSim::Options o = WithConfig(Detector());
    o.pid = 1;
    SimPort port(o);
    TestWindow w(kFactoryIni);
    w.Find<TLabel3DBorder>("UserOptIDLabel")->setText(QStringLiteral("old"));
    Click(w, "UserOptReadDeviceBtn");
    QCOMPARE(Status(w), QStringLiteral("Read KVT Information... FAIL"));
    QCOMPARE(w.op.messages().size(), size_t{1});
    QCOMPARE(QString::fromStdString(w.op.messages()[0].text), QStringLiteral("This is not KVT module"));
    QCOMPARE(Text(w, "UserOptIDLabel"), QString());
    QCOMPARE(Text(w, "UserSerialLabel"), QStringLiteral("SH10000000"));
    QCOMPARE(Count(port.sim(), "5F"), 0);
  }

  // As an operator would: read, change the alarm levels, write, read them back changed.
  void userViewWriteSendsTheTwoUserWindowsAndReadsBackChanged() {
    RKVTCFG detector;
    SetDefaultCFG(detector);
    SimPort port(WithConfig(detector));
    TestWindow w;
    Click(w, "UserReadDeviceBtn");
    QCOMPARE(Status(w), QStringLiteral("Read KVT Information... OK"));
    Type(w, "UserHighAlarmSpin", 42.5);
    Type(w, "UserLowAlarmSpin", 12.0);
    port.sim().clearFrames();
    Click(w, "UserWriteDeviceBtn");
    QCOMPARE(Status(w), QStringLiteral("Write KVT Information... OK"));
    QVERIFY(w.op.messages().empty());
    QCOMPARE(Windows(port.sim()), (std::vector<std::pair<int, int>>{{8, 0}, {10, 64}}));
    QCOMPARE(Count(port.sim(), "71"), 0);
    QCOMPARE(int{port.sim().config().mSensor.mAlarmHigh}, 425);
    QCOMPARE(int{port.sim().config().mSensor.mAlarmLow}, 120);

    w.Find<QDoubleSpinBox>("UserHighAlarmSpin")->setValue(1.0);
    Click(w, "UserReadDeviceBtn");
    QCOMPARE(Dec(w, "UserHighAlarmSpin"), 42.5);
    QCOMPARE(Dec(w, "UserLowAlarmSpin"), 12.0);
  }

  void userViewRefusesAnotherSensorType() {
    RKVTCFG detector;
    SetDefaultCFG(detector);
    TestWindow w;
    {
      SimPort first(WithConfig(detector));  // an H2S detector read, then another put on
      Click(w, "UserReadDeviceBtn");
    }
    w.op.clear();
    detector.mSensor.mSensorType = 2;
    SimPort port(WithConfig(detector));
    Click(w, "UserWriteDeviceBtn");
    QCOMPARE(Status(w), QStringLiteral("Write KVT Information... FAIL"));
    QCOMPARE(w.op.messages().size(), size_t{1});
    QCOMPARE(QString::fromStdString(w.op.messages()[0].text), QStringLiteral("Check sensor type and Alarm setting"));
    QVERIFY(Windows(port.sim()).empty());
  }

  void factoryWriteWithNoWindowsSendsTheLifeAndFocusesTheSerial() {
    SimPort port(WithConfig(Detector()));
    TestWindow w(kFactoryNoWindowsIni);
    Click(w, "UserOptReadDeviceBtn");
    w.form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
    w.Find<QSpinBox>("UserOptMonthLifeSpin")->setValue(3);
    w.Find<QSpinBox>("UserOptDayLifeSpin")->setValue(2);
    w.Find<QLineEdit>("UserOptSerialEdit")->setText(QStringLiteral("ab99"));
    port.sim().clearFrames();
    Click(w, "UserOptWriteDeviceBtn");
    QCOMPARE(Status(w), QStringLiteral("Write KVT Information... OK"));
    QVERIFY(Windows(port.sim()).empty());
    QCOMPARE(Count(port.sim(), "71"), 1);
    QCOMPARE(uint32_t{port.sim().config().mUnit.mLifeRemaining}, 3 * kSecondsPerMonth + 2 * kSecondsPerDay - 1);
    // The collected serial (lower-case letters became blanks) is shown and has the focus.
    QCOMPARE(Edit(w, "UserOptSerialEdit"), QStringLiteral("  99000000"));
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w.Find<QLineEdit>("UserOptSerialEdit")));
    // The next unit's number is typed straight over it; its tenth digit passes on to Write Device.
    QTest::keyClicks(w.Find<QLineEdit>("UserOptSerialEdit"), QStringLiteral("SH20000001"));
    QCOMPARE(Edit(w, "UserOptSerialEdit"), QStringLiteral("SH20000001"));
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w.Find<QPushButton>("UserOptWriteDeviceBtn")));
  }

  void noSensorInformationInBothViews() {
    SimPort port;
    for (bool factory : {false, true}) {
      TestWindow w(factory ? kFactoryIni : "");
      w.Find<QComboBox>(factory ? "UserOptSensorTypeCombo" : "UserSensorTypeCombo")->setCurrentIndex(-1);
      Click(w, factory ? "UserOptWriteDeviceBtn" : "UserWriteDeviceBtn");
      QCOMPARE(w.op.messages().size(), size_t{1});
      QCOMPARE(QString::fromStdString(w.op.messages()[0].caption), QStringLiteral("No sensor information"));
      QCOMPARE(QString::fromStdString(w.op.messages()[0].text),
               factory ? QStringLiteral("No sensor information.\rFirst READ DEVICE or select sensor type")
                       : QStringLiteral("No sensor information.\rFirst READ DEVICE"));
      QCOMPARE(Status(w), QStringLiteral("Write KVT Information... REFUSED"));
    }
    QVERIFY(port.sim().received().empty());
  }

  void hibernateTwiceAsksOnce() {
    SimPort port(WithConfig(Detector()));  // mAllowSuspend 0x80
    TestWindow w;
    w.op.answer(true);
    Click(w, "UserHibernateBtn");
    QCOMPARE(Status(w), QStringLiteral("Hibernate... OK"));
    QCOMPARE(w.op.questions().size(), size_t{1});
    QCOMPARE(port.sim().state(), KvtSim::State::Hibernating);
    port.sim().wake();
    Click(w, "UserHibernateBtn");
    QCOMPARE(Status(w), QStringLiteral("Hibernate... OK"));
    QCOMPARE(w.op.questions().size(), size_t{1});
    // Reading the detector forgets the confirmation: the next press asks again.
    port.sim().wake();
    Click(w, "UserReadDeviceBtn");
    w.op.answer(false);
    Click(w, "UserHibernateBtn");
    QCOMPARE(w.op.questions().size(), size_t{2});
    QCOMPARE(Status(w), QStringLiteral("Hibernate... CANCELLED"));
  }

  void hibernateOnADetectorThatMayNotSaysCheckUnit() {
    SimPort port;
    TestWindow w(kFactoryIni);
    Click(w, "UserOptHibernateBtn");
    QCOMPARE(w.op.messages().size(), size_t{1});
    QCOMPARE(QString::fromStdString(w.op.messages()[0].caption), QStringLiteral("Check Unit"));
    QCOMPARE(Status(w), QStringLiteral("Hibernate... NOT SUPPORTED"));
    QCOMPARE(Count(port.sim(), "17"), 0);
  }

  void aPortThatCannotBeOpenedIsOneBoxAndTheWindowGoesOn() {
    TestWindow w;
    {
      ScopedEnv env("BEAMDOCK_PORT", w.dir.path() + "ttyUSB9");
      Click(w, "UserReadDeviceBtn");
    }
    QCOMPARE(w.op.messages().size(), size_t{1});
    QVERIFY(w.op.messages()[0].text.find("(Error: 2)") != std::string::npos);
    QCOMPARE(Status(w), QStringLiteral("Read KVT Information... BEAMDOCK Connect ERROR"));
    SimPort port;
    Click(w, "UserReadDeviceBtn");
    QCOMPARE(Status(w), QStringLiteral("Read KVT Information... OK"));
  }

  void saveAndLoadThroughTheFileButtons() {
    TestWindow w(kFactoryIni);
    const std::string path = w.dir.path() + "Configure/unit.cfg";
    Type(w, "UserOptHighAlarmSpin", 33.3);
    w.Find<QLineEdit>("UserOptSerialEdit")->setText(QStringLiteral("QA00000042"));
    w.form->FHibernateBtn = true;
    w.op.saveFile(path);
    Click(w, "UserOptWriteFileBtn");
    QVERIFY(!w.form->FHibernateBtn);
    const auto saves = w.op.eventsOf(ScriptedOperator::Kind::SaveFile);
    QCOMPARE(saves.size(), size_t{1});
    QCOMPARE(QString::fromStdString(saves[0].request.title), QStringLiteral("Save Configuration File"));
    QCOMPARE(QString::fromStdString(saves[0].request.folder), QString::fromStdString(w.dir.path() + "Configure/"));
    QCOMPARE(QString::fromStdString(saves[0].request.filter), QStringLiteral("configuration file|*.cfg"));
    QCOMPARE(w.dir.read("Configure/unit.cfg").size(), size_t{140});
    QCOMPARE(w.dir.read("Configure/unit.cfg")[16], '\x01');  // saved in the factory view

    // Another start of the program loads it back into the controls.
    w.Restart();
    QCOMPARE(Dec(w, "UserOptHighAlarmSpin"), 15.0);
    w.op.openFile(path);
    Click(w, "UserReadFileBtn");
    QCOMPARE(Dec(w, "UserOptHighAlarmSpin"), 33.3);
    QCOMPARE(Dec(w, "UserHighAlarmSpin"), 33.3);
    QCOMPARE(Edit(w, "UserOptSerialEdit"), QStringLiteral("QA00000042"));
    const auto opens = w.op.eventsOf(ScriptedOperator::Kind::OpenFile);
    QCOMPARE(QString::fromStdString(opens.back().request.title), QStringLiteral("Open Configuration File"));
    QVERIFY(w.op.messages().empty());

    // A file missing the last byte of its body is refused whole.
    const std::string good = w.dir.read("Configure/unit.cfg");
    w.dir.write("Configure/short.cfg", good.substr(0, good.size() - 1));
    w.Find<QDoubleSpinBox>("UserOptHighAlarmSpin")->setValue(20.0);
    w.op.saveFile(std::nullopt);
    Click(w, "UserOptWriteFileBtn");  // collects, then the dialog is cancelled
    w.op.openFile(w.dir.path() + "Configure/short.cfg");
    Click(w, "UserOptReadFileBtn");
    QCOMPARE(w.op.messages().size(), size_t{1});
    QCOMPARE(QString::fromStdString(w.op.messages()[0].caption), QStringLiteral("Read Configuration File"));
    QCOMPARE(QString::fromStdString(w.op.messages()[0].text), QStringLiteral("Configuration File is wrong\rReselect file"));
    QCOMPARE(Dec(w, "UserOptHighAlarmSpin"), 20.0);
    QCOMPARE(int{w.form->FKVTCFG.mSensor.mAlarmHigh}, 200);
  }
};

}  // namespace

QTEST_MAIN(MainsDeviceTest)
#include "MainsDeviceTest.moc"
