#include "tests/support/TempDir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/beamdock-test-XXXXXX";
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back('\0');
  if (!::mkdtemp(name.data())) throw std::runtime_error("mkdtemp failed");
  FPath = std::string(name.data()) + "/";
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::permissions(FPath, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(FPath, ec);
}

void TempDir::write(const std::string& name, const std::string& data) const {
  std::ofstream out(FPath + name, std::ios::binary | std::ios::trunc);
  out << data;
  if (!out) throw std::runtime_error("cannot write " + FPath + name);
}

std::string TempDir::read(const std::string& name) const {
  std::ifstream in(FPath + name, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool TempDir::exists(const std::string& name) const {
  struct stat st {};
  return ::stat((FPath + name).c_str(), &st) == 0;
}

bool TempDir::isDir(const std::string& name) const {
  struct stat st {};
  return ::stat((FPath + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
