// Runs the quorvex binary on the fixture folders and compares its whole
// standard output (the start-time line masked) and its exit status.
#include <gtest/gtest.h>

#include <string>
#include <sys/wait.h>

#include "driver_test_support.h"

namespace {

struct RunCase {
  const char *fixture;   // folder under tests/driver/fixtures
  const char *args;      // command-line arguments
  const char *expected;  // expected standard output, in the fixture folder
  int status;
};

class EndToEnd : public ::testing::TestWithParam<RunCase> {};

TEST_P(EndToEnd, WholeStandardOutputAndStatus) {
  const RunCase c = GetParam();
  const std::string folder = std::string(QUORVEX_SOURCE_DIR) + "/tests/driver/fixtures/" + c.fixture;
  // The run happens in a copy of the fixture folder, so that the files a
  // run writes never land in the source tree.
  const std::string run_dir = test_support::temp_dir();
  const std::string out = run_dir + "/stdout.txt";
  const std::string command = "cp '" + folder + "'/*.txt '" + run_dir + "' && cd '" + run_dir + "' && '" +
                              QUORVEX_BINARY + "' " + c.args + " > '" + out + "'";
  int raw = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(raw));
  EXPECT_EQ(WEXITSTATUS(raw), c.status);
  EXPECT_EQ(test_support::mask_times(test_support::read_file(out)), test_support::read_file(folder + "/" + c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, EndToEnd,
    ::testing::Values(RunCase{"basic", "", "expected_stdout.txt", 0},
                      RunCase{"basic", "-noRare -resample 5000000 -CR 0.95", "expected_stdout_norare.txt", 0},
                      RunCase{"quantitative", "-dominant -wfile w.txt -resample 2000000 -EREC 1.5 -msglog m.log",
                              "expected_stdout.txt", 0},
                      RunCase{"mismatch", "-gfile geno.txt", "expected_stdout.txt", 1}));

}  // namespace
