#ifndef QUORVEX_TESTS_DRIVER_SUPPORT_H
#define QUORVEX_TESTS_DRIVER_SUPPORT_H

// Helpers of the driver tests: temporary folders (files and runs are in
// tests/support/files_and_runs.h), regex escaping for death tests, and
// standard output routed to standard error inside a death test (the
// death-test matcher reads standard error).

#include <gtest/gtest.h>

#include "tests/support/files_and_runs.h"
#include "tests/support/scratch_dir.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>
#include <unistd.h>

namespace test_support {

// A fresh directory for one test's files.
inline std::string temp_dir() { return make_scratch_dir("t"); }

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

// Replaces the times (after "QUORVEX started: " and under the START and END
// headings) up to the end of their lines.
inline std::string mask_times(std::string text) {
  const std::string marks[] = {"QUORVEX started: ",
                               "START QUORVEX TEST ----------------*\n              ",
                               "END QUORVEX TEST -----------------*\n              "};
  for (const std::string &mark : marks)
    for (std::size_t pos = text.find(mark); pos != std::string::npos; pos = text.find(mark, pos + 1)) {
      std::size_t from = pos + mark.size(), to = text.find('\n', from);
      text.replace(from, to - from, "<time>");
    }
  return text;
}

const char kStop[] = "\nQUORVEX was stopped due to error(s) listed above.\n\n";

}  // namespace test_support

#endif
