// The window's link against the simulated detector on a real pseudo-terminal, wired the way
// `beamdock --simulate` wires it (kvt-sim as a child process), with the exchange trace going to
// the memo and Comm.TXT; and what it says when kvt-sim is not installed.
#include "link/KVTComms.h"
#include "tests/ui/UiSupport.h"
#include "ui/Label3dB.h"
#include "ui/SimulatorProcess.h"

#include <QDoubleSpinBox>
#include <QPlainTextEdit>
#include <QPushButton>

#include <cstdlib>

namespace {

class SimulateTest : public QObject {
  Q_OBJECT

 private slots:
  void windowLinkReachesTheSimulatedDetectorAndTracesIt() {
    TSimulatorProcess sim;
    QString error;
    QVERIFY2(sim.Start(QString::fromLocal8Bit(std::getenv("BEAMDOCK_BIN")), error,
                       {"--serial", "SIM42", "--response-ms", "0"}),
             qPrintable(error));
    setenv("BEAMDOCK_PORT", sim.DevicePath().c_str(), 1);
    TestWindow w("[ETC]\r\nLogEnable=1\r\n");
    w.form->MarkSimulated(sim.DevicePath(),
                          [&sim](const std::string& line, std::string& e) { return sim.Control(line, e); });

    TComKVT& link = *w.form->ComKVT;
    QCOMPARE(+link.OpenUSB(3.0f), +LINK_OK);
    RKVTIdenty id{};
    QCOMPARE(+link.RequireIdenty(id), +LINK_OK);
    // The strip's test gas reaches the simulated sensor, and goes again.
    QVERIFY(w.Find<QWidget>("SimGasPanel")->isVisible());
    const auto gas = [&] {
      RKVTSensor r{};
      return link.RequireSensor(r, 0) == LINK_OK ? static_cast<int>(r.mSensor) : -1;
    };
    QCOMPARE(gas(), 0);
    w.Find<QDoubleSpinBox>("SimGasSpin")->setValue(12.5);
    w.Find<QPushButton>("SimGasApplyBtn")->click();
    QTRY_COMPARE(gas(), 125);
    QCOMPARE(w.Find<TLabel3DBorder>("SimGasStateLabel")->text(), QStringLiteral("12.5 applied"));
    w.Find<QPushButton>("SimGasRemoveBtn")->click();
    QTRY_COMPARE(gas(), 0);
    link.CloseUSB(LINK_OK);
    QCOMPARE(std::string(id.mSerial, 5), std::string("SIM42"));

    // Every traced exchange is a time-stamped memo line; the memo is shown and saved at close.
    const std::vector<std::string> lines = w.form->MemoLines();
    QVERIFY(lines.size() >= 2);
    for (const std::string& line : lines) {
      QVERIFY2(line.size() > 13 && line[2] == ':' && line[5] == ':' && line[8] == ':' && line[12] == ' ',
               line.c_str());
    }
    QVERIFY(w.Find<QPlainTextEdit>("Memo")->isVisible());
    QVERIFY(w.form->close());
    std::string expected;
    for (const std::string& line : lines) expected += line + "\r\n";
    QCOMPARE(w.dir.read("Comm.TXT"), expected);
    unsetenv("BEAMDOCK_PORT");
    sim.Stop();
    // Its terminal goes with it; the device name itself may already serve another test's terminal.
    QVERIFY(!sim.Running());
  }

  void aMissingSimulatorNamesItsPackage() {
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", "/nonexistent");
    TSimulatorProcess sim;
    QString error;
    QVERIFY(!sim.Start(QStringLiteral("/nonexistent"), error));
    QVERIFY2(error.contains(QStringLiteral("sudo apt install beamdock-sim")), qPrintable(error));
    qputenv("PATH", path);
  }
};

}  // namespace

QTEST_MAIN(SimulateTest)
#include "SimulateTest.moc"
