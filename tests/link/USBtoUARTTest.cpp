#include "link/USBtoUART.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// A sysfs tree laid out as the kernel lays it out, relative symlinks included:
//   devices/pci0000:00/0000:00:14.0/usb1/1-2                  USB device: idVendor, idProduct, serial
//   devices/.../1-2/1-2:1.0                                   interface: bInterfaceNumber, driver
//   devices/.../1-2/1-2:1.0/ttyUSB0                           usb-serial port: driver -> cp210x
//   devices/.../1-2/1-2:1.0/ttyUSB0/tty/ttyUSB0               tty: device -> ../../../ttyUSB0
//   class/tty/ttyUSB0 -> the tty folder
//   bus/usb-serial/drivers/cp210x/ttyUSB0 -> the port folder
class SysfsTree {
 public:
  SysfsTree() {
    char tmpl[] = "/tmp/bd-sysfs-XXXXXX";
    root_ = ::mkdtemp(tmpl);
    fs::create_directories(root_ / "class" / "tty");
    fs::create_directories(root_ / "bus" / "usb" / "drivers");
    // A mainboard UART and a virtual console: ttys that no USB device carries.
    const fs::path serial8250 = root_ / "devices" / "platform" / "serial8250";
    fs::create_directories(serial8250 / "tty" / "ttyS0");
    fs::create_directories(root_ / "bus" / "platform" / "drivers" / "serial8250");
    Link(serial8250 / "driver", root_ / "bus" / "platform" / "drivers" / "serial8250");
    Link(serial8250 / "tty" / "ttyS0" / "device", serial8250);
    Link(root_ / "class" / "tty" / "ttyS0", serial8250 / "tty" / "ttyS0");
    fs::create_directories(root_ / "devices" / "virtual" / "tty" / "tty0");
    Link(root_ / "class" / "tty" / "tty0", root_ / "devices" / "virtual" / "tty" / "tty0");
  }
  ~SysfsTree() {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  std::string Root() const { return root_.string(); }

  struct Bridge {
    std::string usbPort = "1-2";          // where on the hub
    std::string vid = "10c4";
    std::string pid = "ea60";
    const char* serial = "0001";          // nullptr: no serial file
    int interfaces = 1;
    std::string tty = "ttyUSB0";
    int interfaceNumber = 0;
    std::string driver = "cp210x";
    bool driverFolder = true;             // listed in bus/usb-serial/drivers/<driver>
    bool ttyClass = true;                 // listed in class/tty
  };

  void Add(const Bridge& b) {
    const fs::path usb = root_ / "devices" / "pci0000:00" / "0000:00:14.0" / "usb1" / b.usbPort;
    fs::create_directories(usb);
    Write(usb / "idVendor", b.vid + "\n");
    Write(usb / "idProduct", b.pid + "\n");
    Write(usb / "bNumInterfaces", " " + std::to_string(b.interfaces) + "\n");
    if (b.serial) Write(usb / "serial", std::string(b.serial) + "\n");
    char number[8];
    std::snprintf(number, sizeof number, "%02x", b.interfaceNumber);
    const fs::path intf = usb / (b.usbPort + ":1." + std::to_string(b.interfaceNumber));
    fs::create_directories(intf);
    Write(intf / "bInterfaceNumber", std::string(number) + "\n");
    fs::create_directories(root_ / "bus" / "usb" / "drivers" / b.driver);
    Link(intf / "driver", root_ / "bus" / "usb" / "drivers" / b.driver);

    const fs::path port = intf / b.tty;
    const fs::path tty = port / "tty" / b.tty;
    fs::create_directories(tty);
    Write(tty / "dev", "188:0\n");
    Link(tty / "device", port);
    const fs::path driverDir = root_ / "bus" / "usb-serial" / "drivers" / b.driver;
    fs::create_directories(driverDir);
    Link(port / "driver", driverDir);
    if (!fs::exists(driverDir / "bind")) {
      Write(driverDir / "bind", "");
      Write(driverDir / "unbind", "");
      Write(driverDir / "uevent", "");
      fs::create_directories(root_ / "module" / b.driver);
      Link(driverDir / "module", root_ / "module" / b.driver);
    }
    if (b.driverFolder) Link(driverDir / b.tty, port);
    if (b.ttyClass) Link(root_ / "class" / "tty" / b.tty, tty);
  }

 private:
  static void Write(const fs::path& file, const std::string& text) { std::ofstream(file) << text; }
  static void Link(const fs::path& link, const fs::path& target) {
    fs::create_directory_symlink(fs::relative(target, link.parent_path()), link);
  }
  fs::path root_;
};

// Discovery reads BEAMDOCK_PORT; no test may see one from outside or leave one behind.
class Discovery : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* v = std::getenv("BEAMDOCK_PORT")) saved_ = v, hadPort_ = true;
    ::unsetenv("BEAMDOCK_PORT");
  }
  void TearDown() override {
    if (hadPort_)
      ::setenv("BEAMDOCK_PORT", saved_.c_str(), 1);
    else
      ::unsetenv("BEAMDOCK_PORT");
  }
  SysfsTree sys;
  TPortTable ports;

 private:
  std::string saved_;
  bool hadPort_ = false;
};

