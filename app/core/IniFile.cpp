#include "app/core/IniFile.h"

#include "model/FileUtils.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

struct Line {
  std::string text;  // without its line end
  std::string eol;   // "\r\n", "\n" or "" for a last line without one
};

enum class Kind { Blank, Comment, Section, Entry, Other };

struct Parsed {
  Kind kind = Kind::Other;
  std::string name;   // section or key name, trimmed
  std::string value;  // entry value, trimmed
  size_t valueStart = 0;  // offset of the value in the line's text (entries)
};

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && isBlank(s[b])) ++b;
  while (e > b && isBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

bool sameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

Parsed parse(const std::string& raw, bool first) {
  std::string text = raw;
  size_t skip = 0;
  // An editor may have saved the file with a UTF-8 mark; it must not hide the first section.
  if (first && text.compare(0, 3, "\xEF\xBB\xBF") == 0) skip = 3;
  Parsed p;
  size_t b = skip;
  while (b < text.size() && isBlank(text[b])) ++b;
  if (b == text.size()) {
    p.kind = Kind::Blank;
    return p;
  }
  if (text[b] == ';' || text[b] == '#') {
    p.kind = Kind::Comment;
    return p;
  }
  if (text[b] == '[') {
    p.kind = Kind::Section;
    size_t close = text.find(']', b + 1);
    p.name = trim(text.substr(b + 1, close == std::string::npos ? std::string::npos : close - b - 1));
    return p;
  }
  size_t eq = text.find('=', b);
  if (eq == std::string::npos) {
    p.kind = Kind::Other;
    return p;
  }
  p.kind = Kind::Entry;
  p.name = trim(text.substr(b, eq - b));
  size_t v = eq + 1;
  while (v < text.size() && isBlank(text[v])) ++v;
  p.valueStart = v;
  p.value = trim(text.substr(eq + 1));
  if (p.name.empty()) p.kind = Kind::Other;
  return p;
}

// Reads the whole file. Missing file: true with no lines. Unreadable file: false.
bool loadLines(const std::string& fileName, std::vector<Line>& lines, std::string* error) {
  lines.clear();
  int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return true;
    if (error) *error = std::strerror(errno);
    return false;
  }
  std::string data;
  char buf[8192];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (error) *error = std::strerror(errno);
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    data.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  size_t pos = 0;
  while (pos < data.size()) {
    size_t nl = data.find('\n', pos);
    Line line;
    if (nl == std::string::npos) {
      line.text = data.substr(pos);
      pos = data.size();
    } else {
      line.text = data.substr(pos, nl - pos);
      line.eol = "\n";
      pos = nl + 1;
    }
    if (!line.eol.empty() && !line.text.empty() && line.text.back() == '\r') {
      line.text.pop_back();
      line.eol = "\r\n";
    }
    lines.push_back(std::move(line));
  }
  return true;
}

struct Section {
  bool found = false;
  size_t header = 0;  // index of the header line
  size_t end = 0;     // one past the last line of the section
};

Section findSection(const std::vector<Line>& lines, const std::vector<Parsed>& parsed, const std::string& name) {
  Section s;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (parsed[i].kind == Kind::Section && sameName(parsed[i].name, name)) {
      s.found = true;
      s.header = i;
      s.end = i + 1;
      while (s.end < lines.size() && parsed[s.end].kind != Kind::Section) ++s.end;
      return s;
    }
  }
  return s;
}

std::vector<Parsed> parseAll(const std::vector<Line>& lines) {
  std::vector<Parsed> parsed;
  parsed.reserve(lines.size());
  for (size_t i = 0; i < lines.size(); ++i) parsed.push_back(parse(lines[i].text, i == 0));
  return parsed;
}

// The first key of that name in the first section of that name, as Windows reads it.
const Parsed* findEntry(const std::vector<Line>& lines, const std::vector<Parsed>& parsed, const std::string& section,
                        const std::string& key, size_t* index = nullptr) {
  Section s = findSection(lines, parsed, section);
  if (!s.found) return nullptr;
  for (size_t i = s.header + 1; i < s.end; ++i) {
    if (parsed[i].kind == Kind::Entry && sameName(parsed[i].name, key)) {
      if (index) *index = i;
      return &parsed[i];
    }
  }
  return nullptr;
}

bool validName(const std::string& s) {
  if (trim(s).empty() || trim(s) != s) return false;
  return s.find_first_of("=[]\r\n") == std::string::npos && s[0] != ';' && s[0] != '#';
}

bool fail(std::string* error, const std::string& text) {
  if (error) *error = text;
  return false;
}

}  // namespace

