#include "driver/settings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "driver_test_support.h"
#include "support/death_tests.h"

namespace {

using test_support::kStop;
using test_support::whole;

// Report lines, written out as the program must print them.
const std::string kHeading = "\n*---------------- Loading options...----------------*\n";
const std::string kUser = "FROM USER:\n";
const std::string kDefaults = "FROM DEFAULTS:\n";
const std::string kGeno = "        -- Genotypes read from 'geno.txt'.\n";
const std::string kPheno = "        -- Phenotypes read from 'pheno.txt'.\n";
const std::string kAsymOnly = "        -- Do asymptotic test only.\n";
const std::string kBoth = "        -- Do both asymptotic and resampling tests.\n";
const std::string kCallRate0 = "        -- Remove variants with call rate less than 0.000000.\n";
const std::string kAdditive = "        -- Do variant association analysis under additive genetic model.\n";
const std::string kDominant = "        -- Do variant association analysis under dominant genetic model.\n";
const std::string kRecessive = "        -- Do variant association analysis under recessive genetic model.\n";
const std::string kNoCommon = "        -- No single variant analysis for common SNPs.\n";
const std::string kMap = "        -- Gene-SNP mapping file read from 'mapping.txt'.\n";
const std::string kRare = "        -- Rare variant analysis output written to 'rare.out'.\n";
const std::string kVtLog =
    "        -- Score statistics and covariance estimates for VT burden scores are written to 'vt.log'.\n";
const std::string kSnpLog =
    "        -- Score statistics and covariance estimates for SNPs are written to 'skat.log'.\n";
const std::string kMaf = "        -- MAF upper bound is 0.050000.\n";
const std::string kMac = "        -- MAC lower bound is 1.\n";
const std::string kDeltaDefault =
    "        -- Delta=1 for binary trait and delta=2 for quantitative trait in EREC test.\n";
const std::string kGenePassDefaults = kMap + kRare + kVtLog + kSnpLog + kMaf + kMac;
const std::string kWarnMillion =
    "Warning: The default maximum number of resamples is 1 million. Specify a number greater than 1 million.\n";
const std::string kWarnHundredMillion =
    "Warning: The number of resamples should not exceed 100 millions. The default of 1 million resamples is "
    "applied\n";
const std::string kWarnEREC1 =
    "Warning: EREC test is not conducted. Should turn on resampling test first using -resample.\n";
const std::string kWarnEREC2 = "Warning: EREC test is not conducted under dominant/recessive genetic model.\n";
const std::string kWarnCustom = "Warning: Customized test is performed only under additive genetic model.\n";

struct ReportCase {
  const char *name;
  std::vector<std::string> args;  // without the program name
  std::string report;             // the whole standard output of load_options
  std::function<void(const Settings &)> check;
};

// store holds the argument texts, at which the file-name settings point.
std::string run_load_options(std::vector<std::string> &store, Settings *s) {
  std::vector<char *> argv;
  static char program[] = "quorvex";
  argv.push_back(program);
  for (auto &a : store) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  testing::internal::CaptureStdout();
  load_options(static_cast<int>(store.size()) + 1, argv.data(), s);
  return testing::internal::GetCapturedStdout();
}

const std::string kAllDefaults =
    kDefaults + kGeno + kPheno + kAsymOnly + kCallRate0 + kAdditive + kNoCommon + kGenePassDefaults + "\n";

std::vector<ReportCase> report_cases() {
  return {
      {"no arguments", {}, kHeading + kUser + "\n" + kAllDefaults,
       [](const Settings &s) {
         EXPECT_STREQ(s.genotype, "geno.txt");
         EXPECT_STREQ(s.phenotype, "pheno.txt");
         EXPECT_STREQ(s.mapfile, "mapping.txt");
         EXPECT_STREQ(s.wfile, "wfile.txt");
         EXPECT_STREQ(s.output, "rare.out");
         EXPECT_STREQ(s.output_com, "com.out");
         EXPECT_STREQ(s.vtlog, "vt.log");
         EXPECT_STREQ(s.skatlog, "skat.log");
         EXPECT_STREQ(s.multilog, "multi.log");
         EXPECT_STREQ(s.msglog, "msg.log");
         EXPECT_EQ(s.MAF_UB, 0.05);
         EXPECT_EQ(s.DELTA, 1.0);
         EXPECT_EQ(s.MAF_C, 0.05);
         EXPECT_EQ(s.NA_UB, 1.0);
         EXPECT_EQ(s.MAC_LB, 1);
         EXPECT_EQ(s.PERM_FLAG, 0);
         EXPECT_EQ(s.MORE, -1);
         EXPECT_EQ(s.mmore, 0);
         EXPECT_EQ(s.DORARE, 1);
         EXPECT_EQ(s.DOCOM, 0);
         EXPECT_EQ(s.DOCMC + s.DOREC, 0);
         EXPECT_EQ(s.N_FIX, 3);
         EXPECT_EQ(s.mcmc + s.mrec + s.mpf + s.mgf + s.mmf + s.mwf + s.mof + s.mofc + s.mvtl + s.mskatl +
                       s.mmsgl + s.mrare + s.mallele + s.mna + s.mp + s.mopp,
                   0);
       }},
      {"resample 1000000", {"-resample", "1000000"},
       kHeading + kUser + kBoth + "\n" + kWarnMillion + kDefaults + kGeno + kPheno + kCallRate0 + kAdditive +
           kNoCommon + kGenePassDefaults + kDeltaDefault + "\n",
       [](const Settings &s) {
         EXPECT_EQ(s.MORE, 1000000);
         EXPECT_EQ(s.PERM_FLAG, 1);
         EXPECT_EQ(s.mmore, 0);
       }},
      {"resample 1000001", {"-resample", "1000001"},
       kHeading + kUser + kBoth + "\n" + kDefaults + kGeno + kPheno + kCallRate0 + kAdditive + kNoCommon +
           kGenePassDefaults + kDeltaDefault + "\n",
       [](const Settings &s) {
         EXPECT_EQ(s.MORE, 1000001);
         EXPECT_EQ(s.mmore, 1);
       }},
      {"resample 100000000", {"-resample", "100000000"},
       kHeading + kUser + kBoth + "\n" + kDefaults + kGeno + kPheno + kCallRate0 + kAdditive + kNoCommon +
           kGenePassDefaults + kDeltaDefault + "\n",
       [](const Settings &s) { EXPECT_EQ(s.mmore, 1); }},
      {"resample 100000001", {"-resample", "100000001"},
       kHeading + kUser + kBoth + "\n" + kWarnHundredMillion + kDefaults + kGeno + kPheno + kCallRate0 +
           kAdditive + kNoCommon + kGenePassDefaults + kDeltaDefault + "\n",
       [](const Settings &s) {
         EXPECT_EQ(s.MORE, 100000001);
         EXPECT_EQ(s.mmore, 0);
       }},
      {"resample -1", {"-resample", "-1"},
       kHeading + kUser + kBoth + "\n" + kDefaults + kGeno + kPheno + kCallRate0 + kAdditive + kNoCommon +
           kGenePassDefaults + kDeltaDefault + "\n",
       [](const Settings &s) {
         EXPECT_EQ(s.PERM_FLAG, 1);
         EXPECT_EQ(s.MORE, -1);
         EXPECT_EQ(s.mmore, 0);
       }},
      {"resample not a number", {"-resample", "many"},
       kHeading + kUser + kBoth + "\n" + kWarnMillion + kDefaults + kGeno + kPheno + kCallRate0 + kAdditive +
           kNoCommon + kGenePassDefaults + kDeltaDefault + "\n",
       [](const Settings &s) { EXPECT_EQ(s.MORE, 0); }},
      {"repeated resample keeps mmore", {"-resample", "2000000", "-resample", "5"},
       kHeading + kUser + kBoth + "\n" + kWarnMillion + kDefaults + kGeno + kPheno + kCallRate0 + kAdditive +
           kNoCommon + kGenePassDefaults + kDeltaDefault + "\n",
       [](const Settings &s) {
         EXPECT_EQ(s.MORE, 5);
         EXPECT_EQ(s.mmore, 1);
       }},
      {"wfile with recessive", {"-wfile", "w.txt", "-recessive"},
       kHeading + kWarnCustom + kUser + kRecessive + "\n" + kDefaults + kGeno + kPheno + kAsymOnly + kCallRate0 +
           kNoCommon + kGenePassDefaults + "\n",
       [](const Settings &s) {
         EXPECT_EQ(s.mwf, 0);
         EXPECT_STREQ(s.wfile, "w.txt");
         EXPECT_EQ(s.DOREC, 1);
         EXPECT_EQ(s.N_FIX, 2);
       }},
      {"EREC without resample", {"-EREC", "3"},
       kHeading + kUser + kWarnEREC1 + "\n" + kAllDefaults,
       [](const Settings &s) {
         EXPECT_EQ(s.mopp, 0);
         EXPECT_EQ(s.DELTA, 3.0);
       }},
      {"EREC with resample", {"-EREC", "3", "-resample", "5000000"},
       kHeading + kUser + kBoth + "        -- Set delta='3.000000' for EREC test.\n" + "\n" + kDefaults + kGeno +
           kPheno + kCallRate0 + kAdditive + kNoCommon + kGenePassDefaults + "\n",
       [](const Settings &s) {
         EXPECT_EQ(s.mopp, 1);
         EXPECT_EQ(s.DELTA, 3.0);
       }},
      {"EREC with resample and dominant", {"-EREC", "3", "-resample", "5000000", "-dominant"},
       kHeading + kUser + kBoth + kDominant + kWarnEREC2 + "\n" + kDefaults + kGeno + kPheno + kCallRate0 +
           kNoCommon + kGenePassDefaults + kDeltaDefault + "\n",
       [](const Settings &s) {
         EXPECT_EQ(s.mopp, 0);
         EXPECT_EQ(s.DOCMC, 1);
         EXPECT_EQ(s.N_FIX, 2);
       }},
      {"noRare", {"-noRare"},
       kHeading + kUser + "        -- Skip rare variant analysis.\n" + kDefaults + kGeno + kPheno + kAsymOnly +
           kCallRate0 + kAdditive + kNoCommon,
       [](const Settings &s) { EXPECT_EQ(s.DORARE, 0); }},
      {"CR 0.9", {"-CR", "0.9"},
       kHeading + kUser + "        -- Remove variants with call rate less than 0.900000.\n" + "\n" + kDefaults +
           kGeno + kPheno + kAsymOnly + kAdditive + kNoCommon + kGenePassDefaults + "\n",
       [](const Settings &s) {
         EXPECT_EQ(s.NA_UB, 1.0 - 0.9);
         EXPECT_EQ(s.mna, 1);
       }},
      {"pfile takes -gfile as its value", {"-pfile", "-gfile"},
       kHeading + kUser + "        -- Phenotypes read from '-gfile'.\n" + "\n" + kDefaults + kGeno + kAsymOnly +
           kCallRate0 + kAdditive + kNoCommon + kGenePassDefaults + "\n",
       [](const Settings &s) {
         EXPECT_STREQ(s.phenotype, "-gfile");
         EXPECT_EQ(s.mgf, 0);
         EXPECT_STREQ(s.genotype, "geno.txt");
       }},
      {"every file and bound from the user",
       {"-gfile", "g", "-pfile", "p", "-msglog", "m", "-com", "0.1", "-ofileC", "c", "-mfile", "mf", "-ofile",
        "o", "-vtlog", "v", "-snplog", "s", "-wfile", "w", "-multilog", "ml", "-MAF", "0.01", "-MAC", "3"},
       kHeading + kUser + "        -- Genotypes read from 'g'.\n" + "        -- Phenotypes read from 'p'.\n" +
           "        -- Warning message written to 'm'\n" +
           "        -- Do single variant analysis for common SNPs (MAF>0.100000).\n" +
           "        -- Single variant analysis output written to 'c'.\n" +
           "        -- Gene-SNP mapping file read from 'mf'.\n" +
           "        -- Rare variant analysis output written to 'o'.\n" +
           "        -- Score statistics and covariance estimates for VT burden scores are written to 'v'.\n" +
           "        -- Score statistics and covariance estimates for SNPs are written to 's'.\n" +
           "        -- Score statistics and covariance estimates for customized burden scores are written to "
           "'ml'.\n" +
           "        -- MAF upper bound is 0.010000.\n" + "        -- MAC lower bound is 3.\n" + "\n" + kDefaults +
           kAsymOnly + kCallRate0 + kAdditive + "\n",
       [](const Settings &s) {
         EXPECT_EQ(s.DOCOM, 1);
         EXPECT_EQ(s.MAF_C, 0.1);
         EXPECT_EQ(s.MAF_UB, 0.01);
         EXPECT_EQ(s.MAC_LB, 3);
         EXPECT_EQ(s.mwf, 1);
         EXPECT_EQ(s.mmsgl, 1);
         EXPECT_STREQ(s.multilog, "ml");
       }},
      {"wfile alone reports the default customized log", {"-wfile", "w"},
       kHeading + kUser +
           "        -- Score statistics and covariance estimates for customized burden scores are written to "
           "'multi.log'.\n" +
           "\n" + kAllDefaults,
       [](const Settings &s) { EXPECT_EQ(s.mwf, 1); }},
      {"ofileC without com is not reported", {"-ofileC", "c"}, kHeading + kUser + "\n" + kAllDefaults,
       [](const Settings &s) {
         EXPECT_EQ(s.mofc, 1);
         EXPECT_STREQ(s.output_com, "c");
       }},
  };
}

class SettingsReport : public ::testing::TestWithParam<std::size_t> {};

TEST_P(SettingsReport, PrintsExactlyTheExpectedReport) {
  const ReportCase c = report_cases()[GetParam()];
  SCOPED_TRACE(c.name);
  Settings s;
  std::vector<std::string> store = c.args;
  std::string out = run_load_options(store, &s);
  EXPECT_EQ(out, c.report);
  c.check(s);
}

INSTANTIATE_TEST_SUITE_P(OptionSets, SettingsReport, ::testing::Range(std::size_t(0), report_cases().size()));

TEST(Banner, SixLinesOf56ColumnsThenTheStartTime) {
  testing::internal::CaptureStdout();
  print_banner();
  std::string out = testing::internal::GetCapturedStdout();
  const std::string border = "@------------------------------------------------------@";
  const std::string expected_head = "\n" + border + "\n" +
                                    "|      Quorvex      |   1.0.0   |     10/Dec/2026      |\n" +
                                    "--------------------------------------------------------\n" +
                                    "|            For documentation & citation              |\n" +
                                    "|                    see README.md                     |\n" + border +
                                    "\n\n" + "\nQUORVEX started: ";
  ASSERT_EQ(out.substr(0, expected_head.size()), expected_head);
  std::string tail = out.substr(expected_head.size());
  // asctime text "Www Mmm dd hh:mm:ss yyyy\n", then the format's own newline.
  EXPECT_EQ(tail.size(), 26u);
  EXPECT_EQ(tail.substr(24), "\n\n");
  std::size_t pos = 1, next;
  for (int line = 0; line < 6; line++, pos = next + 1) {
    next = out.find('\n', pos);
    EXPECT_EQ(next - pos, 56u) << "banner line " << line + 1;
  }
}

struct FatalCase {
  const char *name;
  std::vector<std::string> args;
  std::string output;  // whole standard output of load_options
};

std::vector<FatalCase> fatal_cases() {
  return {
      {"unknown option", {"-MAF", "0.1", "-foo", "x"},
       kHeading + "\nError: Unknown command line option '-foo'.\n" + kStop},
      {"option case matters", {"-maf"}, kHeading + "\nError: Unknown command line option '-maf'.\n" + kStop},
      {"missing file name", {"-noRare", "-pfile"},
       kHeading + "\nError: Missing value for command line option '-pfile'.\n" + kStop},
      {"missing integer", {"-resample"},
       kHeading + "\nError: Missing value for command line option '-resample'.\n" + kStop},
      {"missing real", {"-com"}, kHeading + "\nError: Missing value for command line option '-com'.\n" + kStop},
      // Option values that are not values of their option stop the run at
      // once, naming the option and the value.
      {"MAF not a number", {"-MAF", "abc"}, kHeading + "\nError: Value 'abc' of option '-MAF' is not a number.\n" + kStop},
      {"MAF with trailing text", {"-MAF", "0.05x"},
       kHeading + "\nError: Value '0.05x' of option '-MAF' is not a number.\n" + kStop},
      {"MAF nan", {"-MAF", "nan"}, kHeading + "\nError: Value 'nan' of option '-MAF' is not a number.\n" + kStop},
      {"MAF 0", {"-MAF", "0"}, kHeading + "\nError: Value '0' of option '-MAF' is not in (0, 1].\n" + kStop},
      {"MAF above 1", {"-MAF", "1.5"}, kHeading + "\nError: Value '1.5' of option '-MAF' is not in (0, 1].\n" + kStop},
      {"MAC not an integer", {"-MAC", "7.9x"},
       kHeading + "\nError: Value '7.9x' of option '-MAC' is not an integer.\n" + kStop},
      {"MAC negative", {"-MAC", "-1"},
       kHeading + "\nError: Value '-1' of option '-MAC' is not an integer from 0 to 2147483647.\n" + kStop},
      {"MAC beyond an int", {"-MAC", "2147483648"},
       kHeading + "\nError: Value '2147483648' of option '-MAC' is not an integer from 0 to 2147483647.\n" + kStop},
      {"CR negative", {"-CR", "-0.1"}, kHeading + "\nError: Value '-0.1' of option '-CR' is not in [0, 1].\n" + kStop},
      {"CR above 1", {"-CR", "95"}, kHeading + "\nError: Value '95' of option '-CR' is not in [0, 1].\n" + kStop},
      {"com 1", {"-com", "1"}, kHeading + "\nError: Value '1' of option '-com' is not in [0, 1).\n" + kStop},
      {"com empty", {"-com", ""}, kHeading + "\nError: Value '' of option '-com' is not a number.\n" + kStop},
      {"EREC infinite", {"-EREC", "inf"}, kHeading + "\nError: Value 'inf' of option '-EREC' is not a number.\n" + kStop},
      {"dominant and recessive", {"-dominant", "-recessive", "-resample", "10"},
       kHeading + kUser + kBoth + kDominant + kRecessive + "\n" + kWarnMillion +
           "Error: the genetic modle can not be both dominant and recessive.\n" + kStop},
  };
}

class SettingsDeathTest : public ::testing::TestWithParam<std::size_t> {};

TEST_P(SettingsDeathTest, StopsWithItsMessageAndStatusOne) {
  const FatalCase c = fatal_cases()[GetParam()];
  SCOPED_TRACE(c.name);
  EXPECT_EXIT(
      run_to_exit([&] {
        test_support::stdout_to_stderr();
        std::vector<std::string> store = c.args;
        std::vector<char *> argv;
        static char program[] = "quorvex";
        argv.push_back(program);
        for (auto &a : store) argv.push_back(&a[0]);
        argv.push_back(nullptr);
        Settings s;
        load_options(static_cast<int>(store.size()) + 1, argv.data(), &s);
      }),
      ::testing::ExitedWithCode(1), whole(c.output));
}

INSTANTIATE_TEST_SUITE_P(FatalOptions, SettingsDeathTest, ::testing::Range(std::size_t(0), fatal_cases().size()));

TEST(OptionValues, EndsOfTheDomainsAreAccepted) {
  std::vector<std::string> store = {"quorvex", "-MAF", "1", "-CR", "0", "-com", "0", "-MAC", "0", "-EREC", "-2.5e0"};
  std::vector<char *> argv;
  for (auto &a : store) argv.push_back(&a[0]);
  Settings s;
  set_defaults(&s);
  walk_command_line(static_cast<int>(argv.size()), argv.data(), &s);
  EXPECT_EQ(s.MAF_UB, 1.0);
  EXPECT_EQ(s.NA_UB, 1.0);
  EXPECT_EQ(s.MAF_C, 0.0);
  EXPECT_EQ(s.MAC_LB, 0);
  EXPECT_EQ(s.DELTA, -2.5);
  store = {"quorvex", "-MAF", "1e-300", "-CR", "1", "-com", "0.999", "-MAC", "2147483647", "-resample", "99999999999"};
  argv.clear();
  for (auto &a : store) argv.push_back(&a[0]);
  walk_command_line(static_cast<int>(argv.size()), argv.data(), &s);
  EXPECT_EQ(s.MAF_UB, 1e-300);
  EXPECT_EQ(s.NA_UB, 0.0);
  EXPECT_EQ(s.MAF_C, 0.999);
  EXPECT_EQ(s.MAC_LB, 2147483647);
  EXPECT_EQ(s.MORE, 2147483647);  // held to an int: the 100-million warning applies
}

}  // namespace
