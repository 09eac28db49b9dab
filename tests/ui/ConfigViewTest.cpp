// Showing the working configuration in the controls and collecting it back, driven through
// the controls the operator uses.
#include "app/config/CfgView.h"
#include "model/Checksum.h"
#include "model/SensorTypes.h"
#include "tests/ui/UiSupport.h"
#include "ui/Label3dB.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>

#include <cstring>

namespace {

std::string Bytes(const char* p, size_t n) { return std::string(p, n); }

class ConfigViewTest : public QObject {
  Q_OBJECT

  static QString Text(TestWindow& w, const char* label) { return w.Find<TLabel3DBorder>(label)->text(); }
  static double Dec(TestWindow& w, const char* box) { return w.Find<QDoubleSpinBox>(box)->value(); }
  static int Int(TestWindow& w, const char* box) { return w.Find<QSpinBox>(box)->value(); }

  static void Show(TestWindow& w, const std::function<void(RKVTCFG&)>& change) {
    SetDefaultCFG(w.form->FKVTCFG);
    change(w.form->FKVTCFG);
    w.form->ShowCFG();
  }

  // Focus needs an active window, which the offscreen platform gives on request.
  static void Activate(TestWindow& w) {
    w.form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
  }

 private slots:
  void defaultConfigurationInTheUserView() {
    TestWindow w;
    QCOMPARE(Text(w, "UserHWVersionLabel"), QStringLiteral("000"));
    QCOMPARE(Text(w, "UserSWVersionLabel"), QStringLiteral("0.0"));
    QCOMPARE(Text(w, "UserSerialLabel"), QStringLiteral("SH10000000"));
    QCOMPARE(Text(w, "UserMonthLifeLabel"), QStringLiteral("24"));
    QCOMPARE(Text(w, "UserDayLifeLabel"), QStringLiteral("0"));
    QCOMPARE(Dec(w, "UserHighAlarmSpin"), 15.0);
    QCOMPARE(Dec(w, "UserLowAlarmSpin"), 10.0);
    QCOMPARE(Int(w, "UserCalIntervalSpin"), 0);
    QCOMPARE(Int(w, "UserBumpIntervalSpin"), 0);
    QCOMPARE(Int(w, "UserTestIntervalSpin"), 20);
    QCOMPARE(w.Find<QLineEdit>("UserIDEdit")->text(), QString());
    QCOMPARE(w.Find<QComboBox>("UserDispCombo")->currentText(), QStringLiteral("Sensor/Life Remaining"));
    QVERIFY(!w.Find<QCheckBox>("UserHideBumpLEDCheck")->isChecked());
    QCOMPARE(w.Find<QComboBox>("UserSensorTypeCombo")->currentText(), QStringLiteral("H2S"));
    // The factory page shows the same.
    QCOMPARE(w.Find<QLineEdit>("UserOptHWVersionEdit")->text(), QStringLiteral("000"));
    QCOMPARE(Text(w, "UserOptSWVersionLabel"), QStringLiteral("0.0"));
    QCOMPARE(w.Find<QLineEdit>("UserOptSerialEdit")->text(), QStringLiteral("SH10000000"));
    QCOMPARE(Int(w, "UserOptMonthLifeSpin"), 24);
    QCOMPARE(Int(w, "UserOptDayLifeSpin"), 0);
    QCOMPARE(w.Find<QComboBox>("UserOptSensorTypeCombo")->currentText(), QStringLiteral("H2S"));
    QCOMPARE(Int(w, "FatoryOptBatteryLimitSpin"), 600);
    QCOMPARE(Int(w, "FatoryOptBatteryLimitStartupSpin"), 708);
    QCOMPARE(Int(w, "FatoryOptBatteryLimit1Spin"), 649);
    QCOMPARE(Dec(w, "FatoryOptSpanGasSpin"), 25.0);
    QCOMPARE(Dec(w, "FatoryOptSensorMaxSpin"), 100.0);
    QCOMPARE(Dec(w, "FatoryOptDeadZoneSpin"), 1.5);
    QCOMPARE(Int(w, "FatoryOptTempComp1Spin"), -229832);
    QCOMPARE(Text(w, "FatoryOptSpanLabel"), QStringLiteral("5.561"));
    QCOMPARE(Text(w, "FatoryOptMinSpanLabel"), QStringLiteral("3.440"));
    QCOMPARE(Text(w, "FatoryOptTauLabel"), QStringLiteral("5.0"));
    QCOMPARE(Text(w, "FatoryOptZeroLabel"), QStringLiteral("204"));
  }

