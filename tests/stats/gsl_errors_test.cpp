// The GSL's errors become the run's stop: the library's two lines on
// standard error, status 1, and the output written before the error kept.
#include "stats/gsl_errors.h"

#include <gtest/gtest.h>
#include <gsl/gsl_errno.h>
#include <gsl/gsl_sf_gamma.h>

#include <cstdio>
#include <string>

#include <unistd.h>

#include "numeric/run_stop.h"
#include "support/death_tests.h"

namespace {

// Gamma at a negative integer is a domain error, reported by the library
// from its own source file.
TEST(GslErrorsDeathTest, DomainErrorEndsTheRunWithTheLibrarysLines) {
  const std::string out = "/tmp/quorvex-gsl-stop-" + std::to_string(getpid());
  EXPECT_EXIT(run_to_exit([&] {
                if (std::freopen(out.c_str(), "w", stdout) == nullptr) std::_Exit(99);
                install_gsl_stop();
                std::printf("written before the error\n");  // still buffered
                gsl_sf_gamma(-1.0);
              }),
              ::testing::ExitedWithCode(1),
              "^gsl: [^\n]*gamma\\.c:[0-9]+: ERROR: [^\n]+\nDefault GSL error handler invoked\\.\n$");
  std::FILE *f = std::fopen(out.c_str(), "r");
  ASSERT_NE(f, nullptr);
  char buf[128] = {0};
  const size_t n = std::fread(buf, 1, sizeof buf - 1, f);
  std::fclose(f);
  std::remove(out.c_str());
  EXPECT_EQ(std::string(buf, n), "written before the error\n");
}

// Raised, the stop carries the same lines and nothing is written yet.
TEST(GslErrors, StopCarriesTheLibrarysMessage) {
  install_gsl_stop();
  bool stopped = false;
  try {
    gsl_sf_gamma(-1.0);
  } catch (const RunStop &stop) {
    stopped = true;
    EXPECT_EQ(stop.status, 1);
    ASSERT_EQ(stop.texts.size(), 2u);
    EXPECT_EQ(stop.texts[0].stream, RunStop::kStandardError);
    EXPECT_EQ(stop.texts[0].bytes.rfind("gsl: ", 0), 0u);
    EXPECT_NE(stop.texts[0].bytes.find(": ERROR: "), std::string::npos);
    EXPECT_EQ(stop.texts[0].bytes.back(), '\n');
    EXPECT_EQ(stop.texts[1].bytes, "Default GSL error handler invoked.\n");
  }
  gsl_set_error_handler(nullptr);
  EXPECT_TRUE(stopped);
}

}  // namespace
