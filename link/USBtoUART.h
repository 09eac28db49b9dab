// Finding the one BeamDock adapter among the USB-to-UART bridges.
#pragma once

#include "link/ResultCodes.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The one place where a port number becomes a device node. Numbers are handed out by
// discovery, from 1, and stay the same for a node while the table lives (the link's, while the
// program runs); a number never handed out gives "" (which no open succeeds on). The link
// object owns one; discovery is given it.
class TPortTable {
 public:
  int RegisterPortDevice(const std::string& deviceNode);
  std::string PortDeviceName(int nPort) const;

 private:
  std::vector<std::string> FNodes;  // number n is FNodes[n - 1]
};

// Result 0 and nPort set, or a discovery code (0x01-0x09 passed through,
// 0xFD, 0xFE, 0xFF); the number is one of ports. BEAMDOCK_PORT, when set, names the device
// and discovery reports exactly that device.
uint8_t FindComPort(TPortTable& ports, int nDefPort, int& nPort, const std::string& sysRoot = "/sys");

// The port number recorded in ports for one device path text (VID_10C4&PID_EA60\0001 or the
// interface form VID_10C4&PID_EA60&Mi_00\0001_00), or 0. The record is the tty class of sysfs:
// every tty that sits on a USB device, whatever its driver.
int GetRegPortNumber(TPortTable& ports, const std::string& sPath, const std::string& sysRoot = "/sys");

// "VID_" vid "&PID_" pid "\" serial, or with "&Mi_00\" ... "_00" for the interface form; ids in
// upper-case hex of 4 digits, blanks of the serial as "_".
std::string DevicePathText(uint16_t vid, uint16_t pid, const std::string& serial, bool interfaceForm);

// One way of enumerating CP210x bridges, shaped like the bridge maker's library.
class TBridgeLibrary {
 public:
  virtual ~TBridgeLibrary() = default;
  virtual uint8_t GetNumDevices(uint32_t& count) = 0;
  virtual uint8_t Open(uint32_t index, int& handle) = 0;
  virtual uint8_t Close(int handle) = 0;
  virtual uint8_t GetDeviceVid(int handle, uint16_t& vid) = 0;
  virtual uint8_t GetDevicePid(int handle, uint16_t& pid) = 0;
  virtual uint8_t GetDeviceSerialNumber(int handle, std::string& serial) = 0;
};

// The two enumerations of this platform, both over sysfs:
//  UsbSerialDriver: the ports the cp210x driver lists in <root>/bus/usb-serial/drivers/cp210x.
//  TtyClass: the ttys in <root>/class/tty whose device's driver is cp210x; the same bridges
//   seen from the other side, for a sysfs where the driver's folder cannot be read.
// Both count USB devices (a dual bridge is one device), sorted by their sysfs path.
enum class TBridgeView { UsbSerialDriver, TtyClass };
std::unique_ptr<TBridgeLibrary> MakeSysfsBridges(const std::string& sysRoot, TBridgeView view);

// The two passes over any pair of enumerations; regPort plays GetRegPortNumber.
uint8_t RunDiscovery(TBridgeLibrary& first, TBridgeLibrary& second, int nDefPort, int& nPort,
                     const std::function<int(const std::string&)>& regPort);

// Which adapters count, for discovery, `ports`, `doctor` and the udev rule alike: every USB
// device the cp210x driver serves, whatever its ids (a bridge's ids only name its port).
constexpr const char* kAdapterDriver = "cp210x";
// A USB device that no driver serves yet counts when its ids are in the driver's table: the
// running kernel's modules.alias (aliasFile); without one, or without a cp210x line in it, the
// bridge maker's own ids. Each entry is vid << 16 | pid. The doctor uses this to name an
// adapter that has lost its driver.
std::vector<uint32_t> AdapterIdTable(const std::string& aliasFile);

// One port of a CP210x bridge as the tty side of sysfs shows it, for listing and checking
// without opening anything.
struct RBridgePort {
  std::string tty;        // ttyUSB0; its node is /dev/<tty>
  uint16_t vid = 0, pid = 0;
  std::string serial;     // "" when the bridge has none
  std::string usbDevice;  // the USB device's sysfs folder, under sysRoot
};
// A USB device's ids and serial as its sysfs folder gives them; nullopt when an id cannot be
// read. Discovery and the port doctor read them here alone.
struct RUsbIds {
  uint16_t vid = 0, pid = 0;
  std::string serial;  // "" when the device has none
};
std::optional<RUsbIds> ReadUsbIds(const std::string& usbDevice);
// "10c4:ea60", as sysfs and lsusb write them.
std::string UsbIdsText(uint16_t vid, uint16_t pid);

// Every tty of the cp210x driver (the bridges discovery counts), sorted by tty name.
std::vector<RBridgePort> ListBridgePorts(const std::string& sysRoot = "/sys");

// The port text of a device node for the service records ("10c4:ea60 0001 /dev/ttyUSB0", or
// "no adapter /dev/pts/3"), and whether it is an adapter discovery finds under sysRoot.
std::string PortDescription(const std::string& device, bool& adapter, const std::string& sysRoot = "/sys");

// The serial device named by BEAMDOCK_PORT, which then replaces discovery; empty when unset.
std::string PortOverride();
