// Writes the manual pages of beamdock-cli and kvt-sim and the bash completion of beamdock-cli
// from the programs' own tables and help texts, so that none of them can fall behind.
//   beamdock-docs OUTDIR VERSION CLI_PAGE_TEMPLATE
// writes OUTDIR/beamdock-cli.1, OUTDIR/beamdock-cli.bash and OUTDIR/kvt-sim.1.
#include "cli/Cli.h"
#include "sim/KvtSim.h"

#include <cctype>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string Trim(const std::string& s) {
  const size_t a = s.find_first_not_of(' ');
  if (a == std::string::npos) return "";
  return s.substr(a, s.find_last_not_of(' ') - a + 1);
}

// Text for roff's fill mode: backslashes kept, no line taken for a request.
std::string RoffText(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '\\' ? std::string("\\e") : std::string(1, c);
  if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out = "\\&" + out;
  return out;
}

// A synopsis: placeholders (FILE.cfg, SERIAL) in italics, the words to type in bold.
std::string RoffSynopsis(const std::string& synopsis) {
  static const std::regex word("[A-Za-z0-9_.\\-]+");
  std::string out;
  size_t at = 0;
  for (std::sregex_iterator it(synopsis.begin(), synopsis.end(), word), end; it != end; ++it) {
    out += RoffText(synopsis.substr(at, it->position() - at));
    std::string w = it->str(), escaped;
    for (char c : w) escaped += c == '-' ? std::string("\\-") : std::string(1, c);
    out += (std::isupper(static_cast<unsigned char>(w[0])) ? "\\fI" : "\\fB") + escaped + "\\fR";
    at = it->position() + it->length();
  }
  return out + RoffText(synopsis.substr(at));
}

// Option lines of a help text: "  --opt ARG    what it does", continued on deeper lines.
// Other lines become paragraphs.
std::string RoffOptionBlock(const std::vector<std::string>& lines) {
  static const std::regex option("^  (-\\S(?:\\S| (?! ))*)(?: {2,}(.*))?$");
  std::string out;
  bool inParagraph = false, inItem = false;
  for (const std::string& line : lines) {
    std::smatch m;
    if (Trim(line).empty()) {
      inParagraph = inItem = false;
    } else if (std::regex_match(line, m, option)) {
      out += ".TP\n" + RoffSynopsis(m[1]) + "\n" + (m[2].length() ? RoffText(m[2]) + "\n" : "");
      inItem = true;
      inParagraph = false;
    } else if (inItem && line.rfind("    ", 0) == 0) {
      out += RoffText(Trim(line)) + "\n";
    } else {
      if (!inParagraph) out += ".PP\n";
      out += RoffText(Trim(line)) + "\n";
      inParagraph = true;
      inItem = false;
    }
  }
  return out;
}

// One command line of the table: the synopsis up to the description's column.
constexpr size_t kDescriptionColumn = 35;
struct RCommandLine {
  std::string synopsis, description;
};
std::vector<RCommandLine> CommandLines(const DocumentedCommand& c) {
  std::vector<RCommandLine> out;
  const std::vector<std::string> lines = Lines(c.usage);
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (line.size() > 2 && line[2] != ' ') {
      // The description follows a gap, or starts at its column; a synopsis too long for that
      // stands alone, its description on the lines below.
      const size_t gap = line.find("  ", 2);
      const bool alone = i + 1 < lines.size() && lines[i + 1].rfind(std::string(kDescriptionColumn, ' '), 0) == 0;
      size_t split = std::string::npos;
      if (gap != std::string::npos)
        split = gap;
      else if (!alone && line.size() > kDescriptionColumn && line[kDescriptionColumn - 1] == ' ')
        split = kDescriptionColumn - 1;
      out.push_back({Trim(line.substr(2, split == std::string::npos ? split : split - 2)),
                     split == std::string::npos ? "" : Trim(line.substr(split))});
    } else if (!out.empty()) {
      out.back().description += (out.back().description.empty() ? "" : " ") + Trim(line);
    }
  }
  return out;
}

std::string Between(const std::string& text, const std::string& from, const std::string& to) {
  const size_t a = text.find(from);
  if (a == std::string::npos) return "";
  const size_t b = text.find(to, a + from.size());
  return text.substr(a + from.size(), b == std::string::npos ? std::string::npos : b - a - from.size());
}