TEST(DevicePath, PlainAndInterfaceForms) {
  EXPECT_EQ(DevicePathText(0x10C4, 0xEA60, "0001", false), "VID_10C4&PID_EA60\\0001");
  EXPECT_EQ(DevicePathText(0x10C4, 0xEA60, "0001", true), "VID_10C4&PID_EA60&Mi_00\\0001_00");
  EXPECT_EQ(DevicePathText(0x0403, 0x00ab, "A B  C", false), "VID_0403&PID_00AB\\A_B__C");
}

TEST_F(Discovery, OneBridgeGivesItsPort) {
  sys.Add({});
  int port = -1;
  EXPECT_EQ(FindComPort(ports, 0, port, sys.Root()), 0);
  ASSERT_GT(port, 0);
  EXPECT_EQ(ports.PortDeviceName(port), "/dev/ttyUSB0");
  EXPECT_EQ(GetRegPortNumber(ports, "VID_10C4&PID_EA60\\0001", sys.Root()), port);
  EXPECT_EQ(GetRegPortNumber(ports, "VID_10C4&PID_EA60\\0002", sys.Root()), 0);
  // The same node keeps its number from one discovery to the next.
  int again = -1;
  EXPECT_EQ(FindComPort(ports, 0, again, sys.Root()), 0);
  EXPECT_EQ(again, port);
  // A record's port description reads that port's own entry; another terminal is no adapter.
  bool adapter = false;
  EXPECT_EQ(PortDescription("/dev/ttyUSB0", adapter, sys.Root()), "10c4:ea60 0001 /dev/ttyUSB0");
  EXPECT_TRUE(adapter);
  EXPECT_EQ(PortDescription("/dev/tty0", adapter, sys.Root()), "no adapter /dev/tty0");
  EXPECT_FALSE(adapter);
}

TEST_F(Discovery, NoBridge) {
  int port = -1;
  EXPECT_EQ(FindComPort(ports, 0, port, sys.Root()), 0xFF);
  EXPECT_EQ(port, 0);
  // A USB serial port of another maker is no CP210x bridge.
  SysfsTree::Bridge ftdi;
  ftdi.vid = "0403";
  ftdi.pid = "6001";
  ftdi.driver = "ftdi_sio";
  sys.Add(ftdi);
  EXPECT_EQ(FindComPort(ports, 0, port, sys.Root()), 0xFF);
  EXPECT_EQ(FindComPort(ports, 0, port, "/nonexistent-sysfs"), 0xFF);
}

TEST_F(Discovery, TwoBridgesAreTooMany) {
  SysfsTree::Bridge second;
  second.usbPort = "1-3";
  second.serial = "0002";
  second.tty = "ttyUSB1";
  sys.Add({});
  sys.Add(second);
  int port = -1;
  EXPECT_EQ(FindComPort(ports, 0, port, sys.Root()), 0xFE);
  EXPECT_EQ(port, 0);

  // With a preferred port the one that has it is taken.
  const int wanted = GetRegPortNumber(ports, "VID_10C4&PID_EA60\\0002", sys.Root());
  ASSERT_GT(wanted, 0);
  EXPECT_EQ(FindComPort(ports, wanted, port, sys.Root()), 0);
  EXPECT_EQ(port, wanted);
  EXPECT_EQ(ports.PortDeviceName(port), "/dev/ttyUSB1");
}

TEST_F(Discovery, DualBridgeIsOneDeviceFoundUnderItsFirstInterface) {
  SysfsTree::Bridge dual;
  dual.pid = "ea70";
  dual.serial = "00A1B2";
  dual.interfaces = 2;
  sys.Add(dual);
  SysfsTree::Bridge other = dual;
  other.tty = "ttyUSB1";
  other.interfaceNumber = 1;
  sys.Add(other);

  EXPECT_EQ(GetRegPortNumber(ports, "VID_10C4&PID_EA70\\00A1B2", sys.Root()), 0);  // no plain record
  int port = -1;
  EXPECT_EQ(FindComPort(ports, 0, port, sys.Root()), 0);
  ASSERT_GT(port, 0);
  EXPECT_EQ(ports.PortDeviceName(port), "/dev/ttyUSB0");
  EXPECT_EQ(GetRegPortNumber(ports, "VID_10C4&PID_EA70&Mi_00\\00A1B2_00", sys.Root()), port);
}

