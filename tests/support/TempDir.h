// A fresh folder under the system's temporary folder, removed with everything in it at the
// end of the test. path() ends with '/', as the program's folders do.
#pragma once

#include <string>

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return FPath; }

  // Whole-file helpers for fixtures.
  void write(const std::string& name, const std::string& data) const;
  std::string read(const std::string& name) const;
  bool exists(const std::string& name) const;
  bool isDir(const std::string& name) const;

 private:
  std::string FPath;
};
