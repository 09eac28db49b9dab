// The main window: its regions and controls, the view of each mode, start-up and close.
#include "app/core/IniFile.h"
#include "app/core/Settings.h"
#include "link/KVTComms.h"
#include "model/SensorTypes.h"
#include "tests/ui/UiSupport.h"
#include "ui/Application.h"
#include "ui/Label3dB.h"
#include "ui/Logo.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>

#include <climits>
#include <filesystem>

namespace {

struct ButtonSpec {
  const char* name;
  const char* caption;
};

const ButtonSpec kButtons[] = {
    {"UserReadFileBtn", "Read File"},          {"UserReadDeviceBtn", "Read Device"},
    {"UserWriteFileBtn", "Write File"},        {"UserWriteDeviceBtn", "Write Device"},
    {"UserHibernateBtn", "Hibernate"},         {"UserLogSaveBtn", "Save Event Log"},
    {"UserCalBtn", "Sensor Calibration"},      {"UserFMUpgradeBtn", "Upgrade Firmware"},
    {"UserFMCancelBtn", "Cancel"},             {"UserOptReadFileBtn", "Read File"},
    {"UserOptReadDeviceBtn", "Read Device"},   {"UserOptWriteFileBtn", "Write File"},
    {"UserOptWriteDeviceBtn", "Write Device"}, {"UserOptHibernateBtn", "Hibernate"},
    {"UserOptLogSaveBtn", "Save Event Log"},   {"UserOptFMUpgradeBtn", "Upgrade Firmware"},
    {"UserOptFMCancelBtn", "Cancel"},          {"FatoryOptCalBtn", "Calibration"},
    {"FatoryOptTurnOffBtn", "Turn Off"},       {"FatoryOptLogResetBtn", "Log Reset"},
    {"FatoryOptLogSensorBtn", "Log Readings"}, {"EtcFactoryResetBtn", "Factory Reset"},
    {"EtcIdentifyBtn", "Identify"},            {"EtcBeepONBtn", "Beep ON"},
    {"EtcRLEDONBtn", "R LED ON"},              {"EtcLLEDONBtn", "L LED ON"},
    {"EtcVibratorBtn", "Vibrator"},            {"EtcClearPeakBtn", "Clear Peak"},
    {"EtcBumpFailBtn", "Bump Fail"},           {"EtcBumpPassBtn", "Bump Pass"},
    {"EtcEEPROMReadBtn", "Read"},              {"EtcEEPROMSaveBtn", "Save File"},
    {"EtcEEPROMSaveLogBtn", "Read/Save Log"},
};

struct RangeSpec {
  const char* name;
  double min, max;
  int decimals;  // -1: whole number box
  double initial;
};

const RangeSpec kRanges[] = {
    {"UserHighAlarmSpin", 0, 100, 1, -1},           {"UserLowAlarmSpin", 0, 100, 1, -1},
    {"UserCalIntervalSpin", 0, 365, -1, -1},        {"UserBumpIntervalSpin", 0, 365, -1, -1},
    {"UserTestIntervalSpin", 6, 24, -1, 20},        {"UserOptMonthLifeSpin", 0, 24, -1, -1},
    {"UserOptDayLifeSpin", 0, 31, -1, -1},          {"UserOptHighAlarmSpin", 0, 100, 1, -1},
    {"UserOptLowAlarmSpin", 0, 100, 1, -1},         {"UserOptCalIntervalSpin", 0, 365, -1, -1},
    {"UserOptBumpIntervalSpin", 0, 365, -1, -1},    {"UserOptTestIntervalSpin", 6, 24, -1, 20},
    {"FatoryOptBatteryLimitSpin", 0, 1024, -1, -1}, {"FatoryOptBatteryLimitStartupSpin", 0, 1024, -1, -1},
    {"FatoryOptBatteryLimit1Spin", 0, 1024, -1, -1}, {"FatoryOptBatteryLimit2Spin", 0, 1024, -1, -1},
    {"FatoryOptSpanGasSpin", 0, 100, 1, -1},        {"FatoryOptSensorMaxSpin", 0, 100, 1, -1},
    {"FatoryOptSensorBaseSpin", 0, 100, 1, -1},     {"FatoryOptDeadZoneSpin", 0, 100, 1, -1},
    {"FatoryOptTempComp1Spin", INT_MIN, INT_MAX, -1, -1},
    {"FatoryOptTempComp2Spin", INT_MIN, INT_MAX, -1, -1},
    {"FatoryOptTempComp3Spin", INT_MIN, INT_MAX, -1, -1},
};

const char* const kDisplays[] = {
    "UserHWVersionLabel",      "UserSWVersionLabel",       "UserSerialLabel",       "UserMonthLifeLabel",
    "UserDayLifeLabel",        "UserFMFileLabel",          "UserOptIDLabel",        "UserOptSWVersionLabel",
    "UserOptFMFileLabel",      "FatoryOptAlarmTimeLabel",  "FatoryOptAlarmCountLabel", "FatoryOptTestTimeLabel",
    "FatoryOptTestCountLabel", "FatoryOptZeroLabel",       "FatoryOptSpanLabel",    "FatoryOptMinSpanLabel",
    "FatoryOptTauLabel",       "FatoryOptLastCalLabel",    "FatoryOptPeakTimerLabel", "FatoryOptLastBumpTimerLabel",
    "StatusLabel",             "StatusTimeLabel",          "CustomerLabel",         "CustomerUrlLabel",
};

QStringList Items(const QComboBox* c) {
  QStringList items;
  for (int i = 0; i < c->count(); ++i) items << c->itemText(i);
  return items;
}

// Row captions of a view, top to bottom, read from the caption labels it holds.
QStringList Captions(QWidget* view) {
  QList<TLabel3DBorder*> labels = view->findChildren<TLabel3DBorder*>();
  std::stable_sort(labels.begin(), labels.end(), [view](TLabel3DBorder* a, TLabel3DBorder* b) {
    return a->mapTo(view, QPoint()).y() < b->mapTo(view, QPoint()).y();
  });
  QStringList captions;
  for (TLabel3DBorder* l : labels)
    if (l->text().startsWith(QLatin1String("  "))) captions << l->text();
  return captions;
}

// Takes the addresses the window hands to the desktop instead of starting a browser.
class UrlCatcher : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> urls;
 public slots:
  void open(const QUrl& url) { urls << url; }
};

class MainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void windowFrame() {
    // A display name of its own would be appended to every caption and box title by the desktop.
    SetApplicationTitle();
    QCoreApplication::setApplicationName(QStringLiteral("probe"));
    QCOMPARE(QGuiApplication::applicationDisplayName(), QStringLiteral("probe"));
    SetApplicationTitle();
    TestWindow w;
    QCOMPARE(w.form->windowTitle(), QStringLiteral("QRB BEAMDOCK - Vaporlet [ver 1.3.1.1]"));
    QCOMPARE(w.form->minimumSize(), QSize(500, 580));
    QVERIFY(!(w.form->windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(w.form->windowFlags() & Qt::WindowMinimizeButtonHint);
    QCOMPARE(w.form->palette().color(QPalette::Window), QColor(244, 244, 244));
    QCOMPARE(w.form->font().family(), QStringLiteral("Arial"));
    QCOMPARE(w.form->font().pixelSize(), 13);
    // No [WINDOW] yet: the default outer size, 500 x 750, with the inside kept at its minimum width.
    QCOMPARE(w.form->frameGeometry().height(), 750);
    QCOMPARE(w.form->width(), 500);
    // Smaller than the minimum cannot be made.
    w.form->resize(300, 300);
    QCOMPARE(w.form->size(), QSize(500, 580));
  }

  void regions() {
    TestWindow w;
    auto* status = w.Find<QWidget>("StatusPanel");
    QCOMPARE(status->height(), 28);
    auto* time = w.Find<TLabel3DBorder>("StatusTimeLabel");
    QCOMPARE(time->width(), 120);
    QCOMPARE(time->BorderStyle(), TLabel3DBorder::bsRaisedFrame);
    QCOMPARE(w.Find<TLabel3DBorder>("StatusLabel")->BorderStyle(), TLabel3DBorder::bsRaisedFrame);
    auto* customer = w.Find<QWidget>("CustomerPanel");
    QCOMPARE(customer->height(), 88);
    QCOMPARE(customer->palette().color(QPalette::Window), QColor(Qt::white));
    // Bottom edge: status bar, then the contact panel above it.
    QCOMPARE(status->geometry().bottom(), w.form->centralWidget()->height() - 1);
    QCOMPARE(customer->geometry().bottom() + 1, status->geometry().top());
    auto* logo = w.Find<TLogoImage>("CustomerImage");
    QCOMPARE(logo->size(), QSize(205, 61));
    auto* url = w.Find<TLabel3DBorder>("CustomerUrlLabel");
    QVERIFY(url->text().contains(QLatin1Char('@')));
    QVERIFY(url->font().underline());
    QCOMPARE(url->palette().color(QPalette::WindowText), QColor(Qt::blue));
    QCOMPARE(url->cursor().shape(), Qt::PointingHandCursor);
    QCOMPARE(w.Find<TLabel3DBorder>("CustomerLabel")->text().count(QLatin1Char('\n')), 3);  // four lines
    auto* memo = w.Find<QPlainTextEdit>("Memo");
    QCOMPARE(memo->width(), 280);
    QVERIFY(memo->isReadOnly());
    QCOMPARE(memo->font().pixelSize(), 11);
  }

  void logoCursorFollowsTheMouse() {
    TestWindow w;
    auto* logo = w.Find<TLogoImage>("CustomerImage");
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(logo, &enter);
    QCOMPARE(logo->cursor().shape(), Qt::PointingHandCursor);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(logo, &leave);
    QCOMPARE(logo->cursor().shape(), Qt::ArrowCursor);
  }

  void logoAndAddressOpenTheDesktopsHandler() {
    TestWindow w;
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "open");
    QDesktopServices::setUrlHandler(QStringLiteral("mailto"), &catcher, "open");
    QTest::mouseClick(w.Find<TLogoImage>("CustomerImage"), Qt::LeftButton, {}, QPoint(20, 20));
    QTest::mouseClick(w.Find<TLabel3DBorder>("CustomerUrlLabel"), Qt::LeftButton, {}, QPoint(5, 5));
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("mailto"));
    QCOMPARE(catcher.urls.size(), 2);
    QCOMPARE(catcher.urls[0].scheme(), QStringLiteral("https"));
    QCOMPARE(catcher.urls[1].scheme(), QStringLiteral("mailto"));
    QCOMPARE(catcher.urls[1].path(), w.Find<TLabel3DBorder>("CustomerUrlLabel")->text());
  }

  void everyControlWithItsCaption() {
    TestWindow w;
    for (const ButtonSpec& b : kButtons) {
      auto* button = w.Find<QPushButton>(b.name);
      QVERIFY2(button, b.name);
      QCOMPARE(button->text(), QString::fromLatin1(b.caption));
    }
    for (const char* name : kDisplays) QVERIFY2(w.Find<TLabel3DBorder>(name), name);
    for (const char* name : {"UserIDEdit", "UserOptIDEdit", "UserOptSerialEdit", "UserOptHWVersionEdit"})
      QVERIFY2(w.Find<QLineEdit>(name), name);
    QCOMPARE(w.Find<QLineEdit>("UserIDEdit")->maxLength(), 6);
    QCOMPARE(w.Find<QLineEdit>("UserOptIDEdit")->maxLength(), 6);
    QCOMPARE(w.Find<QLineEdit>("UserOptSerialEdit")->maxLength(), 10);
    for (const char* name : {"UserFMOpenBtn", "UserOptFMOpenBtn"}) {
      auto* open = w.Find<QToolButton>(name);
      QVERIFY2(open && open->text().isEmpty() && !open->icon().isNull(), name);
    }
    for (const char* name : {"UserFMProgressBar", "UserOptFMProgressBar"}) QVERIFY2(w.Find<QProgressBar>(name), name);
    for (const char* name : {"UserLogPanel", "UserCalPanel", "UserFMPanel", "UserOptLogPanel", "UserOptFMPanel"})
      QVERIFY2(w.Find<QGroupBox>(name), name);
    QCOMPARE(w.Find<QGroupBox>("EtcEEPROMGB")->title(), QStringLiteral("EEPROM"));
    for (const char* name : {"UserHideBumpLEDCheck", "UserOptHideBumpLEDCheck"})
      QCOMPARE(w.Find<QCheckBox>(name)->text(), QStringLiteral("Hide bump due LED flashing"));
    // The calibration button is on the factory page, not on "User Options".
    QVERIFY(!w.Find<QWidget>("UserTS")->findChild<QPushButton*>(QStringLiteral("UserCalBtn")));
  }

  void numberBoxesWithRangesAndStartValues() {
    TestWindow w;
    for (const RangeSpec& r : kRanges) {
      if (r.decimals < 0) {
        auto* box = w.Find<TIntegerBox>(r.name);
        QVERIFY2(box, r.name);
        QCOMPARE(static_cast<int>(box->FieldMin()), static_cast<int>(r.min));
        QCOMPARE(static_cast<int>(box->FieldMax()), static_cast<int>(r.max));
        QCOMPARE(box->singleStep(), 1);
        if (r.initial >= 0) QCOMPARE(box->value(), static_cast<int>(r.initial));
      } else {
        auto* box = w.Find<TDecimalBox>(r.name);
        QVERIFY2(box, r.name);
        QCOMPARE(box->decimals(), r.decimals);
        QCOMPARE(box->FieldMin(), r.min);
        QCOMPARE(box->FieldMax(), r.max);  // the built-in H2S range once shown
        QCOMPARE(box->singleStep(), 1.0);
      }
    }
    QCOMPARE(static_cast<int>(w.form->NumberBoxes().size()), 23);
  }

  void listsAndStartStates() {
    TestWindow w;
    const QStringList disp = {QStringLiteral("Sensor/Life Remaining"), QStringLiteral("Sensor Reading"),
                              QStringLiteral("Life Remaining")};
    QCOMPARE(Items(w.Find<QComboBox>("UserDispCombo")), disp);
    QCOMPARE(Items(w.Find<QComboBox>("UserOptDispCombo")), disp);
    QCOMPARE(w.Find<QComboBox>("UserDispCombo")->currentIndex(), 0);
    QCOMPARE(Items(w.Find<QComboBox>("FactoryOptHibernateCombo")), (QStringList{QString(), QStringLiteral("Allow suspend")}));
    QCOMPARE(w.Find<QComboBox>("FactoryOptHibernateCombo")->currentIndex(), 0);
    for (const char* name : {"UserFMUpgradeBtn", "UserFMCancelBtn", "UserOptFMUpgradeBtn", "UserOptFMCancelBtn"})
      QVERIFY2(!w.Find<QPushButton>(name)->isEnabled(), name);
    for (const char* name : {"UserFMDescLabel", "UserOptFMDescLabel"})
      QCOMPARE(w.Find<TLabel3DBorder>(name)->text(), QStringLiteral("KVT Firmware Upgrade ... Select File"));
    int tag = 1;
    for (const char* name : {"EtcBeepONBtn", "EtcRLEDONBtn", "EtcLLEDONBtn", "EtcVibratorBtn"})
      QCOMPARE(w.Find<QPushButton>(name)->property("tag").toInt(), tag++);
    tag = 1;
    for (const char* name : {"EtcClearPeakBtn", "EtcBumpFailBtn", "EtcBumpPassBtn"})
      QCOMPARE(w.Find<QPushButton>(name)->property("tag").toInt(), tag++);
  }

  void rowCaptionsInOrder() {
    TestWindow user;
    const QStringList userCaptions = Captions(user.Find<QWidget>("UserScrollBox"));
    TestWindow w(kFactoryIni);
    QCOMPARE(userCaptions,
             (QStringList{"  Hardware Version", "  Firmware Version", "  Serial Number", "  Life Remaining",
                          "  Sensor Type", "  High Alarm", "  Low Alarm", "  Calibration Interval", "  Bump Interval",
                          "  User ID", "  Self Test Interval", "  Display"}));
    QCOMPARE(Captions(w.Find<QWidget>("UserTS")), userCaptions);
    // Positions are only known once the page has been shown.
    w.Find<QTabWidget>("PageControl")->setCurrentIndex(1);
    QCoreApplication::processEvents();
    QCOMPARE(Captions(w.Find<QWidget>("FactoryTS")),
             (QStringList{"  Battery Limits", "  Alarm Time (sec)", "  Alarm Count", "  Test Time (sec)",
                          "  Test Count", "  Hibernate", "  Sensor", "  Temp. Comp.", "  Zero", "  Span",
                          "  Minimum Span", "  Tau", "  Last Calibration (sec)", "  Peak Timer (sec)",
                          "  Last Bump Timer (sec)"}));
    // Column headings sit above their boxes.
    auto* page = w.Find<QWidget>("FactoryTS");
    const auto headingOver = [&](const char* heading, const char* box) {
      for (TLabel3DBorder* l : page->findChildren<TLabel3DBorder*>()) {
        if (l->text() != QString::fromUtf8(heading)) continue;
        QWidget* b = w.Find<QWidget>(box);
        const QRect lr(l->mapTo(page, QPoint()), l->size());
        const QRect br(b->mapTo(page, QPoint()), b->size());
        return lr.bottom() < br.top() && qAbs(lr.center().x() - br.center().x()) <= 4;
      }
      return false;
    };
    QVERIFY(headingOver("Critical", "FatoryOptBatteryLimitSpin"));
    QVERIFY(headingOver("Startup", "FatoryOptBatteryLimitStartupSpin"));
    QVERIFY(headingOver("~-10℃", "FatoryOptBatteryLimit1Spin"));
    QVERIFY(headingOver("- 10℃~ ", "FatoryOptBatteryLimit2Spin"));
    QVERIFY(headingOver("Span Gas", "FatoryOptSpanGasSpin"));
    QVERIFY(headingOver("Dead Zone", "FatoryOptDeadZoneSpin"));
    QVERIFY(headingOver("#1", "FatoryOptTempComp1Spin"));
    QVERIFY(headingOver("#3", "FatoryOptTempComp3Spin"));
  }

  void userViewWithoutSettings() {
    TestWindow w;
    QVERIFY(!FactoryMode);
    QVERIFY(w.Find<QScrollArea>("UserScrollBox")->isVisible());
    QVERIFY(!w.Find<QScrollArea>("DevScrollBox")->isVisible());
    QVERIFY(!w.Find<QComboBox>("UserSensorTypeCombo")->isEnabled());
    // Without [SENSOR] both lists hold the built-in table.
    const QStringList builtIn = {QStringLiteral("H2S"), QStringLiteral("CO"), QStringLiteral("O2")};
    QCOMPARE(Items(w.Find<QComboBox>("UserSensorTypeCombo")), builtIn);
    QCOMPARE(Items(w.Find<QComboBox>("UserOptSensorTypeCombo")), builtIn);
    QVERIFY(!w.Find<QPlainTextEdit>("Memo")->isVisible());
    // Start-up made the folders in the start folder, not anywhere else.
    QVERIFY(w.dir.isDir("EVENT"));
    QVERIFY(w.dir.isDir("Configure"));
    QVERIFY(w.dir.isDir("IMG"));
    QCOMPARE(w.form->OpenDialog.folder, w.dir.path());
  }

  void factoryViewOpensOnTheFirstPage() {
    TestWindow w(kFactoryIni);
    QVERIFY(FactoryMode);
    QVERIFY(!w.Find<QScrollArea>("UserScrollBox")->isVisible());
    QVERIFY(w.Find<QScrollArea>("DevScrollBox")->isVisible());
    auto* pages = w.Find<QTabWidget>("PageControl");
    QCOMPARE(pages->count(), 3);
    QCOMPARE(pages->tabText(0), QStringLiteral("User Options"));
    QCOMPARE(pages->tabText(1), QStringLiteral("Factory Options"));
    QCOMPARE(pages->tabText(2), QStringLiteral("TEST"));
    QCOMPARE(pages->currentWidget(), w.Find<QWidget>("UserTS"));
    QVERIFY(w.Find<QComboBox>("UserOptSensorTypeCombo")->isEnabled());
    QVERIFY(w.dir.isDir("EEPROM"));
    QVERIFY(w.dir.isDir("DAT"));

    pages->setCurrentIndex(2);
    w.form->close();
    w.Restart();
    QCOMPARE(w.Find<QTabWidget>("PageControl")->currentIndex(), 0);
  }

  void lowerCaseModeEntryIsTheUserView() {
    TestWindow w("[Environment]\r\nModeEntry=mrw_tqp__\r\n");
    QVERIFY(!FactoryMode);
    QVERIFY(w.Find<QScrollArea>("UserScrollBox")->isVisible());
  }

  void sensorTypesFromTheSettingsFile() {
    TestWindow w(std::string(kFactoryIni) + "[SENSOR]\r\nNH3=7,ppm,N,120,0,0\r\nCL2=9,ppb,C,90,0,20\r\n");
    QCOMPARE(Items(w.Find<QComboBox>("UserOptSensorTypeCombo")), (QStringList{"NH3", "CL2"}));
    QCOMPARE(Items(w.Find<QComboBox>("UserSensorTypeCombo")), (QStringList{"NH3", "CL2"}));
    // The default configuration's sensor code 1 is in neither row: no selection.
    QCOMPARE(w.Find<QComboBox>("UserOptSensorTypeCombo")->currentIndex(), -1);
    // The alarm levels carry the unit of the type chosen.
    w.Find<QComboBox>("UserOptSensorTypeCombo")->setCurrentIndex(1);
    for (const char* unit : {"UserHighAlarmUnitLabel", "UserLowAlarmUnitLabel", "UserOptHighAlarmUnitLabel"})
      QCOMPARE(w.Find<TLabel3DBorder>(unit)->text(), QStringLiteral("ppb"));
  }

  void eepromGridFollowsTheSettings() {
    TestWindow w(std::string(kFactoryIni) + "[EEPROM]\r\nMaxAddress=1000\r\n");
    auto* grid = w.Find<QTableWidget>("EtcEEPROMGrid");
    QCOMPARE(grid->columnCount(), 17);
    QCOMPARE(grid->rowCount(), 62);
    QCOMPARE(grid->item(0, 0)->text(), QStringLiteral("0000"));
    QCOMPARE(grid->item(61, 0)->text(), QStringLiteral("03D0"));
    QCOMPARE(grid->item(61, 16)->text(), QStringLiteral("FF"));
    QCOMPARE(grid->columnWidth(0), 44);
    for (int c = 1; c <= 16; ++c) QCOMPARE(grid->columnWidth(c), 22);
    QVERIFY(!(grid->item(3, 0)->flags() & Qt::ItemIsEditable));  // the address column is fixed
    QVERIFY(grid->item(3, 5)->flags() & Qt::ItemIsEditable);
  }

  void traceMemoOnlyWithTheTrace() {
    {
      TestWindow w("[ETC]\r\nLogEnable=true\r\n");
      QVERIFY(!w.Find<QPlainTextEdit>("Memo")->isVisible());
      QVERIFY(!w.form->ComKVT->FOnKVTEvent);
      // Lines still collect (the firmware download adds its own) but nothing is saved.
      w.form->memoLine("12:00:00:000 progress");
      w.form->close();
      QVERIFY(!w.dir.exists("Comm.TXT"));
    }
    {
      TestWindow w("[ETC]\r\nLogEnable=1\r\n");
      QVERIFY(w.Find<QPlainTextEdit>("Memo")->isVisible());
      QVERIFY(static_cast<bool>(w.form->ComKVT->FOnKVTEvent));
      const auto when = std::chrono::system_clock::now();
      w.form->ComKVT->FOnKVTEvent(w.form->ComKVT.get(), when, "Send : B2 75 80");
      QCOMPARE(w.form->MemoLines().size(), size_t{1});
      const std::string line = w.form->MemoLines()[0];
      QVERIFY(line.size() == 13 + 15 && line.substr(12) == " Send : B2 75 80");
      QCOMPARE(w.Find<QPlainTextEdit>("Memo")->toPlainText(), QString::fromStdString(line));
      w.form->close();
      QCOMPARE(w.dir.read("Comm.TXT"), line + "\r\n");
    }
  }

  void failedTraceSaveIsReportedAndTheWindowStillCloses() {
    TestWindow w("[ETC]\r\nLogEnable=1\r\n");
    std::filesystem::create_directory(w.dir.path() + "Comm.TXT");  // cannot be replaced by a file
    w.form->memoLine("line");
    QVERIFY(w.form->close());
    QCOMPARE(w.op.messages().size(), size_t{1});
    QCOMPARE(w.op.messages()[0].icon, MessageIcon::Error);
    QVERIFY(!w.op.messages()[0].text.empty());
    QVERIFY(w.dir.read("BEAMDOCK.INI").find("[WINDOW]") != std::string::npos);  // geometry still saved
  }

  void closeIsRefusedDuringAFirmwareDownload() {
    TestWindow w("[ETC]\r\nLogEnable=1\r\n");
    const std::string before = w.dir.read("BEAMDOCK.INI");
    w.form->memoLine("line");
    w.form->FUpgrade = true;
    QVERIFY(!w.form->close());
    QVERIFY(w.form->isVisible());
    QCOMPARE(w.dir.read("BEAMDOCK.INI"), before);
    QVERIFY(!w.dir.exists("Comm.TXT"));
    w.form->FUpgrade = false;
    QVERIFY(w.form->close());
    QVERIFY(w.dir.exists("Comm.TXT"));
  }

  void geometryIsWrittenAtCloseAndRestoredAtTheNextStart() {
    TestWindow w;
    w.form->resize(620, 700);
    w.form->move(30, 40);
    QCoreApplication::processEvents();
    const QRect outer = w.form->frameGeometry();  // the settings hold the outer size
    QCOMPARE(outer.topLeft(), QPoint(30, 40));
    QVERIFY(w.form->close());
    TIniFile ini(w.dir.path() + "BEAMDOCK.INI");
    QCOMPARE(ini.ReadInteger("WINDOW", "WIDTH", 0), outer.width());
    QCOMPARE(ini.ReadInteger("WINDOW", "HEIGHT", 0), outer.height());
    QCOMPARE(ini.ReadInteger("WINDOW", "LEFT", -1), 30);
    QCOMPARE(ini.ReadInteger("WINDOW", "TOP", -1), 40);
    w.Restart();
    QCOMPARE(w.form->frameGeometry(), outer);
    QCOMPARE(w.form->size(), QSize(620, 700));
    // On a desktop the frame may be known only after the restore; a start and a close still
    // give back the numbers read.
    const auto saved = ini.ReadSectionValues("WINDOW");
    w.Restart(false);
    w.form->FormActivate();
    w.form->show();
    QVERIFY(w.form->close());
    QCOMPARE(ini.ReadSectionValues("WINDOW"), saved);
  }

  void unusableGeometryGivesAVisibleWindow() {
    TestWindow w("[WINDOW]\r\nWIDTH=wide\r\nHEIGHT=100\r\nLEFT=-50000\r\nTOP=-50000\r\n");
    QCOMPARE(w.form->width(), 500);   // not an integer: the default
    QCOMPARE(w.form->height(), 580);  // below the minimum
    QVERIFY(QGuiApplication::screenAt(w.form->geometry().center()) != nullptr);
  }

  void statusLineColours() {
    TestWindow w;
    auto* status = w.Find<TLabel3DBorder>("StatusLabel");
    QCOMPARE(status->text(), QString());  // starts empty
    w.form->showStatus(StatusColour::Running, "Read KVT Information...");
    QCOMPARE(status->text(), QStringLiteral("Read KVT Information..."));
    QCOMPARE(status->Color(), QColor(255, 255, 255));
    QCOMPARE(status->palette().color(QPalette::WindowText), QColor(Qt::black));
    w.form->showStatus(StatusColour::Success, "Read KVT Information... OK");
    QCOMPARE(status->Color(), QColor(0, 255, 0));
    QCOMPARE(status->palette().color(QPalette::WindowText), QColor(Qt::black));
    w.form->showStatus(StatusColour::Failure, "Load Event Log... FAIL");
    QCOMPARE(status->Color(), QColor(255, 0, 0));
    QCOMPARE(status->palette().color(QPalette::WindowText), QColor(Qt::white));
    QCOMPARE(status->VerticalAlign(), TLabel3DBorder::vaCenter);
    QVERIFY(status->alignment() & Qt::AlignHCenter);
  }

  void clockRunsAfterTheFirstActivation() {
    TestWindow w({}, false);
    auto* timer = w.form->findChild<QTimer*>(QStringLiteral("TimeTimer"));
    QVERIFY(timer && !timer->isActive());
    QVERIFY(w.form->FFirst);
    w.form->show();
    QCoreApplication::processEvents();
    QVERIFY(!w.form->FFirst);
    QVERIFY(timer->isActive());
    QCOMPARE(timer->interval(), 1000);
    const QString text = w.Find<TLabel3DBorder>("StatusTimeLabel")->text();
    QVERIFY2(QRegularExpression(QStringLiteral("^\\d\\d-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$")).match(text).hasMatch(),
             qPrintable(text));
  }

  void fileDialogs() {
    TestWindow w;
    const TKVTIRMainForm& f = *w.form;
    QCOMPARE(f.OpenDialog.title, std::string("Open Configuration File"));
    QCOMPARE(f.SaveDialog.title, std::string("Save Configuration File"));
    QCOMPARE(f.OpenFMDialog.title, std::string("Select Firmware Upgrade File"));
    QCOMPARE(f.SaveCSVDialog.title, std::string("Save Configuration File"));
    QCOMPARE(f.OpenDialog.filter, std::string("configuration file|*.cfg"));
    QCOMPARE(f.OpenFMDialog.filter, std::string("Image File|*.img"));
    QCOMPARE(f.SaveCSVDialog.filter, std::string("Data file|*.csv"));
    QCOMPARE(f.OpenDialog.defaultExt, std::string("cfg"));
    QCOMPARE(f.OpenFMDialog.defaultExt, std::string("cfg"));
    QCOMPARE(f.SaveCSVDialog.defaultExt, std::string("csv"));
    for (const FileRequest* r : {&f.OpenDialog, &f.SaveDialog, &f.OpenFMDialog, &f.SaveCSVDialog})
      QCOMPARE(r->folder, w.dir.path());
  }

  // The window's own boxes: the text's '\r' as line breaks, the icon, one OK button.
  void messageBoxesOfTheWindow() {
    TestWindow w;
    w.form->SetOperator(nullptr);
    QString text;
    QString title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      QVERIFY(box);
      text = box->text();
      title = box->windowTitle();
      icon = box->icon();
      QCOMPARE(box->buttons().size(), 1);
      box->accept();
    });
    w.form->message(MessageIcon::Error, "Load Event Log", "KVT connect error\rCheck BEAMDOCK and KVT connection");
    QCOMPARE(text, QStringLiteral("KVT connect error\nCheck BEAMDOCK and KVT connection"));
    QCOMPARE(title, QStringLiteral("Load Event Log"));
    QCOMPARE(icon, QMessageBox::Critical);

    QTimer::singleShot(0, [] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      QVERIFY(box);
      box->button(QMessageBox::Yes)->click();
    });
    QVERIFY(w.form->ask("Hibernate", "Hibernate KVT?"));
    QTimer::singleShot(0, [] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      QVERIFY(box);
      box->button(QMessageBox::No)->click();
    });
    QVERIFY(!w.form->ask("Hibernate", "Hibernate KVT?"));

    // A box is as wide as its title needs.
    const QString long_title = QStringLiteral("Read Configuration File");
    int width = 0;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      QVERIFY(box);
      width = box->width();
      box->accept();
    });
    w.form->message(MessageIcon::Information, long_title.toStdString(), "OK");
    QVERIFY(width > QFontMetrics(QApplication::font("QMdiSubWindowTitleBar")).horizontalAdvance(long_title) + 60);
  }

  // A second start knocks: the running window comes back from the task bar.
  void secondStartBringsTheWindowForward() {
    TestWindow w;
    const std::string lockFile = w.dir.path() + "KVTBEAMDOCK";
    ListenForSecondStarts(lockFile, w.form.get());
    w.form->showMinimized();
    QCoreApplication::processEvents();
    QVERIFY(w.form->isMinimized());
    QVERIFY(KnockOnRunningCopy(lockFile));
    QTRY_VERIFY(!w.form->isMinimized());
    QVERIFY(!KnockOnRunningCopy(w.dir.path() + "nobody"));
  }

  void handlerExceptionsBecomeOneErrorBox() {
    TestWindow w;
    QVERIFY(!w.form->Guarded([] { throw std::runtime_error("broken"); }));
    QCOMPARE(w.op.messages().size(), size_t{1});
    QCOMPARE(w.op.messages()[0].icon, MessageIcon::Error);
    QCOMPARE(w.op.messages()[0].text, std::string("broken"));
    QVERIFY(w.form->Guarded([] {}));
    QCOMPARE(w.op.messages().size(), size_t{1});
  }

  void simulatedDetectorIsMarked() {
    TestWindow w;
    auto* marker = w.Find<TLabel3DBorder>("SimulatedLabel");
    QVERIFY(!marker->isVisible());
    w.form->MarkSimulated("/dev/pts/9");
    QVERIFY(marker->isVisible());
    QCOMPARE(marker->text(), QStringLiteral("SIMULATED DETECTOR"));
    QVERIFY(w.form->windowTitle().endsWith(QStringLiteral("SIMULATED DETECTOR")));
  }
};

}  // namespace

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
