#ifndef QUORVEX_TESTS_DRIVER_SUPPORT_H
#define QUORVEX_TESTS_DRIVER_SUPPORT_H

// Helpers of the driver tests: temporary files, regex escaping for death
// tests, and standard output routed to standard error inside a death test
// (the death-test matcher reads standard error).

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>
#include <unistd.h>

namespace test_support {

// A fresh directory for one test's files.
inline std::string temp_dir() {
  // A fresh, empty folder per call (mkdtemp), so no test sees files that an
  // earlier test process left behind, whatever process identifiers recur.
  std::string base = ::testing::TempDir();
  if (base.empty() || base.back() != '/') base += '/';
  std::string pattern = base + "quorvex_XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data()) == nullptr) ADD_FAILURE() << "cannot create a folder under " << base;
  return std::string(buf.data());
}

inline std::string write_file(const std::string &dir, const std::string &name, const std::string &text) {
  std::string path = dir + "/" + name;
  std::ofstream out(path, std::ios::binary);
  out << text;
  return path;
}

inline std::string read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// The text as a POSIX extended regular expression matching itself.
inline std::string escape_regex(const std::string &text) {
  std::string out;
  for (char c : text) {
    if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos) out += '\\';
    out += c;
  }
  return out;
}

// Exactly the text, nothing before or after it.
inline std::string whole(const std::string &text) { return "^" + escape_regex(text) + "$"; }

// Inside a death test: standard output goes to standard error from now on.
inline void stdout_to_stderr() {
  std::fflush(stdout);
  dup2(fileno(stderr), fileno(stdout));
}

const char kStop[] = "\nQUORVEX was stopped due to error(s) listed above.\n\n";

}  // namespace test_support

#endif
