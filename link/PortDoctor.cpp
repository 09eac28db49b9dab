#include "link/PortDoctor.h"

#include "link/CommInt.h"
#include "link/KVTComms.h"
#include "link/USBtoUART.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

namespace fs = std::filesystem;

namespace {

// An absolute path of the machine, below the root of env.
fs::path Host(const RDoctorEnv& env, const std::string& path) {
  if (env.root == "/" || env.root.empty()) return path;
  return fs::path(env.root) / fs::path(path).relative_path();
}

std::string ReadText(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

bool Exists(const fs::path& p) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(p, ec));
}

std::string Join(const std::vector<std::string>& items, const std::string& sep) {
  std::string out;
  for (const std::string& s : items) out += (out.empty() ? "" : sep) + s;
  return out;
}

// --- udev rules ------------------------------------------------------------------------------

// The rules udev applies: one file per name, /etc before /run before the packages' folders.
// A file masked by an empty one or a link to /dev/null is no rule.
struct RRule {
  std::string name;
  fs::path file;
};

std::vector<RRule> ActiveRules(const RDoctorEnv& env) {
  std::vector<RRule> rules;
  std::vector<std::string> seen;
  for (const char* dir : {"/etc/udev/rules.d", "/run/udev/rules.d", "/usr/lib/udev/rules.d", "/lib/udev/rules.d"}) {
    std::error_code ec;
    std::vector<fs::path> files;
    for (fs::directory_iterator it(Host(env, dir), ec), end; !ec && it != end; it.increment(ec))
      if (it->path().extension() == ".rules") files.push_back(it->path());
    std::sort(files.begin(), files.end());
    for (const fs::path& f : files) {
      const std::string name = f.filename().string();
      if (std::find(seen.begin(), seen.end(), name) != seen.end()) continue;
      seen.push_back(name);
      std::error_code e2;
      const bool toNull = fs::is_symlink(f, e2) && fs::read_symlink(f, e2) == "/dev/null";
      if (toNull || ReadText(f).empty()) continue;
      rules.push_back({name, f});
    }
  }
  return rules;
}

// --- processes -------------------------------------------------------------------------------

struct RProcess {
  pid_t pid;
  std::string comm;
};

std::vector<RProcess> Processes(const RDoctorEnv& env) {
  std::vector<RProcess> list;
  std::error_code ec;
  for (fs::directory_iterator it(Host(env, "/proc"), ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.empty() || !std::all_of(name.begin(), name.end(), ::isdigit)) continue;
    list.push_back({static_cast<pid_t>(std::stol(name)), ReadText(it->path() / "comm")});
  }
  return list;
}

bool Running(const RDoctorEnv& env, const std::string& comm) {
  for (const RProcess& p : Processes(env))
    if (p.comm == comm) return true;
  return false;
}

// The device a pseudo-terminal's master end serves, from the fd's info: "tty-index: 3".
std::optional<int> PtyIndex(const fs::path& procDir, const std::string& fd) {
  std::ifstream in(procDir / "fdinfo" / fd);
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("tty-index:", 0) == 0) return std::atoi(line.c_str() + 10);
  return std::nullopt;
}

struct RHolders {
  std::vector<std::string> names;  // "minicom (pid 4711)"
  bool partial = false;            // some processes could not be looked into
};

