// Runs the quorvex binary on the fixture folders and compares its whole
// standard output (the start-time line masked) and its exit status.
#include <gtest/gtest.h>

#include <string>
#include <sys/wait.h>

#include "driver_test_support.h"

namespace {

struct RunCase {
  const char *name;
  const char *fixture;   // folder under tests/driver/fixtures
  const char *args;      // command-line arguments
  const char *expected;  // expected standard output, in the fixture folder
  int status;
};
void PrintTo(const RunCase &c, std::ostream *os) { *os << c.fixture << " " << c.args; }

class EndToEnd : public ::testing::TestWithParam<RunCase> {};

TEST_P(EndToEnd, WholeStandardOutputAndStatus) {
  const RunCase c = GetParam();
  const std::string folder = std::string(QUORVEX_SOURCE_DIR) + "/tests/driver/fixtures/" + c.fixture;
  // The run happens in a copy of the fixture folder, so that the files a
  // run writes never land in the source tree.
  const std::string run_dir = test_support::temp_dir();
  const std::string out = run_dir + "/stdout.txt";
  const std::string copy = "cp '" + folder + "'/*.txt '" + run_dir + "'";
  ASSERT_EQ(std::system(copy.c_str()), 0);
  const int status = test_support::run_program(run_dir, "", c.args, "> '" + out + "'");
  ASSERT_NE(status, -1) << "the program did not exit";
  EXPECT_EQ(status, c.status);
  EXPECT_EQ(test_support::mask_times(test_support::read_file(out)), test_support::read_file(folder + "/" + c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, EndToEnd,
    ::testing::Values(RunCase{"Basic", "basic", "", "expected_stdout.txt", 0},
                      RunCase{"BasicNoRare", "basic", "-noRare -resample 5000000 -CR 0.95",
                              "expected_stdout_norare.txt", 0},
                      RunCase{"QuantitativeDominantWeightsErec", "quantitative",
                              "-dominant -wfile w.txt -resample 2000000 -EREC 1.5 -msglog m.log",
                              "expected_stdout.txt", 0},
                      RunCase{"Mismatch", "mismatch", "-gfile geno.txt", "expected_stdout.txt", 1}),
    [](const ::testing::TestParamInfo<RunCase> &info) { return std::string(info.param.name); });

}  // namespace