  void displayFlagsAndHibernateRoundTrip() {
    TestWindow w(kFactoryIni);
    Show(w, [](RKVTCFG& c) {
      c.mUnit.mUnitFlag = 0x04;
      c.mUnit.mAllowSuspend = 0x00;
    });
    QCOMPARE(w.Find<QComboBox>("UserDispCombo")->currentText(), QStringLiteral("Life Remaining"));
    QCOMPARE(w.Find<QComboBox>("UserOptDispCombo")->currentText(), QStringLiteral("Life Remaining"));
    QCOMPARE(w.Find<QComboBox>("FactoryOptHibernateCombo")->currentIndex(), 0);
    const RKVTCFG c = w.form->CollectCFG(false);
    QCOMPARE(+c.mUnit.mUnitFlag, 0x00);
    QCOMPARE(+c.mUnit.mAllowSuspend, 0xFF);

    Show(w, [](RKVTCFG& c) {
      c.mUnit.mUnitFlag = 0x07;
      c.mUnit.mAllowSuspend = 0x80;
    });
    QVERIFY(w.Find<QCheckBox>("UserOptHideBumpLEDCheck")->isChecked());
    QCOMPARE(w.Find<QComboBox>("UserOptDispCombo")->currentIndex(), 1);
    QCOMPARE(w.Find<QComboBox>("FactoryOptHibernateCombo")->currentText(), QStringLiteral("Allow suspend"));
    const RKVTCFG d = w.form->CollectCFG(false);
    QCOMPARE(+d.mUnit.mUnitFlag, 0x07);
    QCOMPARE(+d.mUnit.mAllowSuspend, 0x80);
  }

  void alarmBeyondTheSensorRangeShowsTheEnd() {
    for (const char* ini : {"", kFactoryIni}) {
      TestWindow w(ini);
      Show(w, [](RKVTCFG& c) { c.mSensor.mAlarmHigh = 1500; });
      QCOMPARE(Dec(w, "UserHighAlarmSpin"), 100.0);
      QCOMPARE(Dec(w, "UserOptHighAlarmSpin"), 100.0);
      QCOMPARE(uint16_t{w.form->CollectCFG(true).mSensor.mAlarmHigh}, 1000);
    }
  }

  void typedUserIDIsFilteredAndUpperCase() {
    for (const char* ini : {"", kFactoryIni}) {
      TestWindow w(ini);
      Activate(w);
      QLineEdit* edit = w.Find<QLineEdit>(*ini ? "UserOptIDEdit" : "UserIDEdit");
      edit->setFocus();
      QTest::keyClicks(edit, QStringLiteral("a?b.-1_2"));
      QCOMPARE(edit->text(), QStringLiteral("AB-12"));
      QTest::keyClicks(edit, QStringLiteral("xyz"));  // six at most
      QCOMPARE(edit->text(), QStringLiteral("AB-12X"));
      QTest::keyClick(edit, Qt::Key_Backspace);
      QTest::keyClick(edit, Qt::Key_Left);
      QTest::keyClick(edit, Qt::Key_Delete);  // moving and deleting still work
      QCOMPARE(edit->text(), QStringLiteral("AB-1"));
      QTest::keyClicks(edit, QStringLiteral(" 2"));
      QCOMPARE(edit->text(), QStringLiteral("AB-1 2"));
      edit->setText(QStringLiteral("AB-12"));
      const RKVTCFG c = w.form->CollectCFG(false);
      QCOMPARE(Bytes(c.mUnit.mUserID, 6), std::string("AB-12 "));
      // Whatever reaches the text another way (a paste) is still upper case, and bytes
      // that the detector cannot show are stored as blanks.
      edit->setText(QStringLiteral("ab?\u00e9"));
      QCOMPARE(edit->text(), QStringLiteral("AB?\u00c9"));
      QCOMPARE(Bytes(w.form->CollectCFG(false).mUnit.mUserID, 6), std::string("AB    "));
    }
  }

