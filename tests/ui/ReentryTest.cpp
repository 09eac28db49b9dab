// While a long run lets the window take clicks (in a handshake, between packets, polls or
// during a hold), every other button of the window and of the run's dialog does nothing: no
// second operation, no modal dialog, no closed dialog, no stall of the run.
#include "link/KVTComms.h"
#include "sim/KvtSim.h"
#include "tests/support/SimPort.h"
#include "tests/ui/UiSupport.h"
#include "ui/Label3dB.h"
#include "ui/SensorCals.h"
#include "ui/SensorLogs.h"

#include <QPushButton>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <chrono>

namespace {

class ReentryTest : public QObject {
  Q_OBJECT

 private slots:
  void duringEachRunEveryOtherButtonDoesNothing() {
    const struct {
      const char* name;
      QStringList own;  // the run's own controls, which act during it
    } cases[] = {{"firmware", {"UserFMCancelBtn", "UserOptFMCancelBtn"}},
                 {"output test", {}},
                 {"calibration", {"CalAbortBtn"}},
                 {"logging", {"StopBtn", "CalBtn", "ZeroBtn", "SpanBtn", "CalAbortBtn", "ClearPeakBtn", "BumpPassBtn",
                              "BumpFailBtn"}}};
    for (const auto& c : cases) {
      const std::string name = c.name;
      KvtSim::Options o;
      o.calTimeMs = 300, o.spanGasHeld = true, o.sensor.t90Ms = 0;
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
        QList<QAbstractButton*> buttons;
        for (QWidget* parent : {static_cast<QWidget*>(w.form.get()), static_cast<QWidget*>(dialog)})
          if (parent) buttons += parent->findChildren<QAbstractButton*>();
        for (QAbstractButton* b : buttons)
          if ((qobject_cast<QPushButton*>(b) || qobject_cast<QToolButton*>(b)) && !c.own.contains(b->objectName()))
            emit b->clicked();  // even a disabled one's click that was queued
        if (dialog) dialog->reject(), dialog->close();
        ++bursts;
        ignored += events == w.op.events().size() && frames == port.sim().received().size() &&
                   (!dialog || dialog->isVisible());
        longest = std::max(longest, std::chrono::steady_clock::now() - start);
      };
      bool inHandshake = false, inRun = false;
      w.form->ComKVT->IdleHook = [&] {
        if (!inHandshake) inHandshake = true, burst();
        QCoreApplication::processEvents();
      };
      w.op.onPump = [&] {  // once the run has sent more than the handshake and the reads
        for (const KvtSim::Frame& f : port.sim().received())
          if (!inRun && !QStringList{"B2", "B3", "A0", "5F", "50", "81"}.contains(QString::fromStdString(f.what)))
            inRun = true, burst();
      };

      if (name == "firmware") w.Find<QPushButton>("UserOptFMUpgradeBtn")->click();
      if (name == "output test") w.Find<QPushButton>("EtcBeepONBtn")->click();
      if (name == "calibration") {
        TSensorCalDlg dlg(*w.form->ComKVT, w.op, w.form.get());
        QVERIFY(dlg.PrepareDlg(w.form->FKVTCFG));
        dlg.Clock().SetSpeed(20);
        dlg.show();
        dialog = &dlg;
        dlg.CalBtn->click();
        QCOMPARE(dlg.CalLabel2->text(), QString("Calibration ... OK"));
      }
      if (name == "logging") {
        TSensorLogDlg dlg(*w.form->ComKVT, w.op, w.form.get());
        dlg.Clock().SetSpeed(20);
        dlg.show();
        dialog = &dlg;
        int readings = 0;
        dlg.Run().OnReading = [&](const RReadingSet&) {
          if (++readings == 3) dlg.StopBtnClick();
        };
        w.op.saveFile(std::nullopt);
        dlg.StartBtn->click();
        QCOMPARE(readings, 3);
      }
      dialog = nullptr;
      QVERIFY2(inHandshake && inRun && ignored == bursts && !modalOpened, c.name);
      // The clicks cost the run no gap between its frames (a modal box took 1.5 s).
      QVERIFY2(longest < std::chrono::milliseconds(100), c.name);
    }
  }
};

}  // namespace

QTEST_MAIN(ReentryTest)
#include "ReentryTest.moc"
