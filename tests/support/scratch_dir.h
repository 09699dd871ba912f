#ifndef QUORVEX_TESTS_SCRATCH_DIR_H
#define QUORVEX_TESTS_SCRATCH_DIR_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace test_support {

// Folders made by this process, removed with their contents when it exits.
// A death test's child inherits the list but leaves the folders alone: only
// the process that made them removes them.
struct ScratchDirs {
  pid_t owner = getpid();
  std::vector<std::string> dirs;
  ~ScratchDirs() {
    if (getpid() != owner) return;
    std::error_code ec;
    for (const std::string &d : dirs) std::filesystem::remove_all(d, ec);
  }
};

inline ScratchDirs &scratch_dirs() {
  static ScratchDirs registry;
  return registry;
}

// A fresh, empty folder (mkdtemp) under the test temporary folder, so no test
// sees files that another test left behind.
inline std::string make_scratch_dir(const std::string &tag) {
  std::string base = ::testing::TempDir();
  if (base.empty() || base.back() != '/') base += '/';
  std::string pattern = base + "quorvex_" + tag + "_XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data()) == nullptr) {
    ADD_FAILURE() << "cannot create a folder under " << base;
    return std::string();
  }
  scratch_dirs().dirs.push_back(buf.data());
  return std::string(buf.data());
}

}  // namespace test_support

#endif
