// What stands between this machine and the detector, checked one step at a time, and the
// words for a port that would not open. Both come from the same checks, so the terminal's
// `doctor`, its port errors and the window's error box give one answer.
//
// Every system path (/sys, /proc, /dev, /etc, /lib) is read below a root folder, "/" on the
// machine itself, so the checks also run on a tree made by a test.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

enum class TCheckState { Ok, Fail, Skip };

struct RDoctorCheck {
  std::string name;  // what is checked, e.g. "adapter on the USB bus"
  TCheckState state = TCheckState::Ok;
  std::string text;  // what was found; for a failure, what to do
};

struct RDoctorEnv {
  std::string root = "/";
  uid_t uid = 0;
  std::vector<gid_t> groups;  // the groups this process has now
  std::string user;           // named in the group fix
  pid_t self = 0;             // never counted as another program holding the port
  bool openPort = true;       // run the last two checks (open the port, handshake)
  float connectSeconds = 2.0f;
};

// This process on this machine.
RDoctorEnv CurrentDoctorEnv();

// The checks in order: adapter on the USB bus, driver and tty, brltty, ModemManager, access
// to the device node, other programs holding it, the port opening at 115200 8N1, a detector
// answering the handshake. namedPort is the device of --port / BEAMDOCK_PORT ("" for the
// adapter discovery finds). A check that cannot run because an earlier one failed is Skip.
std::vector<RDoctorCheck> RunDoctor(const RDoctorEnv& env, const std::string& namedPort);

// "ok    name: text", "FAIL  name: text" or "skip  name: text".
std::string DoctorLine(const RDoctorCheck& check);

// A port that would not open, in words: the device and what is wrong, with what to do.
// errorCode is the port error's number: an errno, or -1 for a device that is no terminal.
std::string DiagnosePortOpen(const RDoctorEnv& env, const std::string& device, int errorCode);

// The device checks behind an error box: the checks that open nothing, one line each.
std::string DoctorDetails(const RDoctorEnv& env, const std::string& namedPort);
// DoctorDetails of this process for BEAMDOCK_PORT's device, for the Details of a box about a
// port or adapter; empty when the checks cannot be run.
std::string AdapterCheckDetails();

struct RPortEntry {
  std::string node;  // /dev/ttyUSB0
  std::string ids;   // 10c4:ea60
  std::string serial;
  std::vector<std::string> byId, byPath;  // the /dev/serial names that lead to node
};

// Every adapter discovery finds, without opening any of them.
std::vector<RPortEntry> ListPorts(const std::string& root);
// node, VID:PID, serial, by-id and by-path names; "-" for what is missing.
std::string PortLine(const RPortEntry& port);
