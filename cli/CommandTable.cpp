#include "cli/Cli.h"

#include <cstdio>
#include <map>
#include <sstream>

namespace {
std::map<std::string, CommandFn>& registry() {
  static std::map<std::string, CommandFn> commands;
  return commands;
}
}  // namespace

CommandRegistrar::CommandRegistrar(const char* name, CommandFn run) { registry()[name] = run; }

CommandFn FindCommand(const std::string& name) {
  auto it = registry().find(name);
  return it == registry().end() ? nullptr : it->second;
}

const std::vector<DocumentedCommand>& DocumentedCommands() {
  static const std::vector<DocumentedCommand> commands = {
      {"identify", "  identify                         the six lines of the Identify box, one per line\n"},
      {"read",
       "  read [--json] [-o FILE.cfg]      read the detector; print it (--json: machine-readable); -o: save it as a "
       ".cfg\n"},
      {"write", "  write FILE.cfg                   Read Device, then Read File FILE.cfg, then Write Device\n"},
      {"hibernate", "  hibernate                        the Hibernate button (asks; --yes answers Yes)\n"},
      {"log",
       "  log export [-o FILE.csv]         Save Event Log\n"
       "  log reset                        Log Reset (the entries are kept in the service records first)\n"},
      {"firmware", "  firmware FILE.img                load and check the image, then Upgrade Firmware\n"},
      {"calibrate",
       "  calibrate [--span VALUE] [--lot LOT] [--expiry YYYY-MM-DD]\n"
       "                                   the Sensor Calibration dialog's run (VALUE in the sensor's unit;\n"
       "                                   LOT and the expiry date of the span gas cylinder)\n"},
      {"readings",
       "  readings [--interval S] [--count N] [--csv FILE]\n"
       "                                   the logging dialog's loop; one line per reading\n"},
      {"eeprom",
       "  eeprom [-o FILE.csv]             EEPROM Read, then Save File\n"
       "  eeprom --log                     Read/Save Log\n"},
      {"test", "  test beep|rled|lled|vibrator     the output tests\n"},
      {"clear-peak", "  clear-peak                       Clear Peak\n"},
      {"bump",
       "  bump pass|fail                   Send Bump Pass / Send Bump Fail (a verdict given by hand)\n"
       "  bump --gas VALUE --lot L --expiry YYYY-MM-DD [--time-limit S] [--tolerance PCT]\n"
       "                                   the measured bump test: apply the gas, time the alarms, then Pass or Fail\n"},
      {"zero-span", "  zero-span                        the factory Calibration button\n"},
      {"power-off", "  power-off                        Turn Off\n"},
      {"factory-reset", "  factory-reset                    Factory Reset\n"},
      {"ports", "  ports                            every adapter found: device, USB ids, serial, by-path and by-id names\n"},
      {"doctor",
       "  doctor                           check, step by step, what stands between this machine and the detector\n"},
      {"history",
       "  history [SERIAL] [--csv FILE] [--verify] [--export FILE.jsonl]\n"
       "                                   the service records, newest first; --verify checks them\n"
       "  history --station-key            this station's public key (PEM)\n"
       "  history --verify --server        checks the site server's records, and this station's store against them\n"
       "  history --verify --file FILE.jsonl --key KEYFILE\n"
       "                                   checks an export against a station's public key\n"},
      {"certificate", "  certificate SERIAL [-o FILE.pdf] the calibration certificate of the detector's newest calibration\n"},
      {"events",
       "  events [SERIAL] [--since DATE] [--until DATE] [--user ID] [--since-last-pass] [--csv FILE] [--pdf FILE]\n"
       "                                   the alarm events the records keep, with totals: the incident report\n"},
      {"fleet",
       "  fleet [--due DAYS] [--csv FILE] [--pdf FILE]\n"
       "                                   every detector the records know, with its calibration and bump due dates\n"
       "  fleet --notify [--due DAYS] [--dry-run]\n"
       "                                   tell [NOTIFY]'s recipients of detectors that became due, overdue or failed\n"},
      {"diff", "  diff FILE.cfg                    Read Device, then the fields where the detector and FILE.cfg differ\n"},
      {"line",
       "  line FILE.cfg [--count N] [--report FILE.csv]\n"
       "                                   the production line: the file's configuration into detector after detector\n"},
      {"records",
       "  records status                   what waits for the site server, and its last record of this station\n"
       "  records push                     send what waits to the site server now\n"
       "  records import FILE.DB           verify another computer's store and send its records\n"
       "  records init-server              create or migrate the site server's tables and roles (administrator)\n"
       "  records register-station         register this station's public key with the site server\n"},
  };
  return commands;
}

