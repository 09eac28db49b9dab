// Adapter discovery on Linux. The bridge maker's library is played by sysfs:
//   first pass   <root>/bus/usb-serial/drivers/cp210x/ttyUSB*   (the driver's own port list)
//   second pass  <root>/class/tty/*/device/driver -> cp210x      (the same bridges from the tty side)
// Each port folder leads up (through its USB interface) to the USB device folder, which holds
// idVendor, idProduct and serial. The registry's record of a device path is the tty class:
// <root>/class/tty/<name> whose device sits on a USB device with that vendor, product and
// serial; its node is /dev/<name>.
#include "link/USBtoUART.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

// --- sysfs reading ---------------------------------------------------------------------------

std::optional<std::string> ReadAttr(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

std::optional<uint16_t> ReadHex16(const fs::path& file) {
  auto text = ReadAttr(file);
  if (!text || text->empty()) return std::nullopt;
  char* end = nullptr;
  const unsigned long v = std::strtoul(text->c_str(), &end, 16);
  if (end == text->c_str() || *end != '\0' || v > 0xFFFF) return std::nullopt;
  return static_cast<uint16_t>(v);
}

bool IsUsbDevice(const fs::path& dir) {
  std::error_code ec;
  return fs::is_regular_file(dir / "idVendor", ec) && fs::is_regular_file(dir / "idProduct", ec);
}

// From a tty's device folder up to the USB device it belongs to; the USB interface passed on
// the way is reported too. A tty on a UART of the mainboard has no USB device above it.
struct UsbPlace {
  fs::path device;
  fs::path interface;
};

std::optional<UsbPlace> FindUsbDevice(const fs::path& start, const fs::path& root) {
  UsbPlace place;
  std::error_code ec;
  const fs::path top = fs::weakly_canonical(root, ec);
  fs::path p = start;
  // Never above the sysfs root: a tty of the mainboard would otherwise walk out of it.
  for (int depth = 0; depth < 8 && p.has_relative_path() && p != top; ++depth) {
    std::error_code ec;
    if (place.interface.empty() && fs::is_regular_file(p / "bInterfaceNumber", ec)) place.interface = p;
    if (IsUsbDevice(p)) {
      place.device = p;
      return place;
    }
    p = p.parent_path();
  }
  return std::nullopt;
}

std::optional<fs::path> Resolve(const fs::path& link) {
  std::error_code ec;
  fs::path p = fs::canonical(link, ec);
  if (ec) return std::nullopt;
  return p;
}

struct TtyEntry {
  std::string name;  // ttyUSB0
  fs::path device;   // the folder the tty's "device" link points to
};

std::vector<TtyEntry> TtyClass(const fs::path& root) {
  std::vector<TtyEntry> ttys;
  std::error_code ec;
  for (fs::directory_iterator it(root / "class" / "tty", ec), end; !ec && it != end; it.increment(ec)) {
    auto device = Resolve(it->path() / "device");
    if (device) ttys.push_back({it->path().filename().string(), *device});
  }
  std::sort(ttys.begin(), ttys.end(), [](const TtyEntry& a, const TtyEntry& b) { return a.name < b.name; });
  return ttys;
}

// The driver link's last element names the driver; the link need not resolve.
std::string DriverName(const fs::path& device) {
  std::error_code ec;
  const fs::path target = fs::read_symlink(device / "driver", ec);
  return ec ? std::string() : target.filename().string();
}

bool EqualNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
         });
}

// --- the enumerations ------------------------------------------------------------------------

class TSysfsBridges : public TBridgeLibrary {
 public:
  TSysfsBridges(fs::path root, TBridgeView view) : FRoot(std::move(root)), FView(view) {}

