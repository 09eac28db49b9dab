// The help at hand in the main window: a tooltip on every field (its range and unit) and on
// every button (what it changes in the detector or on disk), and the shortcuts of the four
// main actions, named in their buttons' tooltips.
#include "ui/Label3dB.h"
#include "ui/Mains.h"
#include "ui/NumberBoxes.h"

#include <QCheckBox>
#include <QComboBox>
#include <QKeySequence>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QToolButton>

namespace {

void Tip(QWidget* w, const QString& text) {
  if (w) w->setToolTip(text);
}

// The shortcut on the button, named at the end of its tooltip.
void Shortcut(QPushButton* b, const QKeySequence& keys, const QString& text) {
  b->setShortcut(keys);
  b->setToolTip(text + QStringLiteral(" (") + keys.toString(QKeySequence::NativeText) + QLatin1Char(')'));
}

}  // namespace

void TKVTIRMainForm::DescribeControls() {
  // The sensor boxes take their unit with the sensor type (SetSensorRanges).
  const QString alarmWhat = QStringLiteral("The detector alarms when the reading reaches this level.");
  for (TDecimalBox* b : {UserHighAlarmSpin, UserOptHighAlarmSpin})
    b->Describe(QStringLiteral("High Alarm"), {}, alarmWhat + QStringLiteral(" Must be above Low Alarm."));
  for (TDecimalBox* b : {UserLowAlarmSpin, UserOptLowAlarmSpin})
    b->Describe(QStringLiteral("Low Alarm"), {}, alarmWhat + QStringLiteral(" Must be below High Alarm."));
  for (TIntegerBox* b : {UserCalIntervalSpin, UserOptCalIntervalSpin})
    b->Describe(QStringLiteral("Calibration Interval"), QStringLiteral("days"),
                QStringLiteral("Days between calibrations before the detector shows that one is due; 0 switches the reminder off."));
  for (TIntegerBox* b : {UserBumpIntervalSpin, UserOptBumpIntervalSpin})
    b->Describe(QStringLiteral("Bump Interval"), QStringLiteral("days"),
                QStringLiteral("Days between bump tests before the detector shows that one is due; 0 switches the reminder off."));
  for (TIntegerBox* b : {UserTestIntervalSpin, UserOptTestIntervalSpin})
    b->Describe(QStringLiteral("Self Test Interval"), QStringLiteral("hours"),
                QStringLiteral("Hours between the detector's own self tests."));
  UserOptMonthLifeSpin->Describe(QStringLiteral("Life Remaining (months)"), QStringLiteral("months"),
                                 QStringLiteral("With the days: at most 24 months in all; written with the factory view's Write Device."));
  UserOptDayLifeSpin->Describe(QStringLiteral("Life Remaining (days)"), QStringLiteral("days"),
                               QStringLiteral("With the months: at most 24 months in all."));
  const QString battery = QStringLiteral("Battery voltage limit as the detector's converter counts it (raw counts).");
  FatoryOptBatteryLimitSpin->Describe(QStringLiteral("Battery Limit Critical"), QStringLiteral("counts"), battery);
  FatoryOptBatteryLimitStartupSpin->Describe(QStringLiteral("Battery Limit Startup"), QStringLiteral("counts"), battery);
  FatoryOptBatteryLimit1Spin->Describe(QStringLiteral("Battery Limit below -10 °C"), QStringLiteral("counts"), battery);
  FatoryOptBatteryLimit2Spin->Describe(QStringLiteral("Battery Limit from -10 °C"), QStringLiteral("counts"), battery);
  FatoryOptSpanGasSpin->Describe(QStringLiteral("Span Gas"), {},
                                 QStringLiteral("Concentration of the calibration gas; at most the sensor maximum."));
  FatoryOptSensorMaxSpin->Describe(QStringLiteral("Sensor Max"), {}, QStringLiteral("Highest reading the detector shows."));
  FatoryOptSensorBaseSpin->Describe(QStringLiteral("Sensor Base"), {}, QStringLiteral("Reading the detector takes as zero."));
  FatoryOptDeadZoneSpin->Describe(QStringLiteral("Dead Zone"), {},
                                  QStringLiteral("Readings below this are shown as zero."));
  int n = 1;
  for (TIntegerBox* b : {FatoryOptTempComp1Spin, FatoryOptTempComp2Spin, FatoryOptTempComp3Spin})
    b->Describe(QStringLiteral("Temp. Comp. #%1").arg(n++), QStringLiteral("raw"),
                QStringLiteral("Temperature compensation coefficient of the span (signed, no limit)."));

  for (QLineEdit* e : {UserIDEdit, UserOptIDEdit})
    Tip(e, QStringLiteral("User ID: up to 6 characters, A-Z, 0-9, '-' and space; shown on the detector."));
  Tip(UserOptSerialEdit, QStringLiteral("Serial Number: 10 characters, A-Z and 0-9 (lower case becomes a space, "
                                        "short numbers are filled with 0)."));
  Tip(UserOptHWVersionEdit, QStringLiteral("Hardware Version: a whole number 1 to 255."));
  Tip(UserSensorTypeCombo, QStringLiteral("Sensor Type of the detector read; set in the factory view only."));
  Tip(UserOptSensorTypeCombo, QStringLiteral("Sensor Type: sets the range of the alarm and sensor fields."));
  for (QComboBox* c : {UserDispCombo, UserOptDispCombo})
    Tip(c, QStringLiteral("What the detector's display shows."));
  for (QCheckBox* c : {UserHideBumpLEDCheck, UserOptHideBumpLEDCheck})
    Tip(c, QStringLiteral("The detector does not flash its LED when a bump test is due."));
  Tip(FactoryOptHibernateCombo, QStringLiteral("Allow suspend: the detector may be put into hibernation (Hibernate)."));
  const QString seconds = QStringLiteral("In seconds, as the detector counts; --- beyond 2 years.");
  for (TLabel3DBorder* l : {FatoryOptAlarmTimeLabel, FatoryOptTestTimeLabel, FatoryOptLastCalLabel,
                            FatoryOptPeakTimerLabel, FatoryOptLastBumpTimerLabel})
    Tip(l, seconds);
  Tip(FatoryOptZeroLabel, QStringLiteral("Zero: the sensor's raw zero value from the last calibration."));
  Tip(FatoryOptSpanLabel, QStringLiteral("Span: the sensor's gain factor from the last calibration."));
  Tip(FatoryOptMinSpanLabel, QStringLiteral("Minimum Span: the lowest gain factor the detector accepts."));
  Tip(FatoryOptTauLabel, QStringLiteral("Tau: the sensor's response time constant."));

  for (QPushButton* b : {UserReadDeviceBtn, UserOptReadDeviceBtn})
    Shortcut(b, QKeySequence(Qt::CTRL | Qt::Key_R), QStringLiteral("Read the detector's configuration into the form"));
  for (QPushButton* b : {UserWriteDeviceBtn, UserOptWriteDeviceBtn})
    Shortcut(b, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_W),
             QStringLiteral("Write the form's alarm levels, intervals, user ID and display settings into the detector"));
  Shortcut(UserOptWriteDeviceBtn, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_W),
           QStringLiteral("Write the form into the detector: settings, identity, sensor and life remaining"));
  for (QPushButton* b : {UserReadFileBtn, UserOptReadFileBtn})
    Shortcut(b, QKeySequence(Qt::CTRL | Qt::Key_O), QStringLiteral("Load a configuration file into the form"));
  for (QPushButton* b : {UserWriteFileBtn, UserOptWriteFileBtn})
    Shortcut(b, QKeySequence(Qt::CTRL | Qt::Key_S), QStringLiteral("Save the form as a configuration file"));
  for (QPushButton* b : {UserHibernateBtn, UserOptHibernateBtn})
    Tip(b, QStringLiteral("Put the detector into hibernation; this clears its event log"));
  for (QPushButton* b : {UserLogSaveBtn, UserOptLogSaveBtn})
    Tip(b, QStringLiteral("Read the detector's event log and save it as a CSV file"));
  Tip(UserBumpBtn, QStringLiteral("Measured bump test: apply the test gas, time the alarms, then send Pass or Fail"));
  Tip(UserCalBtn, QStringLiteral("Calibrate the detector's sensor with span gas (writes the span gas value)"));
  for (QPushButton* b : {UserHistoryBtn, UserOptHistoryBtn})
    Tip(b, QStringLiteral("The service records of the detectors"));
  for (QToolButton* b : {UserMoreBtn, UserOptMoreBtn})
    Tip(b, QStringLiteral("Compare, Fleet and Production Line"));
  for (QToolButton* b : {UserFMOpenBtn, UserOptFMOpenBtn}) Tip(b, QStringLiteral("Choose a firmware image file"));
  for (QPushButton* b : {UserFMUpgradeBtn, UserOptFMUpgradeBtn})
    Tip(b, QStringLiteral("Replace the detector's firmware with the chosen image"));
  for (QPushButton* b : {UserFMCancelBtn, UserOptFMCancelBtn}) Tip(b, QStringLiteral("Stop the firmware download"));
  Tip(FatoryOptCalBtn, QStringLiteral("Start the detector's zero and span calibration"));
  Tip(FatoryOptTurnOffBtn, QStringLiteral("Switch the detector off"));
  Tip(FatoryOptLogResetBtn, QStringLiteral("Clear the detector's event log (asks first)"));
  Tip(FatoryOptLogSensorBtn, QStringLiteral("Log the detector's live readings"));
  Tip(EtcFactoryResetBtn, QStringLiteral("Reset the detector's settings to the factory values (asks first)"));
  Tip(EtcIdentifyBtn, QStringLiteral("Read the detector's identity; changes nothing"));
  Tip(EtcBeepONBtn, QStringLiteral("Sound the detector's beeper for the output test time"));
  Tip(EtcRLEDONBtn, QStringLiteral("Light the detector's right LED for the output test time"));
  Tip(EtcLLEDONBtn, QStringLiteral("Light the detector's left LED for the output test time"));
  Tip(EtcVibratorBtn, QStringLiteral("Run the detector's vibrator for the output test time"));
  Tip(EtcClearPeakBtn, QStringLiteral("Clear the peak reading the detector keeps"));
  Tip(EtcBumpFailBtn, QStringLiteral("Record a failed bump test in the detector"));
  Tip(EtcBumpPassBtn, QStringLiteral("Record a passed bump test in the detector"));
  Tip(EtcEEPROMReadBtn, QStringLiteral("Read the detector's EEPROM into the grid; changes nothing"));
  Tip(EtcEEPROMSaveBtn, QStringLiteral("Save the grid as a CSV file"));
  Tip(EtcEEPROMSaveLogBtn, QStringLiteral("Read the EEPROM and save its logged values as a CSV file"));
}