const std::vector<DocumentedExit>& DocumentedExitStatuses() {
  static const std::vector<DocumentedExit> statuses = {
      {1, "doctor: a check failed; events: an event listed happened while its detector was overdue"},
      {kExitUsage, "a command line that is not accepted"},
      {65,
       "a check stopped the command before the detector was changed (a refused .cfg file, no sensor type, a detector "
       "that may not hibernate, a certificate that may not be issued, records that do not verify, records the site server "
       "refused)"},
      {66, "a question was answered No"},
      {67, "calibrate: the calibration failed"},
      {68, "calibrate: its time limit"},
      {69, "calibrate: stopped by Ctrl-C"},
      {kExitSoftware, "a file could not be written"},
      {74, "the service records could not be read, or the site server could not be reached"},
      {75, "the operation ran, but its service record could be kept nowhere (log reset: the log's entries could be "
           "kept nowhere, so nothing was cleared); fleet --notify: a notice could not be delivered (it is tried again "
           "at the next run)"},
  };
  return statuses;
}

std::string HelpText() {
  std::string text =
      "Usage: beamdock-cli [--dir FOLDER] [--port DEVICE] [--trace] [--yes] COMMAND [ARGS]\n"
      "\n"
      "The operations of the BeamDock window from a terminal. Status lines and messages go to\n"
      "stderr, results to stdout.\n"
      "\n"
      "Options:\n"
      "  --dir FOLDER     the start folder: BEAMDOCK.INI, Configure/, EVENT/ and the other\n"
      "                   folders live there, as for the window (default: the current folder)\n"
      "  --port DEVICE    use this serial device instead of adapter discovery (the same as\n"
      "                   setting BEAMDOCK_PORT)\n"
      "  --trace          print every trace line (time-stamped exchanges) to stderr\n"
      "  --yes            answer Yes to every question; without it a question is asked on the\n"
      "                   terminal when stdin is one, and answered No otherwise\n"
      "  --help           this text\n"
      "\n"
      "Commands:\n";
  for (const DocumentedCommand& c : DocumentedCommands()) {
    if (FindCommand(c.name) || kFullProgramRunsTheRest) {
      text += c.usage;
      continue;
    }
    // Each command line of the entry is marked, so no line of it reads as available.
    std::istringstream lines(c.usage);
    for (std::string line; std::getline(lines, line);) {
      const bool commandLine = line.size() > 2 && line[2] != ' ';
      text += line + (commandLine ? "  (not available in this build)\n" : "\n");
    }
  }
  text +=
      "\n"
      "The settings file decides the view rules as for the window (ModeEntry selects the factory\n"
      "rules). Where the window shows a save dialog, -o names the file; without -o the file goes\n"
      "where the dialog would have proposed it.\n"
      "\n"
      "Exit status: the operation's result code (0 on success, for example 162 for 0xA2 \"no\n"
      "response\"), or:\n";
  for (const DocumentedExit& e : DocumentedExitStatuses()) {
    // Wrapped at the width of the rest of the text, continued under the meaning's start.
    char code[8];
    std::snprintf(code, sizeof code, "%3d", e.code);
    std::string line = std::string(" ") + code + "  ";
    const size_t indent = line.size();
    std::istringstream words(e.meaning);
    bool first = true;
    for (std::string word; words >> word; first = false) {
      if (!first && line.size() + 1 + word.size() > 92) {
        text += line + "\n";
        line.assign(indent, ' ');
      } else if (!first) {
        line += ' ';
      }
      line += word;
    }
    text += line + "\n";
  }
  return text;
}

int UsageError(const CliContext& ctx, const std::string& text) {
  std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", ctx.program.c_str(), text.c_str(), ctx.program.c_str());
  return kExitUsage;
}