bool ParseIniInteger(const std::string& text, int& value) {
  std::string t = trim(text);
  size_t i = 0;
  bool negative = false;
  if (i < t.size() && (t[i] == '-' || t[i] == '+')) {
    negative = t[i] == '-';
    ++i;
  }
  if (i == t.size()) return false;
  long long v = 0;
  for (; i < t.size(); ++i) {
    if (t[i] < '0' || t[i] > '9') return false;
    v = v * 10 + (t[i] - '0');
    if (v > static_cast<long long>(INT_MAX) + 1) return false;
  }
  if (negative) v = -v;
  if (v > INT_MAX || v < INT_MIN) return false;
  value = static_cast<int>(v);
  return true;
}

struct TIniFile::TContents {
  bool readable = false;
  std::vector<Line> lines;
  std::vector<Parsed> parsed;
};

std::shared_ptr<const TIniFile::TContents> TIniFile::Contents() const {
  if (FSnapshot) return FSnapshot;
  auto c = std::make_shared<TContents>();
  c->readable = loadLines(FFileName, c->lines, nullptr);
  c->parsed = parseAll(c->lines);
  return c;
}

TIniFile TIniFile::Snapshot(std::string fileName) {
  TIniFile ini(std::move(fileName));
  ini.FSnapshot = ini.Contents();
  return ini;
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key, const std::string& def) const {
  const auto c = Contents();
  if (!c->readable) return def;
  const Parsed* e = findEntry(c->lines, c->parsed, section, key);
  return e ? e->value : def;
}

int TIniFile::ReadInteger(const std::string& section, const std::string& key, int def) const {
  int v = 0;
  return ParseIniInteger(ReadString(section, key, ""), v) ? v : def;
}

bool TIniFile::SectionExists(const std::string& section) const {
  const auto c = Contents();
  return c->readable && findSection(c->lines, c->parsed, section).found;
}

bool TIniFile::ValueExists(const std::string& section, const std::string& key) const {
  const auto c = Contents();
  return c->readable && findEntry(c->lines, c->parsed, section, key) != nullptr;
}

std::vector<std::pair<std::string, std::string>> TIniFile::ReadSectionValues(const std::string& section) const {
  std::vector<std::pair<std::string, std::string>> out;
  const auto c = Contents();
  if (!c->readable) return out;
  Section s = findSection(c->lines, c->parsed, section);
  if (!s.found) return out;
  for (size_t i = s.header + 1; i < s.end; ++i)
    if (c->parsed[i].kind == Kind::Entry) out.emplace_back(c->parsed[i].name, c->parsed[i].value);
  return out;
}

bool TIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value,
                           std::string* error) {
  return WriteStrings(section, {{key, value}}, error);
}

bool TIniFile::WriteInteger(const std::string& section, const std::string& key, int value, std::string* error) {
  return WriteString(section, key, std::to_string(value), error);
}

bool TIniFile::WriteStrings(const std::string& section, const std::vector<std::pair<std::string, std::string>>& values,
                            std::string* error) {
  if (!validName(section)) return fail(error, "Invalid section name");
  for (const auto& [key, value] : values) {
    if (!validName(key)) return fail(error, "Invalid key name");
    // A line break in a value would split it into lines of its own.
    if (value.find_first_of("\r\n") != std::string::npos) return fail(error, "Invalid value");
  }
  std::vector<Line> lines;
  // A file we cannot read must not be replaced by one holding only our keys.
  if (!loadLines(FFileName, lines, error)) return false;
  const std::string eol = !lines.empty() && !lines[0].eol.empty() ? lines[0].eol : std::string("\r\n");

  for (const auto& [key, v] : values) {
    const std::string value = trim(v);
    std::vector<Parsed> parsed = parseAll(lines);
    size_t index = 0;
    if (const Parsed* e = findEntry(lines, parsed, section, key, &index)) {
      lines[index].text = lines[index].text.substr(0, e->valueStart) + value;
      continue;
    }
    Section s = findSection(lines, parsed, section);
    Line entry{key + "=" + value, eol};
    if (s.found) {
      // After the section's last entry: blank lines and comments that follow it usually
      // introduce the next section.
      size_t at = s.end;
      while (at > s.header + 1 && (parsed[at - 1].kind == Kind::Blank || parsed[at - 1].kind == Kind::Comment)) --at;
      if (at == lines.size()) {
        // Appending after a last line that has no line end: give that line one, keep the style.
        entry.eol = lines.back().eol;
        if (lines.back().eol.empty()) lines.back().eol = eol;
      }
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), entry);
    } else {
      if (!lines.empty()) {
        if (lines.back().eol.empty()) lines.back().eol = eol;
        if (parsed.back().kind != Kind::Blank) lines.push_back({"", eol});
      }
      lines.push_back({"[" + section + "]", eol});
      lines.push_back(entry);
    }
  }
  std::string data;
  for (const Line& l : lines) data += l.text + l.eol;
  if (!WriteFileAtomic(FFileName, data, error)) return false;
  if (FSnapshot) {
    auto c = std::make_shared<TContents>();
    c->readable = true;
    c->lines = std::move(lines);
    c->parsed = parseAll(c->lines);
    FSnapshot = std::move(c);
  }
  return true;
}