  void storedUserIDIsCleanedForDisplay() {
    TestWindow w;
    Show(w, [](RKVTCFG& c) { std::memcpy(c.mUnit.mUserID, "A?B   ", 6); });
    QCOMPARE(w.Find<QLineEdit>("UserIDEdit")->text(), QStringLiteral("A B"));
    Show(w, [](RKVTCFG& c) { std::memcpy(c.mUnit.mUserID, "ab\0xyz", 6); });
    QCOMPARE(w.Find<QLineEdit>("UserIDEdit")->text(), QStringLiteral("AB"));
    QCOMPARE(w.Find<QLineEdit>("UserOptIDEdit")->text(), QStringLiteral("AB"));
  }

  void serialNumberInTheFactoryView() {
    TestWindow w(kFactoryIni);
    w.Find<QLineEdit>("UserOptSerialEdit")->setText(QStringLiteral("sh12"));
    QCOMPARE(Bytes(w.form->CollectCFG(false).mUnit.mSerial, 10), std::string("  12000000"));
    Show(w, [](RKVTCFG& c) { std::memcpy(c.mUnit.mSerial, "SC12\0\0\0\0\0\0", 10); });
    QCOMPARE(w.Find<QLineEdit>("UserOptSerialEdit")->text(), QStringLiteral("SC12"));
    QCOMPARE(Text(w, "UserSerialLabel"), QStringLiteral("SC12"));
  }

  void serialEditMovesOnAfterTheTenthCharacter() {
    TestWindow w(kFactoryIni);
    Activate(w);
    auto* serial = w.Find<QLineEdit>("UserOptSerialEdit");
    serial->clear();
    serial->setFocus();
    QTest::keyClicks(serial, QStringLiteral("SH1234567"));
    QCOMPARE(QApplication::focusWidget(), serial);
    QTest::keyClicks(serial, QStringLiteral("8"));
    QCOMPARE(QApplication::focusWidget(), w.Find<QPushButton>("UserOptWriteDeviceBtn"));
    QCOMPARE(serial->text(), QStringLiteral("SH12345678"));
  }

  void lifeInTheFactoryView() {
    TestWindow w(kFactoryIni);
    auto* months = w.Find<QSpinBox>("UserOptMonthLifeSpin");
    auto* days = w.Find<QSpinBox>("UserOptDayLifeSpin");
    months->setValue(24);
    days->setValue(31);
    // For a file: limited, silently, and the boxes stay.
    QCOMPARE(uint32_t{w.form->CollectCFG(false).mUnit.mLifeRemaining}, 63072000u);
    QVERIFY(w.op.messages().empty());
    QCOMPARE(days->value(), 31);
    // For the detector: limited, the boxes reset, one information box.
    QCOMPARE(uint32_t{w.form->CollectCFG(true).mUnit.mLifeRemaining}, 63072000u);
    QCOMPARE(months->value(), 24);
    QCOMPARE(days->value(), 0);
    QCOMPARE(w.op.messages().size(), size_t{1});
    const ScriptedOperator::Event box = w.op.messages()[0];
    QCOMPARE(box.icon, MessageIcon::Information);
    QCOMPARE(box.caption, std::string("Check Life Remaining"));
    QCOMPARE(box.text,
             std::string("Life Remaining Value over than define value\rMake default value... check Life Remaining Value"));

    const auto life = [&](int m, int d) {
      months->setValue(m);
      days->setValue(d);
      return uint32_t{w.form->CollectCFG(true).mUnit.mLifeRemaining};
    };
    QCOMPARE(life(24, 0), 63071999u);
    QCOMPARE(life(0, 0), 0u);
    QCOMPARE(life(0, 1), 86399u);
    QCOMPARE(w.op.messages().size(), size_t{1});
    // What the program shows is held in the range; what is typed beyond it stays, marked.
    static_cast<TIntegerBox*>(months)->Show(30);
    static_cast<TIntegerBox*>(days)->Show(40);
    QCOMPARE(months->value(), 24);
    QCOMPARE(days->value(), 31);
    months->setValue(30);
    QVERIFY(static_cast<TIntegerBox*>(months)->OutOfRange());
  }

