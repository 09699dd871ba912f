// Result rows hold no impossible p-value, end to end, on the fixture
// "negative_tail": one gene of seven rare variants whose quantitative trait
// follows the burden closely, so that Davies' routine gives P(Q < T) just
// above 1 and 1 - P comes out below 0 (about -1e-9) for SKAT; and a weight
// file whose only weight, 1e200, makes the customized score's variance
// overflow, so that no score is usable and the combination routine gives its
// marker -999. SKAT_P is printed 0 with the SKAT warning on standard output
// and in the message log, MAX_P "NA"; every other byte is that of the run
// before either case was handled.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include <sys/wait.h>

#include <gsl/gsl_randist.h>

#include "tests/driver/driver_test_support.h"
#include "tests/driver/family_reference.h"
#include "tests/driver/gene_pass_support.h"

namespace {

using family_reference::Matrix;

const std::string kFixture = std::string(QUORVEX_SOURCE_DIR) + "/tests/driver/fixtures/negative_tail";

// Runs the fixture in a scratch copy; returns the folder.
std::string run_fixture(const std::string &args) {
  const std::string dir = test_support::temp_dir();
  const std::string cmd = "cp '" + kFixture + "'/*.txt '" + dir + "' && cd '" + dir + "' && '" +
                          QUORVEX_BINARY + "' " + args + " > stdout.txt";
  const int raw = std::system(cmd.c_str());
  EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0) << test_support::read_file(dir + "/stdout.txt");
  return dir;
}

TEST(ResultBounds, NegativeTailPrintsZeroWithWarningAndMarkerPrintsNa) {
  const std::string dir = run_fixture("-wfile w.txt -msglog m.log");
  EXPECT_EQ(test_support::mask_times(test_support::read_file(dir + "/stdout.txt")),
            test_support::read_file(kFixture + "/expected_stdout.txt"));
  EXPECT_EQ(test_support::read_file(dir + "/rare.out"), test_support::read_file(kFixture + "/expected_rare.out"));
  EXPECT_EQ(test_support::read_file(dir + "/m.log"), test_support::read_file(kFixture + "/expected_m.log"));
  // What the expected files hold, field by field.
  const std::vector<std::string> rows = gene_pass_test::split(test_support::read_file(dir + "/rare.out"), '\n');
  ASSERT_GE(rows.size(), 2u);
  const std::vector<std::string> f = gene_pass_test::split(rows[1], '\t');
  ASSERT_GE(f.size(), 7u);
  EXPECT_EQ(f[5], "0.0000E+00");  // SKAT_P
  EXPECT_EQ(f[6], "NA");          // MAX_P
  EXPECT_EQ(test_support::read_file(dir + "/m.log"),
            "GENE G1 Warning: The asymptotic SKAT p-value may not be accurate.\n");
  gene_pass_test::remove_dir(dir);
}

// The printed 0 is right to Davies' accuracy (1e-8): the SKAT tail of the
// gene recomputed from its variant log (the weighted kernel's eigenvalues by
// Jacobi rotations, the tail by Imhof's formula) lies in [0, 1e-8].
TEST(ResultBounds, NegativeTailGeneHasATrueSkatTailBelowTheAccuracy) {
  const std::string dir = run_fixture("");
  std::vector<std::vector<std::string>> rows;
  for (const std::string &line : gene_pass_test::split(test_support::read_file(dir + "/skat.log"), '\n'))
    if (!line.empty() && line[0] != '#') rows.push_back(gene_pass_test::split(line, '\t'));
  const size_t n = rows.size();
  ASSERT_EQ(n, 7u);
  std::vector<double> w(n), U(n);
  Matrix cov(n, std::vector<double>(n, 0.0));
  for (size_t i = 0; i < n; i++) {
    const double b = gsl_ran_beta_pdf(std::stod(rows[i][2]), 1.0, 25.0);
    w[i] = b * b;
    U[i] = std::stod(rows[i][5]);
    for (size_t j = 0; j <= i; j++) cov[i][j] = cov[j][i] = std::stod(rows[i][6 + j]);
  }
  double T = 0;
  Matrix K(n, std::vector<double>(n));
  for (size_t i = 0; i < n; i++) {
    T += w[i] * U[i] * U[i];
    for (size_t j = 0; j < n; j++) K[i][j] = std::sqrt(w[i] * w[j]) * cov[i][j];
  }
  std::vector<double> lambda = family_reference::jacobi_eigenvalues(K);
  double lmax = 0;
  for (double l : lambda) lmax = std::max(lmax, l);
  for (double &l : lambda) l /= lmax;  // the same tail on the scale of the largest eigenvalue
  const double p = family_reference::chisq_mixture_upper_tail(lambda, T / lmax);
  EXPECT_GE(p, 0.0);
  EXPECT_LT(p, 1e-8);
  gene_pass_test::remove_dir(dir);
}

}  // namespace
