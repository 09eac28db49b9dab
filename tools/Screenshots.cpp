// beamdock-shots FOLDER: the README's pictures, taken of the program's own windows working
// against the simulated detector that `beamdock --simulate` starts, so they show the window
// as it is. Run by tools/screenshots.sh on the offscreen platform.
//
// Each picture is one entry of kShots; a new picture is a new entry.
#include "app/core/Settings.h"
#include "model/DeviceUtils.h"
#include "report/Certificate.h"
#include "sim/KvtSim.h"
#include "ui/Application.h"
#include "ui/Mains.h"
#include "ui/SensorLogs.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QProcess>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

namespace {

// The window's own boxes and status line, except that the logging dialog's file question is
// answered "no data log", so nothing waits for a person.
class TNoFileOperator : public Operator {
 public:
  explicit TNoFileOperator(TKVTIRMainForm& form) : FForm(form) {}
  void showStatus(StatusColour colour, const std::string& text) override { FForm.showStatus(colour, text); }
  void message(MessageIcon, const std::string& caption, const std::string& text) override {
    std::fprintf(stderr, "beamdock-shots: unexpected box %s: %s\n", caption.c_str(), text.c_str());
  }
  bool ask(const std::string&, const std::string&) override { return false; }
  std::optional<std::string> chooseOpenFile(const FileRequest&) override { return std::nullopt; }
  std::optional<std::string> chooseSaveFile(const FileRequest&) override { return std::nullopt; }
  void memoLine(const std::string& line) override { FForm.memoLine(line); }
  void pump() override { FForm.pump(); }
  TOperationGate& Gate() override { return FForm.Gate(); }