  void hardwareVersionText() {
    TestWindow w(kFactoryIni);
    auto* hw = w.Find<QLineEdit>("UserOptHWVersionEdit");
    const auto collect = [&](const char* text) {
      hw->setText(QString::fromLatin1(text));
      return +w.form->CollectCFG(false).mUnit.mHWVersion;
    };
    QCOMPARE(collect("7"), 7);
    QCOMPARE(collect("0"), 1);
    QCOMPARE(collect("300"), 44);
    QCOMPARE(collect("12ab"), 12);
    QCOMPARE(collect(""), 1);

    // Too long for 32 bits: the collect is abandoned with one error box, never a crash.
    hw->setText(QStringLiteral("99999999999"));
    const std::optional<RKVTCFG> none = w.form->TryCollectCFG(true);
    QVERIFY(!none);
    QCOMPARE(w.op.messages().size(), size_t{1});
    QCOMPARE(w.op.messages()[0].icon, MessageIcon::Error);
    QVERIFY(w.op.messages()[0].text.find("99999999999") != std::string::npos);
  }

  void countersAboveTwoYearsShowDashes() {
    TestWindow w(kFactoryIni);
    Show(w, [](RKVTCFG& c) {
      c.mSensor.mLastCal = 63072000;
      c.mSensor.mPeakTimer = 63072001;
      c.mSensor.mLastBump = 0xFFFFFFFF;
      c.mUnit.mAlarmTime = 63072001;
      c.mUnit.mTestTime = 5;
      c.mUnit.mAlarmCount = 7;
      c.mUnit.mTestCount = 65535;
    });
    QCOMPARE(Text(w, "FatoryOptLastCalLabel"), QStringLiteral("63072000"));
    QCOMPARE(Text(w, "FatoryOptPeakTimerLabel"), QStringLiteral("---"));
    QCOMPARE(Text(w, "FatoryOptLastBumpTimerLabel"), QStringLiteral("---"));
    QCOMPARE(Text(w, "FatoryOptAlarmTimeLabel"), QStringLiteral("---"));
    QCOMPARE(Text(w, "FatoryOptTestTimeLabel"), QStringLiteral("5"));
    QCOMPARE(Text(w, "FatoryOptAlarmCountLabel"), QStringLiteral("7"));
    QCOMPARE(Text(w, "FatoryOptTestCountLabel"), QStringLiteral("65535"));
  }

  void userViewFirmwareByteDependsOnTheTarget() {
    TestWindow w;
    w.form->FReadSW = 13;
    QCOMPARE(+w.form->CollectCFG(false).mUnit.mFWVersion, 13);
    QCOMPARE(+w.form->CollectCFG(true).mUnit.mFWVersion, 0);
  }