// Other programs with the device open. On a pseudo-terminal the program holding its master
// end (a simulator) is the device itself, not a rival.
RHolders Holders(const RDoctorEnv& env, const std::string& node) {
  RHolders holders;
  const std::string pts = "/dev/pts/";
  const bool isPty = node.rfind(pts, 0) == 0;
  const int ptyNumber = isPty ? std::atoi(node.c_str() + pts.size()) : -1;
  for (const RProcess& p : Processes(env)) {
    if (p.pid == env.self) continue;
    const fs::path dir = Host(env, "/proc/" + std::to_string(p.pid));
    std::error_code ec;
    fs::directory_iterator it(dir / "fd", ec), end;
    if (ec) {
      holders.partial = holders.partial || ec == std::errc::permission_denied;
      continue;
    }
    bool holds = false, farEnd = false;
    for (; !ec && it != end; it.increment(ec)) {
      std::error_code e2;
      const std::string target = fs::read_symlink(it->path(), e2).string();
      if (target == node) holds = true;
      if (isPty && (target == "/dev/ptmx" || target == "/dev/pts/ptmx") &&
          PtyIndex(dir, it->path().filename().string()) == ptyNumber)
        farEnd = true;
    }
    if (holds && !farEnd) holders.names.push_back(p.comm + " (pid " + std::to_string(p.pid) + ")");
    if (holders.names.size() == 4) {
      holders.names.back() = "more";  // a name or three is enough to act on
      break;
    }
  }
  return holders;
}

// --- groups ----------------------------------------------------------------------------------

struct RGroup {
  std::string name;
  std::vector<std::string> members;
};

std::optional<RGroup> FindGroup(const RDoctorEnv& env, gid_t gid) {
  std::ifstream in(Host(env, "/etc/group"));
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> f;
    std::stringstream ss(line);
    for (std::string part; std::getline(ss, part, ':');) f.push_back(part);
    if (f.size() < 3 || f[2] != std::to_string(gid)) continue;
    RGroup g{f[0], {}};
    if (f.size() > 3) {
      std::stringstream ms(f[3]);
      for (std::string m; std::getline(ms, m, ',');) g.members.push_back(m);
    }
    return g;
  }
  if (env.root != "/") return std::nullopt;
  // Groups kept elsewhere than /etc/group (a directory service).
  std::vector<char> buf(16384);
  struct group gr {};
  struct group* found = nullptr;
  if (::getgrgid_r(gid, &gr, buf.data(), buf.size(), &found) != 0 || !found) return std::nullopt;
  RGroup g{found->gr_name, {}};
  for (char** m = found->gr_mem; m && *m; ++m) g.members.emplace_back(*m);
  return g;
}

// The user's group of /etc/passwd, which the group file does not list as a membership.
std::optional<gid_t> PrimaryGroup(const RDoctorEnv& env) {
  std::ifstream in(Host(env, "/etc/passwd"));
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> f;
    std::stringstream ss(line);
    for (std::string part; std::getline(ss, part, ':');) f.push_back(part);
    if (f.size() > 3 && f[0] == env.user) return static_cast<gid_t>(std::strtoul(f[3].c_str(), nullptr, 10));
  }
  return std::nullopt;
}

bool MayUse(const RDoctorEnv& env, const std::string& node, const struct stat& st) {
  if (env.uid == 0) return true;
  const bool inGroup = std::find(env.groups.begin(), env.groups.end(), st.st_gid) != env.groups.end();
  if (st.st_uid == env.uid && (st.st_mode & 0600) == 0600) return true;
  if (inGroup && (st.st_mode & 0060) == 0060) return true;
  if ((st.st_mode & 0006) == 0006) return true;
  // Access lists (the seat's user gets one from udev's uaccess tag) only the system can judge.
  return env.root == "/" && ::access(node.c_str(), R_OK | W_OK) == 0;
}

// Why this user may not use node, with the fix; nullopt when the user may.
std::optional<std::string> AccessProblem(const RDoctorEnv& env, const std::string& node, const struct stat& st) {
  if (MayUse(env, node, st)) return std::nullopt;
  // Joining root's group to reach one device would give away far more than the device.
  const char* kRuleFix = "install the beamdock package, whose udev rule gives the adapter to the user at the seat, and replug";
  if (st.st_gid == 0) return std::string("no permission: it belongs to the group root, which is not for users: ") + kRuleFix;
  if ((st.st_mode & 0060) != 0060) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%03o", static_cast<unsigned>(st.st_mode & 0777));
    return std::string("no permission: only its owner may use it (mode ") + mode + "): " + kRuleFix;
  }
  const auto group = FindGroup(env, st.st_gid);
  const std::string name = group ? group->name : std::to_string(st.st_gid);
  const bool listed = (group && std::find(group->members.begin(), group->members.end(), env.user) != group->members.end()) ||
                      PrimaryGroup(env) == st.st_gid;
  if (listed)
    return "no permission: it belongs to the group \"" + name + "\", which " + env.user +
           " joined after logging in: log out and in again (or start a shell with: newgrp " + name + ")";
  return "no permission: it belongs to the group \"" + name + "\": add " + env.user + " to it (sudo usermod -aG " +
         name + " " + env.user + "), then log out and in again";
}