  uint8_t GetNumDevices(uint32_t& count) override {
    FDevices.clear();
    std::vector<fs::path> ports;
    if (FView == TBridgeView::UsbSerialDriver) {
      std::error_code ec;
      const fs::path dir = FRoot / "bus" / "usb-serial" / "drivers" / kAdapterDriver;
      for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        // The folder also holds bind, unbind, uevent and the module link; ports are the tty links.
        if (it->path().filename().string().rfind("tty", 0) != 0) continue;
        if (auto port = Resolve(it->path())) ports.push_back(*port);
      }
    } else {
      for (const TtyEntry& tty : TtyClass(FRoot))
        if (DriverName(tty.device) == kAdapterDriver) ports.push_back(tty.device);
    }
    for (const fs::path& port : ports) {
      auto place = FindUsbDevice(port, FRoot);
      if (place && std::find(FDevices.begin(), FDevices.end(), place->device) == FDevices.end())
        FDevices.push_back(place->device);
    }
    std::sort(FDevices.begin(), FDevices.end());
    count = static_cast<uint32_t>(FDevices.size());
    return LINK_OK;
  }

  uint8_t Open(uint32_t index, int& handle) override {
    std::error_code ec;
    if (index >= FDevices.size() || !fs::is_directory(FDevices[index], ec)) return BRIDGE_NOT_FOUND;
    handle = static_cast<int>(index);
    return LINK_OK;
  }

  uint8_t Close(int handle) override { return Valid(handle) ? LINK_OK : BRIDGE_INVALID_HANDLE; }

  uint8_t GetDeviceVid(int handle, uint16_t& vid) override {
    if (!Valid(handle)) return BRIDGE_INVALID_HANDLE;
    auto v = ReadHex16(FDevices[handle] / "idVendor");
    if (!v) return BRIDGE_VID_UNREADABLE;
    vid = *v;
    return LINK_OK;
  }

  uint8_t GetDevicePid(int handle, uint16_t& pid) override {
    if (!Valid(handle)) return BRIDGE_INVALID_HANDLE;
    auto v = ReadHex16(FDevices[handle] / "idProduct");
    if (!v) return BRIDGE_PID_UNREADABLE;
    pid = *v;
    return LINK_OK;
  }

  uint8_t GetDeviceSerialNumber(int handle, std::string& serial) override {
    if (!Valid(handle)) return BRIDGE_INVALID_HANDLE;
    std::error_code ec;
    const fs::path file = FDevices[handle] / "serial";
    // A bridge programmed without a serial number has no such file: an empty serial.
    if (!fs::exists(file, ec)) {
      serial.clear();
      return LINK_OK;
    }
    auto text = ReadAttr(file);
    if (!text) return BRIDGE_SERIAL_UNREADABLE;
    serial = *text;
    return LINK_OK;
  }

 private:
  bool Valid(int handle) const { return handle >= 0 && static_cast<size_t>(handle) < FDevices.size(); }

  fs::path FRoot;
  TBridgeView FView;
  std::vector<fs::path> FDevices;
};

// One pass over one enumeration; table is this pass's port table.
uint8_t RunPass(TBridgeLibrary& lib, int nDefPort, int& nPort, std::vector<int>& table,
                const std::function<int(const std::string&)>& regPort) {
  nPort = 0;
  uint32_t count = 0;
  uint8_t status = lib.GetNumDevices(count);
  if (count == 0) status = LINK_NOADAPTER;
  if (count > 1 && nDefPort < 1) status = LINK_MULTIADAPTER;
  if (status != 0) return status;

  table.assign(count, 0);
  for (uint32_t i = 0; i < count && status == 0; ++i) {
    int handle = -1;
    bool opened = false;
    uint16_t vid = 0, pid = 0;
    std::string serial;
    status = lib.Open(i, handle);
    if (status == 0) {
      opened = true;
      status = lib.GetDeviceVid(handle, vid);
    }
    if (status == 0) status = lib.GetDevicePid(handle, pid);
    if (status == 0) status = lib.GetDeviceSerialNumber(handle, serial);
    // No version gate: every Linux kernel with this driver is fine.
    if (status == 0) {
      table[i] = regPort(DevicePathText(vid, pid, serial, false));
      if (table[i] == 0) table[i] = regPort(DevicePathText(vid, pid, serial, true));
    }
    if (opened) lib.Close(handle);
    if (status == 0 && table[i] > 0 && table[i] == nDefPort) {
      nPort = nDefPort;
      break;
    }
  }
  return status;
}

}  // namespace

std::string DevicePathText(uint16_t vid, uint16_t pid, const std::string& serial, bool interfaceForm) {
  char ids[32];
  std::snprintf(ids, sizeof ids, "VID_%04X&PID_%04X", vid, pid);
  std::string text = serial;
  std::replace(text.begin(), text.end(), ' ', '_');
  return interfaceForm ? std::string(ids) + "&Mi_00\\" + text + "_00" : std::string(ids) + "\\" + text;
}

int TPortTable::RegisterPortDevice(const std::string& deviceNode) {
  auto it = std::find(FNodes.begin(), FNodes.end(), deviceNode);
  if (it != FNodes.end()) return static_cast<int>(it - FNodes.begin()) + 1;
  FNodes.push_back(deviceNode);
  return static_cast<int>(FNodes.size());
}

std::string TPortTable::PortDeviceName(int nPort) const {
  if (nPort < 1 || static_cast<size_t>(nPort) > FNodes.size()) return {};
  return FNodes[nPort - 1];
}

int GetRegPortNumber(TPortTable& ports, const std::string& sPath, const std::string& sysRoot) {
  for (const TtyEntry& tty : TtyClass(sysRoot)) {
    auto place = FindUsbDevice(tty.device, sysRoot);
    if (!place) continue;
    const std::optional<RUsbIds> ids = ReadUsbIds(place->device.string());
    if (!ids) continue;
    const uint16_t vid = ids->vid, pid = ids->pid;
    const std::string& serial = ids->serial;
    // A device with several interfaces is recorded per interface, as the interface form.
    const auto interfaces = ReadAttr(place->device / "bNumInterfaces");
    const bool composite = interfaces && std::atoi(interfaces->c_str()) > 1;
    bool match;
    if (composite) {
      const std::string number = place->interface.empty() ? "" : ReadAttr(place->interface / "bInterfaceNumber").value_or("");
      match = number == "00" && EqualNoCase(sPath, DevicePathText(vid, pid, serial, true));
    } else {
      match = EqualNoCase(sPath, DevicePathText(vid, pid, serial, false));
    }
    if (match) return ports.RegisterPortDevice("/dev/" + tty.name);
  }
  return 0;
}

