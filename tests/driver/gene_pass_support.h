#ifndef QUORVEX_TESTS_DRIVER_GENE_PASS_SUPPORT_H
#define QUORVEX_TESTS_DRIVER_GENE_PASS_SUPPORT_H

// Helpers of the gene-pass tests: scratch folders, runs of the program with
// its pool and thread settings, whole outputs of a run, and comparing result
// files field by field.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "tests/support/files_and_runs.h"
#include "tests/support/scratch_dir.h"

namespace gene_pass_test {

inline std::string scratch_dir() { return test_support::make_scratch_dir("gp"); }

using test_support::file_exists;
using test_support::read_file;
using test_support::remove_dir;
using test_support::write_file;

// Runs the program in dir with the arguments; standard output goes to
// dir/stdout.txt. Returns the exit status.
inline int run_quorvex(const std::string &dir, const std::string &args) {
  return test_support::run_program(dir, "", args);
}

// Runs a bash script in dir, its standard output and error going to
// dir/script.out; returns its exit status.
inline int shell(const std::string &dir, const std::string &script) {
  const std::string path = write_file(dir, "script.sh", script);
  const std::string cmd = "cd '" + dir + "' && bash '" + path + "' > script.out 2>&1";
  const int rc = std::system(cmd.c_str());
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

// Standard output with its clock lines blanked (the start and end times).
inline std::string without_times(const std::string &out) {
  std::string r;
  for (const std::string &line : split(out, '\n')) {
    const bool clock = line.rfind("QUORVEX started:", 0) == 0 ||
                       (line.rfind("              ", 0) == 0 && line.size() > 14 &&
                        line[14] != ' ');
    r += (clock ? std::string("<time>") : line) + "\n";
  }
  return r;
}

// The environment settings of a run with the resampling pool size (empty:
// unlimited) and the thread count (0: the CPUs of the affinity mask).
inline std::string pool_env(const std::string &pool, int threads) {
  std::string env = pool.empty() ? "" : "QUORVEX_RESAMPLE_POOL=" + pool + " ";
  if (threads > 0) env += "QUORVEX_THREADS=" + std::to_string(threads) + " ";
  return env;
}

// Runs the program in dir with the resampling pool size (empty: unlimited)
// and the thread count (0: the CPUs of the affinity mask), and returns the
// exit status.
inline int run_pooled(const std::string &dir, const std::string &pool, const std::string &args,
                      int threads = 0) {
  return test_support::run_program(dir, pool_env(pool, threads), args);
}

// Writes a data set made by the generator into dir.
inline void generate(const std::string &dir, const std::string &args) {
  ASSERT_EQ(test_support::run_generator(args, dir), 0);
}

inline size_t count_of(const std::string &text, const std::string &what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) n++;
  return n;
}

// A whole run's outputs: the exit status, standard output without its clock
// lines, and every result file and log ("<none>" when the run wrote none).
struct Outputs {
  int status;
  std::map<std::string, std::string> files;
};

// Runs the program on the data set in data (its mapping file when it has
// one) with a message log, in a scratch folder, and collects its outputs,
// with environment settings (such as "QUORVEX_THREADS=3 ") put before the
// command.
inline Outputs run_and_collect_env(const std::string &data, const std::string &env,
                                   const std::string &args) {
  static const char *const kOutputs[] = {"com.out", "rare.out", "m.log",
                                         "vt.log",  "skat.log", "multi.log"};
  const std::string dir = scratch_dir();
  std::string files = "-pfile '" + data + "/pheno.txt' -gfile '" + data + "/geno.txt'";
  if (file_exists(data + "/mapping.txt")) files += " -mfile '" + data + "/mapping.txt'";
  Outputs o;
  o.status = test_support::run_program(dir, env, files + " -msglog m.log " + args);
  o.files["stdout"] = without_times(read_file(dir + "/stdout.txt"));
  o.files["stderr"] = read_file(dir + "/stderr.txt");
  for (const char *name : kOutputs)
    o.files[name] = file_exists(dir + "/" + name) ? read_file(dir + "/" + name) : "<none>";
  remove_dir(dir);
  return o;
}

// Runs the program on the data set in data (its mapping file when it has
// one) with the pool size (empty: unlimited), the thread count (0: the
// CPUs of the affinity mask) and a message log, in a scratch folder, and
// collects its outputs (standard error too).
inline Outputs run_and_collect(const std::string &data, const std::string &pool,
                               const std::string &args, int threads = 0) {
  return run_and_collect_env(data, pool_env(pool, threads), args);
}

// Thread counts that each whole run is repeated with, against one thread.
const int kThreadCounts[] = {2, 3, 8};

// Expects b's status and every output to equal a's.
inline void expect_same_outputs(const Outputs &a, const Outputs &b, const std::string &what) {
  EXPECT_EQ(b.status, a.status) << what;
  for (const auto &f : a.files) EXPECT_EQ(b.files.at(f.first), f.second) << what << ": " << f.first;
}

}  // namespace gene_pass_test

#endif