// The drivers bound to a USB device's interfaces.
std::vector<std::string> InterfaceDrivers(const fs::path& usb) {
  std::vector<std::string> drivers;
  std::error_code ec;
  for (fs::directory_iterator it(usb, ec), end; !ec && it != end; it.increment(ec)) {
    if (!Exists(it->path() / "bInterfaceNumber")) continue;
    std::error_code e2;
    const std::string driver = fs::read_symlink(it->path() / "driver", e2).filename().string();
    if (!driver.empty()) drivers.push_back(driver);
  }
  return drivers;
}

// The running kernel's module folder ("" when this machine has none to read).
fs::path ModulesDir(const RDoctorEnv& env) {
  const std::string release = ReadText(Host(env, "/proc/sys/kernel/osrelease"));
  if (release.empty()) return {};
  for (const std::string base : {"/lib/modules/", "/usr/lib/modules/"})
    if (Exists(Host(env, base + release))) return Host(env, base + release);
  return {};
}

// USB devices that count as adapters (the link's rule): served by the adapter's driver, or,
// when it does not serve them, with ids of its table. By their folder under /sys/bus/usb/devices.
std::vector<fs::path> AdaptersOnBus(const RDoctorEnv& env) {
  const fs::path modules = ModulesDir(env);
  const std::vector<uint32_t> table = AdapterIdTable(modules.empty() ? std::string() : (modules / "modules.alias").string());
  std::vector<fs::path> found;
  std::error_code ec;
  for (fs::directory_iterator it(Host(env, "/sys/bus/usb/devices"), ec), end; !ec && it != end; it.increment(ec)) {
    const std::vector<std::string> drivers = InterfaceDrivers(it->path());
    const bool served = std::find(drivers.begin(), drivers.end(), kAdapterDriver) != drivers.end();
    if (!served) {
      const std::optional<RUsbIds> ids = ReadUsbIds(it->path().string());
      if (!ids || ids->vid == 0 || std::find(table.begin(), table.end(), uint32_t{ids->vid} << 16 | ids->pid) == table.end())
        continue;
    }
    std::error_code e2;
    const fs::path dev = fs::canonical(it->path(), e2);
    if (!e2 && std::find(found.begin(), found.end(), dev) == found.end()) found.push_back(dev);
  }
  std::sort(found.begin(), found.end());
  return found;
}

// Whether a module list of the kernel (modules.builtin, modules.dep) has the adapter's driver.
bool ModuleListed(const fs::path& list) {
  std::ifstream in(list);
  const std::string wanted = std::string(kAdapterDriver) + ".ko";
  for (std::string line; std::getline(in, line);) {
    const std::string file = fs::path(line.substr(0, line.find(':'))).filename().string();
    if (file.rfind(wanted, 0) == 0) return true;  // also cp210x.ko.xz, .ko.zst
  }
  return false;
}