TEST_F(Discovery, SerialWithBlanksIsLookedUpWithUnderscores) {
  SysfsTree::Bridge b;
  b.serial = "KVT 0042 A";
  b.tty = "ttyUSB3";
  sys.Add(b);
  int port = -1;
  EXPECT_EQ(FindComPort(ports, 0, port, sys.Root()), 0);
  EXPECT_EQ(ports.PortDeviceName(port), "/dev/ttyUSB3");
  EXPECT_EQ(GetRegPortNumber(ports, "VID_10C4&PID_EA60\\KVT_0042_A", sys.Root()), port);
}

TEST_F(Discovery, LowVendorIdIsPaddedAndNotFiltered) {
  SysfsTree::Bridge b;
  b.vid = "0403";  // a bridge programmed with another vendor's id, still on the cp210x driver
  b.pid = "0a01";
  b.serial = nullptr;
  sys.Add(b);
  EXPECT_GT(GetRegPortNumber(ports, "VID_0403&PID_0A01\\", sys.Root()), 0);
  int port = -1;
  EXPECT_EQ(FindComPort(ports, 0, port, sys.Root()), 0);
  EXPECT_EQ(ports.PortDeviceName(port), "/dev/ttyUSB0");
}

TEST_F(Discovery, SecondPassFindsWhatTheFirstCannotSee) {
  SysfsTree::Bridge b;
  b.driverFolder = false;  // the driver's folder lists nothing
  sys.Add(b);
  int port = -1;
  EXPECT_EQ(FindComPort(ports, 0, port, sys.Root()), 0);
  ASSERT_GT(port, 0);
  EXPECT_EQ(ports.PortDeviceName(port), "/dev/ttyUSB0");
}

TEST_F(Discovery, BridgeWithoutATtyRecordGivesPortZero) {
  SysfsTree::Bridge b;
  b.ttyClass = false;
  sys.Add(b);
  int port = -1;
  EXPECT_EQ(FindComPort(ports, 0, port, sys.Root()), 0);
  EXPECT_EQ(port, 0);
  EXPECT_EQ(ports.PortDeviceName(port), "");
}

TEST_F(Discovery, UnreadableVendorIdIsPassedOn) {
  SysfsTree::Bridge b;
  b.vid = "zz";
  sys.Add(b);
  int port = -1;
  EXPECT_EQ(FindComPort(ports, 0, port, sys.Root()), BRIDGE_VID_UNREADABLE);
  EXPECT_EQ(port, 0);
}

TEST_F(Discovery, NamedPortOverridesEverything) {
  SysfsTree::Bridge second;
  second.usbPort = "1-3";
  second.tty = "ttyUSB1";
  sys.Add({});
  sys.Add(second);
  ::setenv("BEAMDOCK_PORT", "/dev/pts/77", 1);
  int port = -1;
  EXPECT_EQ(FindComPort(ports, 0, port, sys.Root()), 0);
  ASSERT_GT(port, 0);
  EXPECT_EQ(ports.PortDeviceName(port), "/dev/pts/77");
  ::setenv("BEAMDOCK_PORT", "", 1);  // empty counts as not set
  EXPECT_EQ(FindComPort(ports, 0, port, sys.Root()), 0xFE);
}

TEST(PortNumbers, StableAndUnknownNumbersOpenNothing) {
  TPortTable ports;
  const int a = ports.RegisterPortDevice("/dev/ttyUSB9");
  const int b = ports.RegisterPortDevice("/dev/ttyACM9");
  EXPECT_GT(a, 0);
  EXPECT_NE(a, b);
  EXPECT_EQ(ports.RegisterPortDevice("/dev/ttyUSB9"), a);
  EXPECT_EQ(ports.PortDeviceName(a), "/dev/ttyUSB9");
  EXPECT_EQ(ports.PortDeviceName(0), "");
  EXPECT_EQ(ports.PortDeviceName(-3), "");
  EXPECT_EQ(ports.PortDeviceName(100000), "");
}

// A scripted enumeration: counts every call so the order and the closing can be checked.
class ScriptedBridges : public TBridgeLibrary {
 public:
  struct Device {
    uint16_t vid = 0x10C4, pid = 0xEA60;
    std::string serial = "0001";
    uint8_t openStatus = 0, vidStatus = 0, pidStatus = 0, serialStatus = 0;
  };
  std::vector<Device> devices;
  uint8_t countStatus = 0;
  int opens = 0;
  std::map<int, int> closes;
  std::vector<std::string> calls;