  void userViewCollectsOnlyTheUserSettings() {
    TestWindow w;
    // A detector with its own factory values was read ...
    Show(w, [](RKVTCFG& c) {
      c.mUnit.mHWVersion = 9;
      std::memcpy(c.mUnit.mSerial, "SC99999999", 10);
      c.mSensor.mSensorMax = 500;
    });
    w.Find<QDoubleSpinBox>("UserHighAlarmSpin")->setValue(50.5);
    w.Find<QDoubleSpinBox>("UserLowAlarmSpin")->setValue(20.0);
    w.Find<QSpinBox>("UserCalIntervalSpin")->setValue(30);
    w.Find<QSpinBox>("UserBumpIntervalSpin")->setValue(2);
    w.Find<QSpinBox>("UserTestIntervalSpin")->setValue(8);
    w.Find<QComboBox>("UserDispCombo")->setCurrentIndex(1);
    w.Find<QCheckBox>("UserHideBumpLEDCheck")->setChecked(true);
    const RKVTCFG c = w.form->CollectCFG(true);
    // ... but the user view sends the defaults for everything it does not show.
    RKVTCFG def;
    SetDefaultCFG(def);
    QCOMPARE(+c.mUnit.mHWVersion, +def.mUnit.mHWVersion);
    QCOMPARE(Bytes(c.mUnit.mSerial, 10), std::string("SH10000000"));
    QCOMPARE(uint16_t{c.mSensor.mSensorMax}, uint16_t{def.mSensor.mSensorMax});
    QCOMPARE(uint16_t{c.mSensor.mAlarmHigh}, 505);
    QCOMPARE(uint16_t{c.mSensor.mAlarmLow}, 200);
    QCOMPARE(uint32_t{c.mSensor.mCalInterval}, 30u * 86400u);
    QCOMPARE(uint16_t{c.mSensor.mBumpInterval}, 2);
    QCOMPARE(+c.mUnit.mTestInterval, 8);
    QCOMPARE(+c.mUnit.mUnitFlag, 0x07);
    QCOMPARE(+c.mSensor.mSensorType, 1);
  }

  void calibrationIntervalShowsWholeDays() {
    TestWindow w;
    Show(w, [](RKVTCFG& c) { c.mSensor.mCalInterval = 129600; });  // 1.5 days
    QCOMPARE(Int(w, "UserCalIntervalSpin"), 2);
    QCOMPARE(Int(w, "UserOptCalIntervalSpin"), 2);
    Show(w, [](RKVTCFG& c) { c.mSensor.mCalInterval = 216000; });  // 2.5 days
    QCOMPARE(Int(w, "UserCalIntervalSpin"), 2);
    Show(w, [](RKVTCFG& c) { c.mSensor.mCalInterval = 400u * 86400u; });
    QCOMPARE(Int(w, "UserCalIntervalSpin"), 365);
  }

  void sensorTypeChangeSetsTheEightRanges() {
    TestWindow w(kFactoryIni);
    auto* combo = w.Find<QComboBox>("UserOptSensorTypeCombo");
    combo->setCurrentIndex(1);  // CO: 0 to 300
    for (TDecimalBox* box : w.form->SensorRangeBoxes()) {
      QCOMPARE(box->FieldMin(), 0.0);
      QCOMPARE(box->FieldMax(), 300.0);
    }
    w.Find<QDoubleSpinBox>("UserOptHighAlarmSpin")->setValue(250.0);
    combo->setCurrentIndex(2);  // O2: 0 to 30, the value is brought into it
    QCOMPARE(Dec(w, "UserOptHighAlarmSpin"), 30.0);
    QCOMPARE(w.Find<TDecimalBox>("FatoryOptSpanGasSpin")->FieldMax(), 30.0);
    const RKVTCFG c = w.form->CollectCFG(false);
    QCOMPARE(+c.mSensor.mSensorType, 4);
    QCOMPARE(uint16_t{c.mSensor.mAlarmHigh}, 300);
    // Every other box keeps its range.
    QCOMPARE(w.Find<TIntegerBox>("UserOptCalIntervalSpin")->FieldMax(), 365.0);
  }

