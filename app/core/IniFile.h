// The settings file: a Windows-style INI text file ([section], key=value lines).
// Section and key names match without regard to case; values are trimmed of blanks.
// Every call opens the file, reads or writes it and closes it again, so nothing keeps it
// open and two writers (say the window's geometry and a save folder) never undo each other.
// A snapshot (TIniFile::Snapshot) reads the file once and answers its reads from that copy.
// A write replaces the file atomically (temporary file in the same folder, then rename) and
// changes only the lines it must: comments, order, other keys and line ends stay as written.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

class TIniFile {
 public:
  explicit TIniFile(std::string fileName) : FFileName(std::move(fileName)) {}
  // For start-up, which reads some forty keys: they all come from one version of the file, and
  // the file is read and parsed once instead of once per key. Writes still read the file
  // afresh (so they undo no other writer) and then replace the copy with what they wrote.
  static TIniFile Snapshot(std::string fileName);

  const std::string& FileName() const { return FFileName; }

  // A missing file, section or key gives def.
  std::string ReadString(const std::string& section, const std::string& key, const std::string& def) const;
  // def also when the value is not a whole decimal number that fits in 32 bits.
  int ReadInteger(const std::string& section, const std::string& key, int def) const;
  bool SectionExists(const std::string& section) const;
  bool ValueExists(const std::string& section, const std::string& key) const;
  // The key=value entries of a section in file order, names and values trimmed; lines
  // without '=' and comment lines are not entries.
  std::vector<std::pair<std::string, std::string>> ReadSectionValues(const std::string& section) const;

  // Sets one key: its line is rewritten in place, or added at the end of its section, or the
  // section is added at the end of the file. False (with the system's text in *error) when
  // the file could not be replaced; the old file is then left as it was.
  bool WriteString(const std::string& section, const std::string& key, const std::string& value,
                   std::string* error = nullptr);
  bool WriteInteger(const std::string& section, const std::string& key, int value, std::string* error = nullptr);
  // Several keys of one section in one replacement of the file.
  bool WriteStrings(const std::string& section, const std::vector<std::pair<std::string, std::string>>& values,
                    std::string* error = nullptr);

 private:
  struct TContents;
  // The snapshot's copy, or a fresh read of the file when there is none.
  std::shared_ptr<const TContents> Contents() const;

  std::string FFileName;
  std::shared_ptr<const TContents> FSnapshot;
};

// The integer rule of ReadInteger: optional sign, decimal digits, nothing else, 32 bits.
bool ParseIniInteger(const std::string& text, int& value);
