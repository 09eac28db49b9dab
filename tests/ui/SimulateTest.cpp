// The window's link against the simulated detector on a real pseudo-terminal, wired the way
// `beamdock --simulate` wires it, with the exchange trace going to the memo and Comm.TXT.
#include "link/KVTComms.h"
#include "sim/KvtSim.h"
#include "tests/ui/UiSupport.h"

#include <QPlainTextEdit>

#include <cstdlib>

namespace {

class SimulateTest : public QObject {
  Q_OBJECT

 private slots:
  void windowLinkReachesTheSimulatedDetectorAndTracesIt() {
    KvtSim sim;
    sim.start();
    setenv("BEAMDOCK_PORT", sim.devicePath().c_str(), 1);
    TestWindow w("[ETC]\r\nLogEnable=1\r\n");
    w.form->MarkSimulated(sim.devicePath());

    TComKVT& link = *w.form->ComKVT;
    QCOMPARE(+link.OpenUSB(3.0f), +LINK_OK);
    RKVTIdenty id{};
    QCOMPARE(+link.RequireIdenty(id), +LINK_OK);
    link.CloseUSB(LINK_OK);
    QCOMPARE(+id.mPID, +sim.identity().mPID);

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
    sim.stop();
  }
};

}  // namespace

QTEST_MAIN(SimulateTest)
#include "SimulateTest.moc"
