// Rows of the common-variant result file: the markers of a value not
// computed print "NA", the row's numbers print in their formats.

#include "driver/common_results.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <string>

#include "driver/settings.h"

namespace {

Settings defaults() {
  Settings s;
  set_defaults(&s);
  return s;
}

// Every marker of a value not computed (99, -999, 2, NaN) gives the "NA"
// row when it is the asymptotic p-value, and "NA" in the resampling column
// beside a printed one; 0 and 1 print.
TEST(CommonResultRows, MarkersPrintNa) {
  Settings s = defaults();
  s.PERM_FLAG = 1;
  const double markers[] = {99, -999, 2, NAN};
  for (double m : markers) {
    double p = m, perm = 0.5, stat = 1.5;
    RunArrays run;
    run.pvalue_com = &p;
    run.pvalue_perm_com = &perm;
    run.pvalue_com_stat = &stat;
    char row[512];
    std::size_t n = format_common_row(s, run, 0, "rs1", 2.0, 4.0, row, sizeof row);
    EXPECT_EQ(std::string(row, n), "rs1\tNA\tNA\tNA\tNA\tNA\n") << m;
    p = 0.0;
    perm = m;
    n = format_common_row(s, run, 0, "rs1", 2.0, 4.0, row, sizeof row);
    EXPECT_EQ(std::string(row, n),
              "rs1\t0.0000E+00\tNA\t2.000000000E+00\t4.000000000E+00\t1.5000E+00\n")
        << m;
    p = 1.0;
    perm = 1.0;
    n = format_common_row(s, run, 0, "rs1", 2.0, 4.0, row, sizeof row);
    EXPECT_EQ(std::string(row, n),
              "rs1\t1.0000E+00\t1.0000E+00\t2.000000000E+00\t4.000000000E+00\t1.5000E+00\n");
  }
}

}  // namespace