 private:
  TKVTIRMainForm& FForm;
};

struct RShotContext {
  QString folder;       // where the pictures go
  std::string device;   // the simulated detector's terminal
  KvtSim* sim = nullptr;
};

bool Save(QWidget& w, const RShotContext& c, const char* name) {
  const QString file = c.folder + "/" + name + ".png";
  if (!w.grab().save(file)) {
    std::fprintf(stderr, "beamdock-shots: cannot write %s\n", qPrintable(file));
    return false;
  }
  std::printf("%s\n", qPrintable(file));
  return true;
}

// A window of its own start folder, as a first start there shows it; factory: the factory view.
struct TShotWindow {
  TShotWindow(const RShotContext& c, bool factory) {
    if (factory) {
      QFile ini(dir.path() + "/BEAMDOCK.INI");
      if (ini.open(QIODevice::WriteOnly)) ini.write("[Environment]\r\nModeEntry=MRW_TQP__\r\n");
    }
    form = std::make_unique<TKVTIRMainForm>(dir.path().toStdString());
    KvtSim* sim = c.sim;
    form->MarkSimulated(c.device, [sim](const std::string& line, std::string& error) { return sim->control(line, error); });
    form->show();
    QApplication::processEvents();
  }
  QTemporaryDir dir;
  std::unique_ptr<TKVTIRMainForm> form;
};

bool MainWindow(const RShotContext& c) {
  TShotWindow w(c, false);
  w.form->UserReadDeviceBtn->click();
  return Save(*w.form, c, "main-window");
}

bool FactoryView(const RShotContext& c) {
  TShotWindow w(c, true);
  w.form->UserOptReadDeviceBtn->click();
  return Save(*w.form, c, "factory-view");
}

// Logging runs on a clock ten times fast (the simulated gas wave too), until the chart has
// scrolled once and the detector reports an alarm, so the picture has a banner and a history.
bool LoggingDialog(const RShotContext& c) {
  TShotWindow w(c, true);
  TNoFileOperator op(*w.form);
  TSensorLogDlg dlg(*w.form->ComKVT, op, w.form.get());
  dlg.Clock().SetSpeed(10);
  dlg.show();
  // A test gas between the two alarm levels, held to the sensor a while into the run.
  std::string reply;
  bool saved = false;
  int readings = 0;
  dlg.Run().OnReading = [&](const RReadingSet& set) {
    const double seconds = dlg.Run().History().Visible().back().mTime;
    const bool alarm = (set.mSensor.mAlarm & 0x0C) != 0;
    if (readings == 60) c.sim->control("gas 8", reply);
    if (!saved && seconds > 1.3 * DeviceCFG.mLogDisplayTime && alarm) saved = Save(dlg, c, "logging-dialog");
    if (saved || ++readings > 2000) dlg.StopBtnClick();
  };
  dlg.StartBtn->click();
  c.sim->control("gas off", reply);
  return saved;
}

// A certificate of made-up values, named as a sample, printed as a page the height of the
// window pictures.
bool Certificate(const RShotContext& c) {
  RCertificate s;
  s.mOrganisation = "Sample Gas Services Ltd (sample certificate)";
  s.mSite = "Example Site, Workshop 2";
  s.mProduct = "KVT single gas";
  s.mSensorType = "H2S";
  s.mSerial = "SH24031587";
  s.mHardware = "002";
  s.mFirmware = "1.3";
  s.mLowAlarm = "5.0 ppm";
  s.mHighAlarm = "10.0 ppm";
  s.mStelAlarm = "15.0 ppm";
  s.mTwaAlarm = "10.0 ppm";
  s.mZeroResult = s.mSpanResult = "PASS";
  s.mAsFound = "23.6 ppm";
  s.mAsLeft = "25.0 ppm";
  s.mSpanGas = "25.0 ppm";
  s.mCylinderLot = "SAMPLE-LOT-0001";
  s.mCylinderExpiry = "2027-06-30";
  s.mDateTime = "2026-12-09 14:03 +01:00";
  s.mTechnician = "A. Sample";
  s.mNextDue = "2027-06-07";
  s.mNumber = "0000000000000000-000001";
  s.mDigest = QCryptographicHash::hash("sample", QCryptographicHash::Sha256).toHex().toStdString();
  s.mQrText = "BDSEAL1 " + s.mNumber + " " + s.mDigest + " " + std::string(128, '0');  // a sample: no seal
  s.mIssued = "2026-12-09 15:20 +01:00";
  s.mProcedure = "WI-CAL-07 rev 3 (sample)";
  s.mGasSupplier = "Sample Gases Ltd";
  s.mCylinderCertificate = "SAMPLE-CC-0001";
  s.mGasUncertainty = "±2 % of value (k=2)";
  s.mZeroGas = "synthetic air";
  s.mTemperature = "21.4 °C";
  s.mZeroAsFound = "0.3 ppm";
  s.mZeroAsLeft = "0.0 ppm";
  s.mTolerance = "±10 % of the span gas";
  s.mRule = "as left within ±10 % of the span gas";
  s.mEquipment = "10c4:ea60 0001 /dev/ttyUSB0";
  s.mSoftware = "BeamDock 1.0.0";
  s.mAuthoriser = "B. Sample";
  s.mAuthoriserFunction = "Laboratory manager";
  QTemporaryDir dir;
  const QString pdf = dir.path() + "/certificate.pdf";
  std::string error;
  if (!WriteCertificatePdf(s, pdf.toStdString(), &error)) {
    std::fprintf(stderr, "beamdock-shots: certificate: %s\n", error.c_str());
    return false;
  }
  const QString png = c.folder + "/certificate";
  if (QProcess::execute("pdftoppm", {"-png", "-singlefile", "-scale-to-x", "-1", "-scale-to-y", "768", pdf, png}) != 0)
    return false;
  std::printf("%s.png\n", qPrintable(png));
  return true;
}

const struct {
  const char* name;
  std::function<bool(const RShotContext&)> take;
} kShots[] = {
    {"main-window", MainWindow},
    {"factory-view", FactoryView},
    {"logging-dialog", LoggingDialog},
    {"certificate", Certificate},
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: beamdock-shots FOLDER\n");
    return 64;
  }
  QApplication app(argc, argv);
  SetApplicationTitle();
  const RShotContext context{QDir(QString::fromLocal8Bit(argv[1])).absolutePath(), {}};
  QDir().mkpath(context.folder);

  // The detector --simulate starts, its sensor ten times fast for the fast logging clock.
  KvtSim::Options o;
  o.sensor.t90Ms /= 10;
  KvtSim sim(o);
  sim.start();
  setenv("BEAMDOCK_PORT", sim.devicePath().c_str(), 1);
  RShotContext c = context;
  c.device = sim.devicePath();
  c.sim = &sim;

  int failed = 0;
  for (const auto& shot : kShots)
    if (!shot.take(c)) {
      std::fprintf(stderr, "beamdock-shots: %s not taken\n", shot.name);
      ++failed;
    }
  sim.stop();
  return failed == 0 ? 0 : 1;
}
