// Feeds every file of the corpus to its target, in any build: a finding the fuzzer once made
// stays found. Usage: fuzz-replay CORPUS_DIR (one folder per target).
#include "fuzzers/FuzzSupport.h"

#include <dirent.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
    return 2;
  }
  int total = 0;
  for (size_t t = 0; t < kFuzzTargetCount; ++t) {
    const std::string dir = std::string(argv[1]) + "/" + kFuzzTargets[t].mName;
    std::vector<std::string> files;
    if (DIR* d = ::opendir(dir.c_str())) {
      while (const dirent* e = ::readdir(d))
        if (e->d_name[0] != '.') files.push_back(dir + "/" + e->d_name);
      ::closedir(d);
    }
    if (files.empty()) {
      std::fprintf(stderr, "%s: no corpus\n", dir.c_str());
      return 1;
    }
    std::sort(files.begin(), files.end());
    for (const std::string& f : files) {
      std::ifstream in(f, std::ios::binary);
      const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
      gFuzzInputName = f.c_str();
      kFuzzTargets[t].mRun(bytes.data(), bytes.size());
    }
    std::printf("%-10s %zu inputs\n", kFuzzTargets[t].mName, files.size());
    total += static_cast<int>(files.size());
  }
  gFuzzInputName = nullptr;
  std::printf("%d inputs replayed\n", total);
  return 0;
}
