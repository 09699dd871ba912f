// What a killed run keeps: a run whose standard output goes to a file is
// killed (SIGKILL, as a scheduler's time limit does) while its one gene is
// in the resampling, after its asymptotic tests printed their warning. The
// file then holds every line printed before the kill: the banner, the
// settings and data summary (compared with the same lines of a run that
// ends), the START heading and the gene's warning; the message log holds
// the warning too, and the result file its header.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/driver/driver_test_support.h"
#include "tests/driver/gene_pass_support.h"

namespace {

const std::string kFixture = std::string(QUORVEX_SOURCE_DIR) + "/tests/driver/fixtures/negative_tail";
const char kWarning[] = "GENE G1 Warning: The asymptotic SKAT p-value may not be accurate.\n";
const char kHeading[] = "START QUORVEX TEST ----------------*\n";

// Starts the program in dir with standard output to dir/stdout.txt, on one
// thread, with resampling up to 10^8 resamples (the gene's p-value is far
// below 1e-4, so its resampling runs for a long time).
pid_t start_run(const std::string &dir) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(127);
    const int fd = open("stdout.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || dup2(fd, 1) < 0) _exit(127);
    setenv("QUORVEX_THREADS", "1", 1);
    execl(QUORVEX_BINARY, QUORVEX_BINARY, "-msglog", "m.log", "-resample", "100000000",
          static_cast<char *>(nullptr));
    _exit(127);
  }
  return pid;
}

// The fixture's files in a fresh folder; with reversed_trait the trait
// values are in reverse subject order, which leaves the gene without
// association (its resampling ends soon) and every line before the START
// heading as it is.
std::string copy_fixture(bool reversed_trait) {
  const std::string dir = test_support::temp_dir();
  const std::string cmd = "cp '" + kFixture + "'/geno.txt '" + kFixture + "'/mapping.txt '" + dir + "'";
  EXPECT_EQ(std::system(cmd.c_str()), 0);
  std::string pheno = test_support::read_file(kFixture + "/pheno.txt");
  if (reversed_trait) {
    std::vector<std::string> id, y;
    for (const std::string &line : gene_pass_test::split(pheno, '\n')) {
      if (line.empty()) continue;
      const std::vector<std::string> f = gene_pass_test::split(line, '\t');
      id.push_back(f[0]);
      y.push_back(f[1]);
    }
    pheno.clear();
    for (size_t i = 0; i < id.size(); i++) pheno += id[i] + "\t" + y[y.size() - 1 - i] + "\n";
  }
  test_support::write_file(dir, "pheno.txt", pheno);
  return dir;
}

TEST(KilledRun, KeepsEveryLinePrintedBeforeTheKill) {
  // Reference: the lines up to the START heading's time line, from a run
  // that ends.
  const std::string ref_dir = copy_fixture(true);
  const pid_t ref = start_run(ref_dir);
  ASSERT_GT(ref, 0);
  int status = 0;
  ASSERT_EQ(waitpid(ref, &status, 0), ref);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  const std::string ref_out = test_support::mask_times(test_support::read_file(ref_dir + "/stdout.txt"));
  const size_t heading = ref_out.find(kHeading);
  ASSERT_NE(heading, std::string::npos);
  const std::string before_tests = ref_out.substr(0, ref_out.find('\n', heading + sizeof kHeading - 1) + 1);

  const std::string dir = copy_fixture(false);
  const pid_t pid = start_run(dir);
  ASSERT_GT(pid, 0);
  // Wait until the gene's warning is in the file (up to two minutes: the
  // machine may be loaded, the build instrumented).
  std::string out;
  bool running = true;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (out.find(kWarning) == std::string::npos && std::chrono::steady_clock::now() < until) {
    if (waitpid(pid, &status, WNOHANG) == pid) {
      running = false;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    out = test_support::read_file(dir + "/stdout.txt");
  }
  if (running) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  ASSERT_TRUE(running) << "the run ended before it was killed";
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);

  out = test_support::mask_times(test_support::read_file(dir + "/stdout.txt"));
  EXPECT_EQ(out, before_tests + "\n\n" + kWarning);
  EXPECT_EQ(test_support::read_file(dir + "/m.log"), kWarning);
  // The result file was created with its header; the gene's row is not due.
  const std::string rare = test_support::read_file(dir + "/rare.out");
  EXPECT_EQ(rare.rfind("GENE_ID\t", 0), 0u);
  EXPECT_EQ(rare.find('\n'), rare.size() - 1);
  gene_pass_test::remove_dir(ref_dir);
  gene_pass_test::remove_dir(dir);
}

}  // namespace