// What to do for an adapter that no driver serves, from what the running kernel has.
std::string DriverFix(const RDoctorEnv& env) {
  const std::string replug = "unplug and replug the adapter";
  if (Exists(Host(env, std::string("/sys/module/") + kAdapterDriver)))
    return std::string("the ") + kAdapterDriver + " driver is loaded but did not take the adapter: " + replug;
  const fs::path modules = ModulesDir(env);
  if (!modules.empty() && ModuleListed(modules / "modules.builtin"))
    return std::string("the ") + kAdapterDriver + " driver is built into this kernel but did not take the adapter: " + replug;
  if (modules.empty() || ModuleListed(modules / "modules.dep"))
    return std::string("run sudo modprobe ") + kAdapterDriver + ", then " + replug;
  const std::string release = modules.filename().string();
  return "this kernel (" + release + ") has no " + kAdapterDriver +
         " module: install its extra modules (on Ubuntu: sudo apt install linux-modules-extra-" + release +
         "), then " + replug;
}

// udev's database entry of a tty (found by its device number), or nullopt when udev has none.
std::optional<std::string> UdevEntry(const RDoctorEnv& env, const std::string& node) {
  if (node.rfind("/dev/", 0) != 0) return std::nullopt;
  const std::string number = ReadText(Host(env, "/sys/class/tty/" + node.substr(5) + "/dev"));
  const fs::path entry = Host(env, "/run/udev/data/c" + number);
  if (number.empty() || !Exists(entry)) return std::nullopt;
  return "\n" + ReadText(entry) + "\n";
}

std::string Describe(const fs::path& usb) {
  const std::optional<RUsbIds> ids = ReadUsbIds(usb.string());
  const std::string serial = ids ? ids->serial : "";
  return usb.filename().string() + (serial.empty() ? "" : " (serial " + serial + ")");
}

std::string ResolveNamed(const RDoctorEnv& env, const std::string& named) {
  std::error_code ec;
  const fs::path real = fs::canonical(Host(env, named), ec);
  if (ec) return named;
  if (env.root == "/" || env.root.empty()) return real.string();
  const fs::path rel = real.lexically_relative(fs::canonical(env.root, ec));
  return ec || rel.empty() || *rel.begin() == ".." ? named : "/" + rel.string();
}

const char* kUseNamedPort = "name it with --port or BEAMDOCK_PORT (beamdock-cli ports lists the adapters)";

}  // namespace

RDoctorEnv CurrentDoctorEnv() {
  RDoctorEnv env;
  env.uid = ::geteuid();
  env.self = ::getpid();
  const int n = ::getgroups(0, nullptr);
  env.groups.resize(n > 0 ? n : 0);
  if (n > 0 && ::getgroups(n, env.groups.data()) != n) env.groups.clear();
  env.groups.push_back(::getegid());
  std::vector<char> buf(16384);
  struct passwd pw {};
  struct passwd* found = nullptr;
  if (::getpwuid_r(env.uid, &pw, buf.data(), buf.size(), &found) == 0 && found) env.user = found->pw_name;
  if (env.user.empty()) env.user = "$USER";
  return env;
}

std::string DiagnosePortOpen(const RDoctorEnv& env, const std::string& device, int errorCode) {
  if (device.empty()) return std::string("no adapter found: plug the BeamDock adapter in, or ") + kUseNamedPort;
  struct stat st {};
  if (::stat(Host(env, device).c_str(), &st) != 0 || errorCode == ENOENT || errorCode == ENODEV || errorCode == ENXIO)
    return device + ": no such device: plug the adapter in, or check the name given with --port or BEAMDOCK_PORT";
  if (errorCode == EACCES || errorCode == EPERM)
    return device + ": " + AccessProblem(env, device, st).value_or("no permission: the system refused access");
  if (!S_ISCHR(st.st_mode) || errorCode == -1 || errorCode == ENOTTY)
    return device + ": not a serial device: " + kUseNamedPort;
  const RHolders holders = Holders(env, ResolveNamed(env, device));
  if (errorCode == EBUSY || !holders.names.empty())
    return device + ": in use by another program" +
           (holders.names.empty() ? std::string() : " (" + Join(holders.names, ", ") + ")") + ": close it, then try again";
  return device + ": " + (errorCode > 0 ? std::strerror(errorCode) : "cannot be opened");
}