std::string CliPage(const std::string& templ, const std::string& version) {
  std::string commands;
  for (const DocumentedCommand& c : DocumentedCommands())
    for (const RCommandLine& l : CommandLines(c)) {
      std::string d = l.description;
      if (!d.empty()) d[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(d[0])));
      if (!d.empty() && std::string(".)").find(d.back()) == std::string::npos) d += '.';
      commands += ".TP\n" + RoffSynopsis(l.synopsis) + "\n" + RoffText(d) + "\n";
    }
  std::string exits = ".TP\n.B 0\nSuccess.\n";
  for (const DocumentedExit& e : DocumentedExitStatuses())
    exits += ".TP\n.B " + std::to_string(e.code) + "\n" + RoffText(e.meaning) + ".\n";
  exits +=
      ".TP\n.B 1\\-9, 128\\-255\nOtherwise the operation's result code, for example 162 (0xA2) for a detector that "
      "does not answer and 161 (0xA1) for a port that cannot be opened.\n";
  const std::string options = RoffOptionBlock(Lines(Between(HelpText(), "Options:\n", "\nCommands:")));
  std::string page = templ;
  for (const auto& [key, value] : std::map<std::string, std::string>{
           {"@VERSION@", version}, {"@OPTIONS@\n", options}, {"@COMMANDS@\n", commands}, {"@EXIT_STATUS@\n", exits}})
    for (size_t at; (at = page.find(key)) != std::string::npos;) page.replace(at, key.size(), value);
  return page;
}

std::string SimPage(const std::string& version) {
  const std::vector<std::string> lines = Lines(KvtSim::helpText());
  std::vector<std::string> description, rest;
  size_t i = 1;
  while (i < lines.size() && Trim(lines[i]).empty()) ++i;
  for (; i < lines.size() && !Trim(lines[i]).empty(); ++i) description.push_back(lines[i]);
  rest.assign(lines.begin() + static_cast<long>(i), lines.end());
  return ".TH KVT-SIM 1 \"\" \"BeamDock " + version +
         "\" \"User Commands\"\n"
         ".SH NAME\nkvt-sim \\- a simulated gas detector behind a pseudo-terminal, for trying and testing BeamDock\n"
         ".SH SYNOPSIS\n.B kvt\\-sim\n.RI [ options ]\n.SH DESCRIPTION\n" +
         RoffOptionBlock(description) + ".SH OPTIONS\n" + RoffOptionBlock(rest) +
         ".SH SEE ALSO\n.BR beamdock (1),\n.BR beamdock\\-cli (1)\n";
}

// What a word of a synopsis asks for on the command line, as a completion.
std::string Completer(const std::string& placeholder) {
  if (placeholder == "FOLDER") return "_filedir -d";
  if (placeholder == "DEVICE") return "COMPREPLY=($(compgen -f -- \"${cur:-/dev/tty}\"))";
  if (placeholder.rfind("FILE", 0) != 0) return "";  // a value to type
  const size_t dot = placeholder.find('.');
  return dot == std::string::npos ? "_filedir" : "_filedir '" + placeholder.substr(dot + 1) + "'";
}

struct RCompletion {
  std::set<std::string> words;                  // options and subcommands offered
  std::map<std::string, std::string> optionArg;  // option -> completer of its value ("" none)
  std::string positional;                        // completer of a file argument
};

RCompletion CommandCompletion(const DocumentedCommand& c) {
  RCompletion r;
  for (const RCommandLine& l : CommandLines(c)) {
    std::vector<std::string> tokens;
    std::istringstream in(l.synopsis);
    for (std::string t; in >> t;) tokens.push_back(t);
    std::string pendingOption;
    // A subcommand's own argument (import FILE.DB) follows it as an option's value does.
    std::string subcommand;
    for (size_t i = 1; i < tokens.size(); ++i) {
      std::string t = tokens[i];
      std::erase_if(t, [](char ch) { return ch == '[' || ch == ']'; });
      std::istringstream alternatives(t);
      std::string lastWord;
      bool first = true;
      for (std::string a; std::getline(alternatives, a, '|'); first = false) {
        if (a.empty()) continue;
        if (a[0] == '-') {
          r.words.insert(a);
          pendingOption = a;
          continue;
        }
        const bool placeholder = std::isupper(static_cast<unsigned char>(a[0]));
        lastWord = placeholder ? "" : a;
        if (placeholder && first && !subcommand.empty()) {
          r.optionArg[subcommand] = Completer(a);
        } else if (placeholder && !pendingOption.empty()) {
          if (!r.optionArg.count(pendingOption)) r.optionArg[pendingOption] = Completer(a);
        } else if (placeholder) {
          if (r.positional.empty()) r.positional = Completer(a);
        } else {
          r.words.insert(a);
        }
        pendingOption.clear();
      }
      subcommand = lastWord;
    }
  }
  return r;
}

