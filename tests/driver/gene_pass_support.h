#ifndef QUORVEX_TESTS_DRIVER_GENE_PASS_SUPPORT_H
#define QUORVEX_TESTS_DRIVER_GENE_PASS_SUPPORT_H

// Helpers of the gene-pass tests: scratch directories and files, running the
// program, and comparing result files field by field.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/scratch_dir.h"

namespace gene_pass_test {

inline std::string scratch_dir() { return test_support::make_scratch_dir("gp"); }

inline void remove_dir(const std::string &dir) {
  std::string cmd = "rm -rf '" + dir + "'";
  if (std::system(cmd.c_str()) != 0) ADD_FAILURE() << "cannot remove " << dir;
}

inline std::string put_file(const std::string &dir, const std::string &name,
                            const std::string &text) {
  std::string path = dir + "/" + name;
  std::ofstream out(path, std::ios::binary);
  out << text;
  return path;
}

inline std::string get_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

inline bool file_exists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }

// Runs the program in dir with the arguments; standard output goes to
// dir/stdout.txt. Returns the exit status.
inline int run_quorvex(const std::string &dir, const std::string &args) {
  std::string cmd = "cd '" + dir + "' && '" QUORVEX_BINARY "' " + args + " > stdout.txt 2> stderr.txt";
  int rc = std::system(cmd.c_str());
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

inline std::vector<std::string> split(const std::string &s, char sep) {
  std::vector<std::string> out;
  std::string cur;
  for (char c : s) {
    if (c == sep) {
      out.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  out.push_back(cur);
  return out;
}

// One unit of the last printed digit of a number written in exponent form
// ("1.2345E-03" -> 1e-7), or 0 for other text.
inline double last_digit_unit(const std::string &field) {
  size_t e = field.find('E');
  size_t dot = field.find('.');
  if (e == std::string::npos || dot == std::string::npos || dot > e) return 0;
  int digits = (int)(e - dot - 1);
  int exponent = std::atoi(field.c_str() + e + 1);
  return std::pow(10.0, exponent - digits);
}

// Compares two result files: the same lines and fields; text fields (names,
// "NA", counts) identical; numbers in exponent form written with the same
// number of digits and equal within rel_tol (relative) plus one unit of the
// last printed digit, which allows for a different rounding of the last digit.
inline void expect_same_results(const std::string &actual, const std::string &expected,
                                double rel_tol) {
  std::vector<std::string> al = split(actual, '\n'), el = split(expected, '\n');
  ASSERT_EQ(al.size(), el.size()) << "actual:\n" << actual << "expected:\n" << expected;
  for (size_t l = 0; l < el.size(); l++) {
    std::vector<std::string> af = split(al[l], '\t'), ef = split(el[l], '\t');
    ASSERT_EQ(af.size(), ef.size()) << "line " << l << "\nactual:   " << al[l]
                                    << "\nexpected: " << el[l];
    for (size_t f = 0; f < ef.size(); f++) {
      double unit = last_digit_unit(ef[f]);
      if (unit == 0 || af[f] == ef[f]) {
        EXPECT_EQ(af[f], ef[f]) << "line " << l << " field " << f << "\nactual:   " << al[l]
                                << "\nexpected: " << el[l];
        continue;
      }
      EXPECT_EQ(af[f].find('E') - af[f].find('.'), ef[f].find('E') - ef[f].find('.'))
          << "digits of line " << l << " field " << f << ": " << af[f] << " vs " << ef[f];
      double a = std::atof(af[f].c_str()), b = std::atof(ef[f].c_str());
      EXPECT_LE(std::fabs(a - b), rel_tol * std::fabs(b) + 1.01 * unit)
          << "line " << l << " field " << f << ": " << af[f] << " vs " << ef[f];
    }
  }
}

}  // namespace gene_pass_test

#endif
