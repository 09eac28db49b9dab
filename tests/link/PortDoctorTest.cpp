#include "link/PortDoctor.h"

#include "link/USBtoUART.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

namespace {

namespace fs = std::filesystem;

// A machine below a folder: sysfs as the kernel lays out a CP210x adapter, its /dev node and
// /dev/serial names, /etc/group, udev rules and /proc entries.
class Machine {
 public:
  Machine() : root_(dir_.path()) {
    Write("etc/passwd", "alice:x:1000:1000::/home/alice:/bin/sh\n");
    fs::create_directories(root_ / "proc");
  }
  std::string root() const { return root_.string(); }

  // usbPort is the place on the hub (1-2); driver "" leaves the interface unbound (no tty).
  void AddAdapter(const std::string& usbPort, const std::string& tty, const std::string& serial = "0001",
                  const std::string& driver = "cp210x", const std::string& ids = "10c4:ea60") {
    const fs::path usb = root_ / "sys/devices/pci0000:00/0000:00:14.0/usb1" / usbPort;
    Write(usb / "idVendor", ids.substr(0, 4) + "\n");
    Write(usb / "idProduct", ids.substr(5) + "\n");
    Write(usb / "serial", serial + "\n");
    Link(root_ / "sys/bus/usb/devices" / usbPort, usb);
    const fs::path intf = usb / (usbPort + ":1.0");
    Write(intf / "bInterfaceNumber", "00\n");
    if (driver.empty()) return;
    fs::create_directories(root_ / "sys/bus/usb/drivers" / driver);
    Link(intf / "driver", root_ / "sys/bus/usb/drivers" / driver);
    const fs::path port = intf / tty;
    fs::create_directories(port / "tty" / tty);
    fs::create_directories(root_ / "sys/bus/usb-serial/drivers" / driver);
    Link(port / "driver", root_ / "sys/bus/usb-serial/drivers" / driver);
    Link(port / "tty" / tty / "device", port);
    Link(root_ / "sys/class/tty" / tty, port / "tty" / tty);
    Write(port / "tty" / tty / "dev", "188:" + tty.substr(6) + "\n");
    Write(root_ / "dev" / tty, "");
    ::chmod((root_ / "dev" / tty).c_str(), 0660);
    if (::geteuid() == 0 && ::chown((root_ / "dev" / tty).c_str(), -1, 20) != 0) ADD_FAILURE() << "chown";
    // udev gives identical serials one by-id name: the adapter plugged in last has it.
    Link(root_ / "dev/serial/by-id" / ("usb-BeamDock_IR_Adapter_" + serial + "-if00-port0"), root_ / "dev" / tty, true);
    Link(root_ / "dev/serial/by-path" / ("pci-0000:00:14.0-usb-0:" + usbPort.substr(2) + ":1.0-port0"),
         root_ / "dev" / tty);
  }
  gid_t nodeGroup(const std::string& tty) const {
    struct stat st {};
    ::stat((root_ / "dev" / tty).c_str(), &st);
    return st.st_gid;
  }
  void Process(int pid, const std::string& comm, const std::string& openFile = "") {
    const fs::path dir = root_ / "proc" / std::to_string(pid);
    Write(dir / "comm", comm + "\n");
    fs::create_directories(dir / "fd");
    if (!openFile.empty()) fs::create_symlink(openFile, dir / "fd" / "3");
  }
  void Write(const fs::path& file, const std::string& text) const {
    const fs::path f = file.is_absolute() ? file : root_ / file;
    fs::create_directories(f.parent_path());
    std::ofstream(f) << text;
  }
  void Link(const fs::path& link, const fs::path& target, bool replace = false) const {
    fs::create_directories(link.parent_path());
    if (replace) fs::remove(link);
    fs::create_symlink(fs::relative(target, link.parent_path()), link);
  }