std::string Join(const std::set<std::string>& words) {
  std::string out;
  for (const std::string& w : words) out += (out.empty() ? "" : " ") + w;
  return out;
}

std::string Completion() {
  std::set<std::string> globalOptions = {"--help"}, commands;
  std::map<std::string, std::string> globalArgs;
  static const std::regex option("^  (-\\S+)(?: ([A-Z]+))?(?: {2,}.*)?$");
  for (const std::string& line : Lines(Between(HelpText(), "Options:\n", "\nCommands:"))) {
    std::smatch m;
    if (!std::regex_match(line, m, option)) continue;
    globalOptions.insert(m[1]);
    if (m[2].length()) globalArgs[m[1]] = Completer(m[2]);
  }
  std::string valued;
  for (const auto& [name, completer] : globalArgs) valued += (valued.empty() ? "" : "|") + name;

  std::string out =
      "# bash completion for beamdock-cli, written from its command table at build time\n"
      "_beamdock_cli() {\n"
      "  local cur prev words cword\n"
      "  _init_completion || return\n\n"
      "  # The command is the first word that is neither an option nor an option's value.\n"
      "  local i command=\"\"\n"
      "  for ((i = 1; i < cword; i++)); do\n"
      "    case ${words[i]} in\n"
      "      " + valued + ") ((i++)) ;;\n"
      "      -*) ;;\n"
      "      *) command=${words[i]}; break ;;\n"
      "    esac\n"
      "  done\n\n"
      "  if [[ -z $command ]]; then\n"
      "    case $prev in\n";
  for (const auto& [name, completer] : globalArgs) out += "      " + name + ") " + completer + "; return ;;\n";
  for (const DocumentedCommand& c : DocumentedCommands()) commands.insert(c.name);
  out += "    esac\n"
         "    COMPREPLY=($(compgen -W '" + Join(globalOptions) + " " + Join(commands) +
         "' -- \"$cur\"))\n"
         "    return\n"
         "  fi\n\n"
         "  case $command in\n";
  for (const DocumentedCommand& c : DocumentedCommands()) {
    const RCompletion r = CommandCompletion(c);
    out += "    " + std::string(c.name) + ")\n";
    if (!r.optionArg.empty()) {
      out += "      case $prev in\n";
      for (const auto& [name, completer] : r.optionArg)
        out += "        " + name + ") " + (completer.empty() ? "" : completer + "; ") + "return ;;\n";
      out += "      esac\n";
    }
    out += "      COMPREPLY=($(compgen -W '" + Join(r.words) + "' -- \"$cur\"))\n";
    if (!r.positional.empty()) out += "      [[ $cur == -* ]] || " + r.positional + "\n";
    out += "      ;;\n";
  }
  out += "  esac\n"
         "}\n"
         "complete -F _beamdock_cli beamdock-cli\n";
  return out;
}

bool WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) std::cerr << "beamdock-docs: cannot write " << path << "\n";
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: beamdock-docs OUTDIR VERSION CLI_PAGE_TEMPLATE\n";
    return 64;
  }
  const std::string dir = argv[1], version = argv[2];
  std::ifstream in(argv[3], std::ios::binary);
  const std::string templ((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (templ.empty()) {
    std::cerr << "beamdock-docs: cannot read " << argv[3] << "\n";
    return 66;
  }
  const bool ok = WriteFile(dir + "/beamdock-cli.1", CliPage(templ, version)) &&
                  WriteFile(dir + "/beamdock-cli.bash", Completion()) && WriteFile(dir + "/kvt-sim.1", SimPage(version));
  return ok ? 0 : 70;
}