std::vector<RDoctorCheck> RunDoctor(const RDoctorEnv& env, const std::string& namedPort) {
  std::vector<RDoctorCheck> checks;
  auto add = [&](const char* name, TCheckState state, std::string text) {
    checks.push_back({name, state, std::move(text)});
    return state != TCheckState::Fail;
  };
  const char* kBus = "adapter on the USB bus";
  const char* kDriver = "cp210x driver and tty";
  const std::vector<RBridgePort> bridges = ListBridgePorts(Host(env, "/sys").string());

  // 1, 2: the adapter and its driver; with a named device only when it is an adapter.
  std::string node;
  std::vector<fs::path> adapters = AdaptersOnBus(env);
  if (!namedPort.empty()) {
    node = ResolveNamed(env, namedPort);
    auto it = std::find_if(bridges.begin(), bridges.end(), [&](const RBridgePort& b) { return "/dev/" + b.tty == node; });
    if (it == bridges.end()) {
      add(kBus, TCheckState::Skip, namedPort + " is named by --port or BEAMDOCK_PORT and is no USB adapter");
      add(kDriver, TCheckState::Skip, "no USB adapter named");
      adapters.clear();
    } else {
      std::error_code ec;
      adapters = {fs::canonical(it->usbDevice, ec)};
    }
  }
  if (namedPort.empty() || !adapters.empty()) {
    if (adapters.empty()) {
      add(kBus, TCheckState::Fail,
          "no CP210x adapter found: plug the BeamDock adapter in; if it is in, try another USB socket or "
          "cable");
    } else if (adapters.size() > 1) {
      std::vector<std::string> where;
      for (const fs::path& a : adapters) where.push_back(Describe(a));
      add(kBus, TCheckState::Fail,
          std::to_string(adapters.size()) + " adapters found (" + Join(where, ", ") +
              "): the tool uses one; unplug the others, or " + kUseNamedPort +
              "; a /dev/serial/by-path name stays with its USB socket even when serials are alike");
    } else {
      const std::optional<RUsbIds> ids = ReadUsbIds(adapters[0].string());
      add(kBus, TCheckState::Ok,
          (ids ? UsbIdsText(ids->vid, ids->pid) : std::string("?")) + " at " + Describe(adapters[0]));
    }
    std::vector<std::string> ttys, problems;
    bool unserved = false;
    for (const fs::path& a : adapters) {
      std::vector<std::string> mine;
      for (const RBridgePort& b : bridges) {
        std::error_code ec;
        if (fs::canonical(b.usbDevice, ec) == a) mine.push_back("/dev/" + b.tty);
      }
      const std::vector<std::string> drivers = InterfaceDrivers(a);
      if (mine.empty()) {
        unserved = unserved || drivers.empty();
        problems.push_back(a.filename().string() +
                           (drivers.empty() ? std::string(" has no driver") : " is held by the driver " + drivers[0]));
      }
      for (const std::string& t : mine)
        if (Exists(Host(env, t)))
          ttys.push_back(t);
        else
          problems.push_back(t + " is missing although the driver made the tty");
    }
    if (adapters.empty())
      add(kDriver, TCheckState::Skip, "no adapter");
    else if (!problems.empty())
      add(kDriver, TCheckState::Fail, Join(problems, "; ") + ": " + (unserved ? DriverFix(env) : "unplug and replug it"));
    else
      add(kDriver, TCheckState::Ok, Join(ttys, ", "));
    if (namedPort.empty() && adapters.size() == 1 && problems.empty() && ttys.size() == 1) node = ttys[0];
  }

  // 3, 4: the services that take serial adapters away from their users.
  const std::vector<RRule> rules = ActiveRules(env);
  bool brlttyInstalled = false;
  for (const char* file : {"/usr/bin/brltty", "/bin/brltty", "/usr/lib/systemd/system/brltty-udev.service",
                           "/lib/systemd/system/brltty-udev.service"})
    brlttyInstalled = brlttyInstalled || Exists(Host(env, file));
  std::string brlttyRule;
  for (const RRule& r : rules)
    if (r.name.find("brltty") != std::string::npos) brlttyRule = r.name;
  const bool brlttyRunning = Running(env, "brltty");
  if ((brlttyInstalled && !brlttyRule.empty()) || brlttyRunning) {
    std::string fix = "brltty (braille displays) is installed";
    fix += brlttyRule.empty() ? " and running" : " and its udev rule " + brlttyRule + " is active";
    fix += "; it claims CP210x adapters and their device node vanishes: mask it, no need to uninstall: ";
    if (!brlttyRule.empty()) fix += "sudo ln -s /dev/null /etc/udev/rules.d/" + brlttyRule + "; ";
    fix += "sudo systemctl mask --now brltty-udev.service brltty.service; then replug the adapter";
    add("brltty", TCheckState::Fail, fix);
  } else {
    add("brltty", TCheckState::Ok,
        brlttyInstalled ? "installed, its udev rule masked and not running" : "not installed");
  }

  std::string ourRule;
  for (const RRule& r : rules) {
    const std::string text = Lower(ReadText(r.file));
    if (text.find("id_mm_device_ignore") != std::string::npos && text.find(kAdapterDriver) != std::string::npos)
      ourRule = r.name;
  }
  // What udev gave this very device outranks which rule files exist.
  const std::optional<std::string> entry = node.empty() ? std::nullopt : UdevEntry(env, node);
  const bool ignored = entry && entry->find("\nE:ID_MM_DEVICE_IGNORE=1\n") != std::string::npos;
  if (!Running(env, "ModemManager"))
    add("ModemManager", TCheckState::Ok, "not running");
  else if (ignored)
    add("ModemManager", TCheckState::Ok, "running; udev tells it to leave " + node + " alone (ID_MM_DEVICE_IGNORE)");
  else if (entry && !ourRule.empty())
    add("ModemManager", TCheckState::Fail,
        "running, and udev has not applied the rule " + ourRule + " to " + node +
            ", so it probes the adapter and writes AT commands into it: unplug and replug the adapter (or: sudo "
            "udevadm trigger --subsystem-match=tty --action=change)");
  else if (!entry && !ourRule.empty())
    add("ModemManager", TCheckState::Ok, "running; the rule " + ourRule + " keeps it off the adapter");
  else
    add("ModemManager", TCheckState::Fail,
        "running without BeamDock's udev rule, so it probes the adapter and writes AT commands into it: install the "
        "beamdock package (its rule sets ID_MM_DEVICE_IGNORE) and replug, or stop it: sudo systemctl stop "
        "ModemManager");

  // 5, 6: the node itself, without opening it.
  const char* kAccess = "access to the device node";
  const char* kHolders = "no other program holds it";
  struct stat st {};
  if (node.empty()) {
    add(kAccess, TCheckState::Skip, "no single adapter to check");
    add(kHolders, TCheckState::Skip, "no single adapter to check");
  } else if (::stat(Host(env, node).c_str(), &st) != 0) {
    add(kAccess, TCheckState::Fail, DiagnosePortOpen(env, node, ENOENT));
    node.clear();
    add(kHolders, TCheckState::Skip, "no device node");
  } else {
    const auto group = FindGroup(env, st.st_gid);
    const auto problem = AccessProblem(env, node, st);
    add(kAccess, problem ? TCheckState::Fail : TCheckState::Ok,
        problem ? node + ": " + *problem
                : node + " (group " + (group ? group->name : std::to_string(st.st_gid)) + "): " + env.user +
                      " may use it");
    const RHolders holders = Holders(env, node);
    if (!holders.names.empty())
      add(kHolders, TCheckState::Fail,
          node + " is open in " + Join(holders.names, ", ") + ": close that program, then try again");
    else
      add(kHolders, TCheckState::Ok,
          holders.partial ? "none of this user's programs (those of other users cannot be looked into)" : "none");
  }
  if (!env.openPort) return checks;

  // 7, 8: open the port as the link does and knock.
  const char* kOpens = "port opens at 115200 8N1";
  const char* kAnswers = "a detector answers the handshake";
  if (node.empty()) {
    add(kOpens, TCheckState::Skip, "no device to open");
    add(kAnswers, TCheckState::Skip, "no port");
    return checks;
  }
  TComKVT link;
  try {
    link.ComOpen(link.Ports().RegisterPortDevice(Host(env, node).string()));
  } catch (const ECommError& e) {
    add(kOpens, TCheckState::Fail, DiagnosePortOpen(env, node, e.ErrorCode));
    add(kAnswers, TCheckState::Skip, "no port");
    return checks;
  }
  add(kOpens, TCheckState::Ok, node);
  const uint8_t code = link.ConnectKVT(env.connectSeconds);
  const RPortError portError = link.LastPortError();  // before closing can replace it
  link.CloseUSB(code);
  char seconds[16];
  std::snprintf(seconds, sizeof seconds, "%g", env.connectSeconds);
  if (code == LINK_OK)
    add(kAnswers, TCheckState::Ok, "a detector answered");
  else if (code == LINK_PORTERROR)
    // Not the detector's silence: the port itself failed, and the technician needs its reason.
    add(kAnswers, TCheckState::Fail,
        "the port failed during the handshake: " + portError.mText + " (errno " + std::to_string(portError.mErrno) + ")");
  else
    add(kAnswers, TCheckState::Fail,
        std::string("no detector answered within ") + seconds +
            " s: hold the detector's infrared window against the adapter, switch the detector on, and try again");
  return checks;
}