std::unique_ptr<TBridgeLibrary> MakeSysfsBridges(const std::string& sysRoot, TBridgeView view) {
  return std::make_unique<TSysfsBridges>(sysRoot, view);
}

uint8_t RunDiscovery(TBridgeLibrary& first, TBridgeLibrary& second, int nDefPort, int& nPort,
                     const std::function<int(const std::string&)>& regPort) {
  nPort = 0;
  std::vector<int> table;
  uint8_t status = RunPass(first, nDefPort, nPort, table, regPort);
  if (status != 0) status = RunPass(second, nDefPort, nPort, table, regPort);  // a table of its own
  if (nPort == 0 && status == 0) nPort = table[0];
  return status;
}

uint8_t FindComPort(TPortTable& ports, int nDefPort, int& nPort, const std::string& sysRoot) {
  nPort = 0;
  if (const std::string named = PortOverride(); !named.empty()) {
    nPort = ports.RegisterPortDevice(named);
    return 0;
  }
  auto first = MakeSysfsBridges(sysRoot, TBridgeView::UsbSerialDriver);
  auto second = MakeSysfsBridges(sysRoot, TBridgeView::TtyClass);
  return RunDiscovery(*first, *second, nDefPort, nPort,
                      [&](const std::string& path) { return GetRegPortNumber(ports, path, sysRoot); });
}

std::vector<uint32_t> AdapterIdTable(const std::string& aliasFile) {
  // "alias usb:v10C4pEA60d*dc*dsc*dp*ic*isc*ip*in* cp210x"
  std::vector<uint32_t> table;
  std::ifstream in(aliasFile);
  for (std::string line; std::getline(in, line);) {
    const size_t space = line.rfind(' ');
    unsigned vid = 0, pid = 0;
    if (space == std::string::npos || line.compare(space + 1, std::string::npos, kAdapterDriver) != 0 ||
        std::sscanf(line.c_str(), "alias usb:v%4Xp%4X", &vid, &pid) != 2)
      continue;
    table.push_back(vid << 16 | pid);
  }
  if (!table.empty()) return table;
  // The factory ids of the bridges (single, dual and quad), and those of their Windows Update drivers.
  for (const uint16_t pid : {0xEA60, 0xEA61, 0xEA63, 0xEA70, 0xEA71, 0xEA7A, 0xEA7B}) table.push_back(0x10C4u << 16 | pid);
  return table;
}

std::optional<RUsbIds> ReadUsbIds(const std::string& usbDevice) {
  const fs::path dir = usbDevice;
  const std::optional<uint16_t> vid = ReadHex16(dir / "idVendor"), pid = ReadHex16(dir / "idProduct");
  if (!vid || !pid) return std::nullopt;
  return RUsbIds{*vid, *pid, ReadAttr(dir / "serial").value_or("")};
}

std::string UsbIdsText(uint16_t vid, uint16_t pid) {
  char text[16];
  std::snprintf(text, sizeof text, "%04x:%04x", vid, pid);
  return text;
}

std::vector<RBridgePort> ListBridgePorts(const std::string& sysRoot) {
  std::vector<RBridgePort> ports;
  for (const TtyEntry& tty : TtyClass(sysRoot)) {
    if (DriverName(tty.device) != kAdapterDriver) continue;
    auto place = FindUsbDevice(tty.device, sysRoot);
    if (!place) continue;
    RBridgePort port;
    port.tty = tty.name;
    const RUsbIds ids = ReadUsbIds(place->device.string()).value_or(RUsbIds{});
    port.vid = ids.vid;
    port.pid = ids.pid;
    port.serial = ids.serial;
    port.usbDevice = place->device.string();
    ports.push_back(std::move(port));
  }
  return ports;
}

std::string PortDescription(const std::string& device, bool& adapter, const std::string& sysRoot) {
  adapter = false;
  if (device.empty()) return "no adapter";
  char resolved[PATH_MAX];
  const std::string real = ::realpath(device.c_str(), resolved) ? resolved : device;
  // Only the port's own terminal entry is read: a description walks no other terminal.
  const std::string name = real.rfind("/dev/", 0) == 0 ? real.substr(5) : std::string();
  try {
    if (!name.empty() && name.find('/') == std::string::npos) {
      const auto port = Resolve(fs::path(sysRoot) / "class" / "tty" / name / "device");
      const auto place = port && DriverName(*port) == kAdapterDriver ? FindUsbDevice(*port, sysRoot) : std::nullopt;
      if (place) {
        const RUsbIds ids = ReadUsbIds(place->device.string()).value_or(RUsbIds{});
        adapter = true;
        return UsbIdsText(ids.vid, ids.pid) + " " + (ids.serial.empty() ? "-" : ids.serial) + " " + real;
      }
    }
  } catch (...) {
    // Discovery is only asked for a description; the port is then no adapter it knows.
  }
  return "no adapter " + device;
}

std::string PortOverride() {
  const char* named = std::getenv("BEAMDOCK_PORT");
  return named ? named : "";
}