  uint8_t GetNumDevices(uint32_t& count) override {
    calls.push_back("count");
    count = static_cast<uint32_t>(devices.size());
    return countStatus;
  }
  uint8_t Open(uint32_t index, int& handle) override {
    calls.push_back("open");
    if (devices[index].openStatus) return devices[index].openStatus;
    ++opens;
    handle = static_cast<int>(index) + 100;
    return 0;
  }
  uint8_t Close(int handle) override {
    calls.push_back("close");
    ++closes[handle];
    return 0x7F;  // ignored
  }
  uint8_t GetDeviceVid(int h, uint16_t& v) override {
    calls.push_back("vid");
    v = devices[h - 100].vid;
    return devices[h - 100].vidStatus;
  }
  uint8_t GetDevicePid(int h, uint16_t& v) override {
    calls.push_back("pid");
    v = devices[h - 100].pid;
    return devices[h - 100].pidStatus;
  }
  uint8_t GetDeviceSerialNumber(int h, std::string& s) override {
    calls.push_back("serial");
    s = devices[h - 100].serial;
    return devices[h - 100].serialStatus;
  }
};

TEST(DiscoveryPasses, TwoDevicesAreRefusedWithoutOpeningEither) {
  ScriptedBridges first, second;
  first.devices.resize(2);
  second.devices.resize(2);
  int port = -1;
  EXPECT_EQ(RunDiscovery(first, second, 0, port, [](const std::string&) { return 3; }), 0xFE);
  EXPECT_EQ(port, 0);
  EXPECT_EQ(first.opens + second.opens, 0);
  EXPECT_EQ(second.calls, std::vector<std::string>{"count"});  // the second pass ran too
}

TEST(DiscoveryPasses, OrderOfCallsAndTheInterfacePathAsFallback) {
  ScriptedBridges first, second;
  first.devices.resize(1);
  std::vector<std::string> looked;
  int port = -1;
  EXPECT_EQ(RunDiscovery(first, second, 0, port,
                         [&](const std::string& p) {
                           looked.push_back(p);
                           return looked.size() == 2 ? 3 : 0;
                         }),
            0);
  EXPECT_EQ(port, 3);
  EXPECT_EQ(first.calls, (std::vector<std::string>{"count", "open", "vid", "pid", "serial", "close"}));
  EXPECT_EQ(looked, (std::vector<std::string>{"VID_10C4&PID_EA60\\0001", "VID_10C4&PID_EA60&Mi_00\\0001_00"}));
  EXPECT_TRUE(second.calls.empty());  // the first pass succeeded
}

TEST(DiscoveryPasses, SecondPassResultReplacesTheFirst) {
  ScriptedBridges first, second;
  first.devices.resize(1);
  first.devices[0].pidStatus = 0x04;
  second.devices.resize(1);
  second.devices[0].serial = "77";
  int port = -1;
  EXPECT_EQ(RunDiscovery(first, second, 0, port,
                         [](const std::string& p) { return p == "VID_10C4&PID_EA60\\77" ? 5 : 0; }),
            0);
  EXPECT_EQ(port, 5);
  // A failure after Open still closes the device, once.
  EXPECT_EQ(first.calls, (std::vector<std::string>{"count", "open", "vid", "pid", "close"}));
  EXPECT_EQ(first.closes[100], 1);
  EXPECT_EQ(second.closes[100], 1);

  // Both failing: the second library's status is the result.
  second.devices[0].serialStatus = 0x06;
  EXPECT_EQ(RunDiscovery(first, second, 0, port, [](const std::string&) { return 5; }), 0x06);
  EXPECT_EQ(port, 0);
}

TEST(DiscoveryPasses, OpenFailureIsNotClosed) {
  ScriptedBridges first, second;
  first.devices.resize(1);
  first.devices[0].openStatus = 0x01;
  int port = -1;
  EXPECT_EQ(RunDiscovery(first, second, 0, port, [](const std::string&) { return 1; }), 0xFF);
  EXPECT_EQ(first.calls, (std::vector<std::string>{"count", "open"}));
}

TEST(DiscoveryPasses, PreferredPortAmongSeveral) {
  ScriptedBridges first, second;
  first.devices.resize(3);
  first.devices[0].serial = "A";
  first.devices[1].serial = "B";
  first.devices[2].serial = "C";
  const auto reg = [](const std::string& p) { return p.back() == 'A' ? 4 : p.back() == 'B' ? 6 : p.back() == 'C' ? 8 : 0; };
  int port = -1;
  EXPECT_EQ(RunDiscovery(first, second, 6, port, reg), 0);
  EXPECT_EQ(port, 6);
  EXPECT_EQ(first.opens, 2);  // stops at the preferred one
  // A preferred port that no device has: the first device's port.
  EXPECT_EQ(RunDiscovery(first, second, 9, port, reg), 0);
  EXPECT_EQ(port, 4);
}

}  // namespace