std::string DoctorLine(const RDoctorCheck& check) {
  const char* word = check.state == TCheckState::Ok ? "ok  " : check.state == TCheckState::Fail ? "FAIL" : "skip";
  return std::string(word) + "  " + check.name + ": " + check.text;
}

std::string DoctorDetails(const RDoctorEnv& env, const std::string& namedPort) {
  RDoctorEnv quiet = env;
  quiet.openPort = false;
  std::string text;
  for (const RDoctorCheck& c : RunDoctor(quiet, namedPort)) text += DoctorLine(c) + "\n";
  return text;
}

std::vector<RPortEntry> ListPorts(const std::string& root) {
  RDoctorEnv env;
  env.root = root;
  // The /dev/serial names of one node: links there that lead to it.
  auto names = [&](const char* dir, const fs::path& target) {
    std::vector<std::string> found;
    std::error_code ec;
    for (fs::directory_iterator it(Host(env, dir), ec), end; !ec && it != end; it.increment(ec)) {
      std::error_code e2;
      const fs::path to = fs::read_symlink(it->path(), e2);
      if (!e2 && (it->path().parent_path() / to).lexically_normal() == target)
        found.push_back(std::string(dir) + "/" + it->path().filename().string());
    }
    std::sort(found.begin(), found.end());
    return found;
  };
  std::vector<RPortEntry> ports;
  for (const RBridgePort& b : ListBridgePorts(Host(env, "/sys").string())) {
    RPortEntry p;
    p.node = "/dev/" + b.tty;
    p.ids = UsbIdsText(b.vid, b.pid);
    p.serial = b.serial;
    const fs::path target = Host(env, p.node).lexically_normal();
    p.byId = names("/dev/serial/by-id", target);
    p.byPath = names("/dev/serial/by-path", target);
    ports.push_back(std::move(p));
  }
  return ports;
}

std::string PortLine(const RPortEntry& port) {
  auto field = [](const std::string& s) { return s.empty() ? std::string("-") : s; };
  return port.node + "  " + port.ids + "  " + field(port.serial) + "  " + field(Join(port.byId, ",")) + "  " +
         field(Join(port.byPath, ","));
}

std::string AdapterCheckDetails() {
  try {
    return DoctorDetails(CurrentDoctorEnv(), PortOverride());
  } catch (...) {
    // Only an explanation; the error itself must still be shown.
  }
  return "";
}