  void unknownSensorTypeLeavesRangesAndSelectsNothing() {
    TestWindow w(kFactoryIni);
    w.Find<QComboBox>("UserOptSensorTypeCombo")->setCurrentIndex(1);  // ranges now 0 to 300
    Show(w, [](RKVTCFG& c) {
      c.mSensor.mSensorType = 3;
      c.mSensor.mAlarmHigh = 2000;
    });
    QCOMPARE(w.Find<QComboBox>("UserOptSensorTypeCombo")->currentIndex(), -1);
    QCOMPARE(w.Find<QComboBox>("UserSensorTypeCombo")->currentIndex(), -1);
    QCOMPARE(w.Find<TDecimalBox>("UserOptHighAlarmSpin")->FieldMax(), 300.0);
    QCOMPARE(Dec(w, "UserOptHighAlarmSpin"), 200.0);
    QVERIFY(w.Find<QComboBox>("UserOptSensorTypeCombo")->isEnabled());
    QCOMPARE(+w.form->CollectCFG(false).mSensor.mSensorType, 0);
  }

  void showingASensorTypeDoesNotRunTheChangeHandler() {
    TestWindow w(std::string(kFactoryIni) + "[SENSOR]\r\nA=1,ppm,A,60,0,50\r\nB=2,ppm,B,60,0,200\r\n");
    // ShowCFG sets the ranges of the type it shows; a change handler run for the
    // position would have set the same, so look at a box ShowCFG sets afterwards.
    Show(w, [](RKVTCFG& c) {
      c.mSensor.mSensorType = 2;
      c.mSensor.mAlarmHigh = 1500;
    });
    QCOMPARE(w.Find<QComboBox>("UserOptSensorTypeCombo")->currentText(), QStringLiteral("B"));
    QCOMPARE(Dec(w, "UserOptHighAlarmSpin"), 150.0);
    QCOMPARE(w.Find<TDecimalBox>("FatoryOptDeadZoneSpin")->FieldMax(), 200.0);
  }

  void temperatureCompensationIsSigned32Bit() {
    TestWindow w(kFactoryIni);
    Show(w, [](RKVTCFG& c) {
      c.mSensor.mTempCompSpan[0] = -2147483647 - 1;
      c.mSensor.mTempCompSpan[1] = 2147483647;
      c.mSensor.mTempCompSpan[2] = -1;
    });
    const RKVTCFG c = w.form->CollectCFG(false);
    QCOMPARE(int32_t{c.mSensor.mTempCompSpan[0]}, -2147483647 - 1);
    QCOMPARE(int32_t{c.mSensor.mTempCompSpan[1]}, 2147483647);
    QCOMPARE(int32_t{c.mSensor.mTempCompSpan[2]}, -1);
  }

  void factoryViewCollectsEveryBox() {
    TestWindow w(kFactoryIni);
    w.Find<TIntegerBox>("FatoryOptBatteryLimitSpin")->Show(2000);  // held at 1024
    w.Find<QSpinBox>("FatoryOptBatteryLimitStartupSpin")->setValue(700);
    w.Find<QSpinBox>("FatoryOptBatteryLimit1Spin")->setValue(640);
    w.Find<QSpinBox>("FatoryOptBatteryLimit2Spin")->setValue(650);
    w.Find<QDoubleSpinBox>("FatoryOptSpanGasSpin")->setValue(50.0);
    w.Find<QDoubleSpinBox>("FatoryOptSensorMaxSpin")->setValue(99.9);
    w.Find<QDoubleSpinBox>("FatoryOptSensorBaseSpin")->setValue(0.5);
    w.Find<QDoubleSpinBox>("FatoryOptDeadZoneSpin")->setValue(2.0);
    w.Find<QSpinBox>("UserOptBumpIntervalSpin")->setValue(3);
    w.Find<QSpinBox>("UserOptCalIntervalSpin")->setValue(180);
    w.Find<QComboBox>("FactoryOptHibernateCombo")->setCurrentIndex(1);
    w.form->FKVTCFG.mUnit.mFWVersion = 21;
    const RKVTCFG c = w.form->CollectCFG(true);
    QCOMPARE(uint16_t{c.mUnit.mBatLimitCritical}, 1024);
    QCOMPARE(uint16_t{c.mUnit.mBatLimitStartUp}, 700);
    QCOMPARE(uint16_t{c.mUnit.mBatLimit[0]}, 640);
    QCOMPARE(uint16_t{c.mUnit.mBatLimit[1]}, 650);
    QCOMPARE(uint16_t{c.mSensor.mSpanGas}, 500);
    QCOMPARE(uint16_t{c.mSensor.mSensorMax}, 999);
    QCOMPARE(uint16_t{c.mSensor.mSensorBase}, 5);
    QCOMPARE(uint16_t{c.mSensor.mDeadZone}, 20);
    QCOMPARE(uint16_t{c.mSensor.mBumpInterval}, 3);
    QCOMPARE(uint32_t{c.mSensor.mCalInterval}, 180u * 86400u);
    QCOMPARE(+c.mUnit.mAllowSuspend, 0x80);
    QCOMPARE(+c.mUnit.mFWVersion, 21);  // for the detector the working record's own byte
  }

