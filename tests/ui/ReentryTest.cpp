// While a long run lets the window take clicks (in a handshake, between packets, polls or
// during a hold), every other button of the window and of the run's dialog does nothing: no
// second operation, no modal dialog, no closed dialog, no stall of the run.
#include "app/Settings.h"
#include "link/KVTComms.h"
#include "model/DeviceUtils.h"
#include "model/SensorTypes.h"
#include "sim/KvtSim.h"
#include "tests/support/SimPort.h"
#include "tests/ui/UiSupport.h"
#include "ui/Label3dB.h"
#include "ui/SensorCals.h"
#include "ui/SensorLogs.h"

#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <chrono>
#include <functional>

namespace {

class ReentryTest : public QObject {
  Q_OBJECT

 private slots:
  void duringEachRunEveryOtherButtonDoesNothing() {
    struct Case {
      const char* name;
      // Starts the run; returns its dialog (or null) through the pointer while it runs.
      std::function<void(TestWindow&, QDialog*&)> run;
      QStringList own;  // the run's own controls, which act during it
    };
    const Case cases[] = {
        {"firmware",
         [](TestWindow& w, QDialog*&) { w.Find<QPushButton>("UserOptFMUpgradeBtn")->click(); },
         {"UserFMCancelBtn", "UserOptFMCancelBtn"}},
        {"output test", [](TestWindow& w, QDialog*&) { w.Find<QPushButton>("EtcBeepONBtn")->click(); }, {}},
        {"calibration",
         [](TestWindow& w, QDialog*& shown) {
           TSensorCalDlg dlg(*w.form->ComKVT, w.op, w.form.get());
           QVERIFY(dlg.PrepareDlg(w.form->FKVTCFG));
           dlg.Clock().SetSpeed(20);
           dlg.show();
           shown = &dlg;
           dlg.CalBtn->click();
           QCOMPARE(dlg.CalLabel2->text(), QString("Calibration ... OK"));
           shown = nullptr;
         },
         {"CalAbortBtn"}},
        {"logging",
         [](TestWindow& w, QDialog*& shown) {
           TSensorLogDlg dlg(*w.form->ComKVT, w.op, w.form.get());
           dlg.Clock().SetSpeed(20);
           dlg.show();
           shown = &dlg;
           int readings = 0;
           dlg.Run().OnReading = [&](const RReadingSet&) {
             if (++readings == 3) dlg.StopBtnClick();
           };
           w.op.saveFile(std::nullopt);
           dlg.StartBtn->click();
           QCOMPARE(readings, 3);
           shown = nullptr;
         },
         {"StopBtn", "CalBtn", "ZeroBtn", "SpanBtn", "CalAbortBtn", "ClearPeakBtn", "BumpPassBtn", "BumpFailBtn"}},
    };
    for (const Case& c : cases) {
      KvtSim::Options o;
      o.config.mUnit.mFWVersion = 12, o.config.mUnit.mHWVersion = 1;
      o.calTimeMs = 300;
      KvtSim::fillCRCs(o.config);
      SimPort port(o);
      TestWindow w(std::string(kFactoryIni) + "AVOperate=300\r\n");
      const std::vector<uint8_t> image = KvtSim::makeFirmwareImage(o);
      w.dir.write("fw.img", std::string(image.begin(), image.end()));
      w.form->LoadUpgradeFile(w.dir.path() + "fw.img", true);
      w.Find<QPushButton>("UserOptReadDeviceBtn")->click();  // the dialogs open for what was read
      // From here each handshake is long enough for the window to take clicks in it.
      port.sim().modifyOptions([](KvtSim::Options& x) { x.ignoreConnects = 150; });
      w.op.clear();

      QDialog* dialog = nullptr;
      bool modalOpened = false;
      QTimer watchdog;  // a modal box opened by a click would wait for ever
      connect(&watchdog, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal != dialog) modalOpened = true, static_cast<QDialog*>(modal)->reject();
      });
      watchdog.start(20);

      int bursts = 0, ignored = 0;
      auto longest = std::chrono::steady_clock::duration{};
      const auto burst = [&] {
        const auto start = std::chrono::steady_clock::now();
        const size_t events = w.op.events().size(), frames = port.sim().received().size();
        std::vector<QAbstractButton*> buttons;
        for (QAbstractButton* b : w.form->findChildren<QPushButton*>()) buttons.push_back(b);
        for (QAbstractButton* b : w.form->findChildren<QToolButton*>()) buttons.push_back(b);
        if (dialog)
          for (QAbstractButton* b : dialog->findChildren<QPushButton*>()) buttons.push_back(b);
        for (QAbstractButton* b : buttons)
          if (!c.own.contains(b->objectName())) emit b->clicked();  // even a disabled one's queued click
        if (dialog) dialog->reject(), dialog->close();
        ++bursts;
        longest = std::max(longest, std::chrono::steady_clock::now() - start);
        ignored += events == w.op.events().size() && frames == port.sim().received().size() &&
                   (!dialog || dialog->isVisible());
      };
      bool inHandshake = false, inRun = false;
      w.form->ComKVT->IdleHook = [&] {
        if (!inHandshake) inHandshake = true, burst();
        QCoreApplication::processEvents();
      };
      // In the run proper: once it has sent more than the handshake and the reads.
      const auto begun = [&] {
        for (const KvtSim::Frame& f : port.sim().received())
          if (f.what != "B2" && f.what != "B3" && f.what != "A0" && f.what != "5F" && f.what != "50" && f.what != "81")
            return true;
        return false;
      };
      w.op.onPump = [&] {
        if (!inRun && begun()) inRun = true, burst();
      };

      c.run(w, dialog);
      QVERIFY2(inHandshake && inRun, c.name);
      QCOMPARE(ignored, bursts);
      QVERIFY2(!modalOpened, c.name);
      // The clicks cost the run no gap between its frames (a modal box took 1.5 s).
      QVERIFY2(longest < std::chrono::milliseconds(100), c.name);
    }
  }
};

}  // namespace

QTEST_MAIN(ReentryTest)
#include "ReentryTest.moc"