 private:
  TempDir dir_;
  fs::path root_;
};

std::string States(const std::vector<RDoctorCheck>& checks) {
  std::string s;
  for (const RDoctorCheck& c : checks)
    s += std::string(s.empty() ? "" : " ") + (c.state == TCheckState::Ok ? "ok" : c.state == TCheckState::Fail ? "FAIL" : "skip");
  return s;
}

// Each case is a machine with one thing in the way; the checks name it, and only it, with the fix.
TEST(PortDoctor, NamesWhatIsInTheWayWithItsFix) {
  struct Case {
    const char* what;
    std::function<void(Machine&, RDoctorEnv&)> setup;
    const char* states;  // bus, driver, brltty, ModemManager, access, holders
    const char* fix;     // in the failing line
  };
  const std::string rules = std::string(BEAMDOCK_SOURCE_DIR) + "/dist/70-beamdock.rules";
  auto ourRule = [&](Machine& m) {
    std::ifstream in(rules);
    m.Write("usr/lib/udev/rules.d/70-beamdock.rules", std::string(std::istreambuf_iterator<char>(in), {}));
  };
  // An adapter no driver took, on kernel 6.8.0-31-generic with file (R for the release) holding text.
  auto unbound = [](std::string file, std::string text) {
    if (const size_t at = file.find("/R/"); at != std::string::npos) file.replace(at, 3, "/6.8.0-31-generic/");
    return [=](Machine& m, RDoctorEnv&) {
      m.AddAdapter("1-2", "ttyUSB0", "0001", "");
      m.Write("proc/sys/kernel/osrelease", "6.8.0-31-generic\n");
      m.Write(file, text);
    };
  };
  const Case cases[] = {
      {"no adapter", [](Machine&, RDoctorEnv&) {}, "FAIL skip ok ok skip skip", "plug the BeamDock adapter in"},
      {"one adapter", [](Machine& m, RDoctorEnv&) { m.AddAdapter("1-2", "ttyUSB0"); }, "ok ok ok ok ok ok", ""},
      {"two identical adapters",
       [](Machine& m, RDoctorEnv&) {
         m.AddAdapter("1-2", "ttyUSB0");
         m.AddAdapter("1-3", "ttyUSB1");
       },
       "FAIL ok ok ok skip skip", "2 adapters found (1-2 (serial 0001), 1-3 (serial 0001)): the tool uses one"},
      {"claimed away from cp210x",
       [](Machine& m, RDoctorEnv&) { m.AddAdapter("1-2", "ttyUSB0", "0001", ""); }, "ok FAIL ok ok skip skip",
       "1-2 has no driver"},
      {"no driver, its module on disk",
       unbound("lib/modules/R/modules.dep",
               "kernel/drivers/usb/serial/cp210x.ko.xz: kernel/drivers/usb/serial/usbserial.ko.xz\n"),
       "ok FAIL ok ok skip skip", "1-2 has no driver: run sudo modprobe cp210x, then unplug and replug"},
      {"no driver, built into the kernel",
       unbound("usr/lib/modules/R/modules.builtin", "kernel/drivers/usb/serial/cp210x.ko\n"),
       "ok FAIL ok ok skip skip", "built into this kernel but did not take the adapter"},
      {"no driver, loaded", unbound("sys/module/cp210x/refcnt", "0\n"), "ok FAIL ok ok skip skip",
       "the cp210x driver is loaded but did not take the adapter"},
      {"no driver, none in this kernel",
       unbound("lib/modules/R/modules.dep", "kernel/drivers/usb/serial/usbserial.ko.zst:\n"),
       "ok FAIL ok ok skip skip",
       "this kernel (6.8.0-31-generic) has no cp210x module: install its extra modules (on Ubuntu: sudo apt install "
       "linux-modules-extra-6.8.0-31-generic)"},
      {"brltty with its rule",
       [](Machine& m, RDoctorEnv&) {
         m.AddAdapter("1-2", "ttyUSB0");
         m.Write("usr/bin/brltty", "");
         m.Write("lib/udev/rules.d/85-brltty.rules", "ENV{PRODUCT}==\"10c4/ea60/*\", RUN+=\"brltty\"\n");
       },
       "ok ok FAIL ok ok ok", "sudo ln -s /dev/null /etc/udev/rules.d/85-brltty.rules"},
      {"brltty with its rule masked",
       [](Machine& m, RDoctorEnv&) {
         m.AddAdapter("1-2", "ttyUSB0");
         m.Write("usr/bin/brltty", "");
         m.Write("lib/udev/rules.d/85-brltty.rules", "ENV{PRODUCT}==\"10c4/ea60/*\", RUN+=\"brltty\"\n");
         fs::create_directories(m.root() + "/etc/udev/rules.d");
         fs::create_symlink("/dev/null", m.root() + "/etc/udev/rules.d/85-brltty.rules");
       },
       "ok ok ok ok ok ok", ""},
      {"ModemManager without our rule",
       [](Machine& m, RDoctorEnv&) {
         m.AddAdapter("1-2", "ttyUSB0");
         m.Process(612, "ModemManager");
       },
       "ok ok ok FAIL ok ok", "sudo systemctl stop ModemManager"},
      {"ModemManager with our rule",
       [&](Machine& m, RDoctorEnv&) {
         m.AddAdapter("1-2", "ttyUSB0");
         m.Process(612, "ModemManager");
         ourRule(m);
       },
       "ok ok ok ok ok ok", ""},
      {"ModemManager, udev told to ignore the adapter",
       [](Machine& m, RDoctorEnv&) {
         m.AddAdapter("1-2", "ttyUSB0");
         m.Process(612, "ModemManager");
         m.Write("run/udev/data/c188:0", "E:ID_SERIAL=0001\nE:ID_MM_DEVICE_IGNORE=1\nG:uaccess\n");
       },
       "ok ok ok ok ok ok", ""},
      {"ModemManager, our rule not yet applied",
       [&](Machine& m, RDoctorEnv&) {
         m.AddAdapter("1-2", "ttyUSB0");
         m.Process(612, "ModemManager");
         ourRule(m);
         m.Write("run/udev/data/c188:0", "E:ID_SERIAL=0001\n");
       },
       "ok ok ok FAIL ok ok", "has not applied the rule 70-beamdock.rules to /dev/ttyUSB0"},
      {"not in the node's group",
       [](Machine& m, RDoctorEnv& env) {
         m.AddAdapter("1-2", "ttyUSB0");
         m.Write("etc/group", "dialout:x:" + std::to_string(m.nodeGroup("ttyUSB0")) + ":bob\n");
         env.groups = {1000};
       },
       "ok ok ok ok FAIL ok", "add alice to it (sudo usermod -aG dialout alice), then log out and in again"},
      {"in the group only after logging in again",
       [](Machine& m, RDoctorEnv& env) {
         m.AddAdapter("1-2", "ttyUSB0");
         m.Write("etc/group", "uucp:x:" + std::to_string(m.nodeGroup("ttyUSB0")) + ":bob,alice\n");
         env.groups = {1000};
       },
       "ok ok ok ok FAIL ok", "\"uucp\", which alice joined after logging in: log out and in again"},
      {"held by another program",
       [](Machine& m, RDoctorEnv&) {
         m.AddAdapter("1-2", "ttyUSB0");
         m.Process(4711, "minicom", "/dev/ttyUSB0");
         m.Process(4712, "bash", "/dev/pts/1");
       },
       "ok ok ok ok ok FAIL", "/dev/ttyUSB0 is open in minicom (pid 4711): close that program"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Machine m;
    RDoctorEnv env;
    env.root = m.root();
    env.uid = 1000;
    env.user = "alice";
    env.openPort = false;
    c.setup(m, env);
    if (env.groups.empty()) env.groups = {1000, m.nodeGroup("ttyUSB0")};
    const auto checks = RunDoctor(env, "");
    EXPECT_EQ(States(checks), c.states);
    std::string failing;
    for (const RDoctorCheck& check : checks)
      if (check.state == TCheckState::Fail) failing += DoctorLine(check) + "\n";
    EXPECT_NE(failing.find(c.fix), std::string::npos) << failing;
  }
}

TEST(PortDoctor, PortsListsEveryAdapterWithItsNames) {
  Machine m;
  EXPECT_TRUE(ListPorts(m.root()).empty());
  m.AddAdapter("1-2", "ttyUSB0");
  m.AddAdapter("1-3", "ttyUSB1");
  std::string lines;
  for (const RPortEntry& p : ListPorts(m.root())) lines += PortLine(p) + "\n";
  EXPECT_EQ(lines,
            "/dev/ttyUSB0  10c4:ea60  0001  -  /dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0\n"
            "/dev/ttyUSB1  10c4:ea60  0001  /dev/serial/by-id/usb-BeamDock_IR_Adapter_0001-if00-port0  "
            "/dev/serial/by-path/pci-0000:00:14.0-usb-0:3:1.0-port0\n");
}

// Discovery, ports and doctor count the same adapters: any bridge the cp210x driver serves.
TEST(PortDoctor, DiscoveryPortsAndDoctorAgreeOnWhatCounts) {
  const char* kTable = "alias usb:v0403p6001d*dc*dsc*dp*ic*isc*ip*in* ftdi_sio\n"
                       "alias usb:v1B1Cp1C00d*dc*dsc*dp*ic*isc*ip*in* cp210x\n";
  const struct {
    const char *what, *driver, *ids;
    const char* aliases;  // the running kernel's modules.alias, "" for none
    size_t ports;
    const char* bus;  // the doctor's first line
  } cases[] = {
      {"the usual bridge", "cp210x", "10c4:ea60", "", 1, "ok    adapter on the USB bus: 10c4:ea60 at 1-2 (serial 0001)"},
      {"a dual bridge's ids", "cp210x", "10c4:ea70", "", 1, "ok    adapter on the USB bus: 10c4:ea70 at 1-2 (serial 0001)"},
      {"another maker's bridge", "ch341", "1a86:7523", "", 0, "FAIL  adapter on the USB bus: no CP210x adapter found"},
      {"a bridge without its driver", "", "10c4:ea60", "", 0, "ok    adapter on the USB bus: 10c4:ea60 at 1-2"},
      {"without its driver, ids of this kernel's table", "", "1b1c:1c00", kTable, 0, "ok    adapter on the USB bus: 1b1c:1c00"},
      {"without its driver, ids of another driver", "", "0403:6001", kTable, 0, "FAIL  adapter on the USB bus: no CP210x"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Machine m;
    m.AddAdapter("1-2", "ttyUSB0", "0001", c.driver, c.ids);
    if (*c.aliases) {
      m.Write("proc/sys/kernel/osrelease", "6.1.0-9-amd64\n");
      m.Write("lib/modules/6.1.0-9-amd64/modules.alias", c.aliases);
    }
    EXPECT_EQ(ListPorts(m.root()).size(), c.ports);
    TPortTable ports;
    int port = 0;
    EXPECT_EQ(FindComPort(ports, 0, port, m.root() + "/sys"), c.ports ? 0 : 0xFF);
    EXPECT_EQ(ports.PortDeviceName(port), c.ports ? "/dev/ttyUSB0" : "");
    RDoctorEnv env;
    env.root = m.root(), env.openPort = false;
    EXPECT_EQ(DoctorLine(RunDoctor(env, "").front()).substr(0, std::strlen(c.bus)), c.bus);
  }
}

// A terminal that nobody answers: the port opens, the handshake fails with its fix. (kvt-sim
// answering is checked through beamdock-cli.)
TEST(PortDoctor, ASilentPortFailsTheHandshake) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  RDoctorEnv env = CurrentDoctorEnv();
  env.connectSeconds = 0.3f;
  const auto checks = RunDoctor(env, ::ptsname(master));
  ASSERT_EQ(checks.size(), 8u);
  EXPECT_EQ(checks[0].state, TCheckState::Skip);
  EXPECT_EQ(checks[6].state, TCheckState::Ok);
  EXPECT_EQ(DoctorLine(checks[7]), "FAIL  a detector answers the handshake: no detector answered within 0.3 s: hold the "
                                   "detector's infrared window against the adapter, switch the detector on, and try again");
  ::close(master);
}

}  // namespace