  void typedNumberCountsWithoutLeavingTheBox() {
    TestWindow w;
    Activate(w);
    auto* high = w.Find<QDoubleSpinBox>("UserHighAlarmSpin");
    high->setFocus();
    high->selectAll();
    QTest::keyClicks(high, QStringLiteral("42.5"));
    QCOMPARE(uint16_t{w.form->CollectCFG(true).mSensor.mAlarmHigh}, 425);
  }

  void numberBoxesAreGreenWhileFocused() {
    TestWindow w(kFactoryIni);
    Activate(w);
    const QColor normal = QApplication::palette().color(QPalette::Base);
    QWidget* previous = nullptr;
    int focused = 0;
    for (QWidget* box : w.form->NumberBoxes()) {
      // Each page shows its boxes only while it is the current page.
      auto* pages = w.Find<QTabWidget>("PageControl");
      for (int i = 0; i < pages->count(); ++i)
        if (pages->widget(i)->isAncestorOf(box)) pages->setCurrentIndex(i);
      if (!box->isVisible()) continue;  // the user view's boxes are hidden in this view
      box->setFocus();
      QCoreApplication::processEvents();
      QCOMPARE(QApplication::focusWidget(), box);
      QCOMPARE(box->palette().color(QPalette::Base), QColor(0, 255, 0));
      if (previous) QCOMPARE(previous->palette().color(QPalette::Base), normal);
      previous = box;
      ++focused;
    }
    QCOMPARE(focused, 18);  // the factory view's boxes: 7 on "User Options", 11 on "Factory Options"
    w.Find<QLineEdit>("UserOptIDEdit")->setFocus();
    w.Find<QTabWidget>("PageControl")->setCurrentIndex(0);
    w.Find<QLineEdit>("UserOptIDEdit")->setFocus();
    QCoreApplication::processEvents();
    QCOMPARE(previous->palette().color(QPalette::Base), normal);

    // The user view's five boxes do the same in their own view.
    TestWindow u;
    Activate(u);
    for (const char* name : {"UserHighAlarmSpin", "UserLowAlarmSpin", "UserCalIntervalSpin", "UserBumpIntervalSpin",
                             "UserTestIntervalSpin"}) {
      QWidget* box = u.Find<QWidget>(name);
      box->setFocus();
      QCoreApplication::processEvents();
      QCOMPARE(box->palette().color(QPalette::Base), QColor(0, 255, 0));
    }
    u.Find<QLineEdit>("UserIDEdit")->setFocus();
    QCoreApplication::processEvents();
    QCOMPARE(u.Find<QWidget>("UserTestIntervalSpin")->palette().color(QPalette::Base), normal);
  }
};

}  // namespace

QTEST_MAIN(ConfigViewTest)
#include "ConfigViewTest.moc"
