// The gene-level result file: header per model and switches, and the rules
// of a row ("NA" for every marker of a value not computed, that is any value
// outside 0..1 and NaN, resampling columns only beside
// a printed asymptotic column, the MAC/U/V/Z group sharing its test's "NA").

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "driver/gene_results.h"
#include "tests/driver/gene_pass_support.h"
#include "support/death_tests.h"

using namespace gene_pass_test;

namespace {

struct HeaderCase {
  const char *name;
  int DOCMC, DOREC, mwf, PERM_FLAG;
  size_t fields;
  const char *header;
};

void PrintTo(const HeaderCase &c, std::ostream *os) { *os << c.name; }

class GeneResultHeader : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(GeneResultHeader, ColumnsFollowModelAndSwitches) {
  const HeaderCase &c = GetParam();
  Settings s;
  set_defaults(&s);
  s.DOCMC = c.DOCMC;
  s.DOREC = c.DOREC;
  s.N_FIX = (c.DOCMC || c.DOREC) ? 2 : 3;
  s.mwf = c.mwf;
  s.PERM_FLAG = c.PERM_FLAG;
  const std::string h = gene_result_header(s);
  EXPECT_EQ(h, std::string(c.header) + "\n");
  EXPECT_EQ(split(h.substr(0, h.size() - 1), '\t').size(), c.fields);
}

const char kMacAdd[] = "\tT1_MAC\tT1_U\tT1_V\tT1_Z\tT5_MAC\tT5_U\tT5_V\tT5_Z\tMB_MAC\tMB_U\tMB_V\tMB_Z";
const char kMac2[] = "\tT1_MAC\tT1_U\tT1_V\tT1_Z\tT5_MAC\tT5_U\tT5_V\tT5_Z";

const std::string kAdd = "GENE_ID\tT1_P\tT5_P\tMB_P\tVT_P\tSKAT_P";
const std::string kTwo = "GENE_ID\tT1_P\tT5_P\tVT_P\tSKAT_P";
const std::string kH[] = {
    kTwo + kMac2,
    kTwo + "\tT1_R\tT5_R\tVT_R\tSKAT_R" + kMac2,
    kAdd + kMacAdd,
    kAdd + "\tMAX_P" + kMacAdd,
    kAdd + "\tT1_R\tT5_R\tMB_R\tVT_R\tSKAT_R\tEREC_R" + kMacAdd,
    kAdd + "\tMAX_P\tT1_R\tT5_R\tMB_R\tVT_R\tSKAT_R\tEREC_R" + kMacAdd,
};

const HeaderCase kHeaders[] = {
    {"Dominant", 1, 0, 0, 0, 13, kH[0].c_str()},
    {"Recessive", 0, 1, 0, 0, 13, kH[0].c_str()},
    {"DominantResampling", 1, 0, 0, 1, 17, kH[1].c_str()},
    {"RecessiveResampling", 0, 1, 0, 1, 17, kH[1].c_str()},
    {"Additive", 0, 0, 0, 0, 18, kH[2].c_str()},
    {"AdditiveWeights", 0, 0, 1, 0, 19, kH[3].c_str()},
    {"AdditiveResampling", 0, 0, 0, 1, 24, kH[4].c_str()},
    {"AdditiveWeightsResampling", 0, 0, 1, 1, 25, kH[5].c_str()},
};

INSTANTIATE_TEST_SUITE_P(Switches, GeneResultHeader, ::testing::ValuesIn(kHeaders),
                         [](const ::testing::TestParamInfo<HeaderCase> &info) {
                           return std::string(info.param.name);
                         });

// Run arrays for one gene (k = 0) of a run with N_FIX tests.
struct OneGene {
  std::vector<double> p, stat, perm, U, V;
  std::vector<int> mac;
  double vt = 99, skat = 99, multi = 99, perm_vt = 99, perm_skat = 99, opp = 99;
  std::vector<double *> prow, srow, permrow;
  RunArrays run;

  explicit OneGene(int nfix) : p(nfix, 99), stat(nfix, 0), perm(nfix, 99), U(nfix), V(nfix),
                               mac(nfix) {
    for (int t = 0; t < nfix; t++) {
      prow.push_back(&p[t]);
      srow.push_back(&stat[t]);
      permrow.push_back(&perm[t]);
    }
    run.N_FIX = nfix;
    run.pvalue = prow.data();
    run.pvalue_stat = srow.data();
    run.pvalue_perm = permrow.data();
    run.pvalue_U = U.data();
    run.pvalue_V = V.data();
    run.mac_fix = mac.data();
    run.pvalue_vt = &vt;
    run.pvalue_skat = &skat;
    run.pvalue_multi = &multi;
    run.pvalue_perm_vt = &perm_vt;
    run.pvalue_perm_skat = &perm_skat;
    run.pvalue_opp = &opp;
  }
};

TEST(GeneResultRow, AdditiveRowWithNaRules) {
  Settings s;
  set_defaults(&s);
  OneGene g(3);
  g.p = {1.0, NAN, 0.0123456};
  g.stat = {0.0, NAN, -2.5};
  g.U = {1.5, 2, -0.25};
  g.V = {3, 4, 0.01};
  g.mac = {4, 5, 6};
  EXPECT_EQ(gene_result_row(s, g.run, 0, "GENE1"),
            "GENE1\t1.0000E+00\tNA\t1.2346E-02\tNA\tNA"
            "\t4\t1.500000000E+00\t3.000000000E+00\t0.0000E+00"
            "\tNA\tNA\tNA\tNA"
            "\t6\t-2.500000000E-01\t1.000000000E-02\t-2.5000E+00\n");
}

// Every marker of a value not computed, wherever it stands, prints "NA",
// and so do the resampling column and the MAC/U/V/Z columns beside it; 0
// and 1 themselves print.
struct MarkerCase {
  const char *name;
  double value;
  bool printed;
};

void PrintTo(const MarkerCase &c, std::ostream *os) { *os << c.name; }

const MarkerCase kMarkers[] = {{"NotComputed99", 99, false},
                               {"NoUsableScore", -999, false},
                               {"FailedSkat", 2, false},
                               {"NaN", NAN, false},
                               {"JustAboveOne", 1.0000000000000002, false},
                               {"JustBelowZero", -1e-300, false},
                               {"Zero", 0.0, true},
                               {"One", 1.0, true}};

class GeneResultMarker : public ::testing::TestWithParam<MarkerCase> {};

TEST_P(GeneResultMarker, PrintsNaInEveryColumnItReaches) {
  const MarkerCase c = GetParam();
  Settings s;
  set_defaults(&s);
  s.PERM_FLAG = 1;
  s.mwf = 1;
  OneGene g(3);
  g.p = {c.value, 0.5, 0.5};
  g.perm = {0.25, 0.25, 0.25};
  g.vt = g.skat = g.multi = c.value;
  g.perm_vt = g.perm_skat = 0.125;
  g.opp = c.value;
  g.mac = {7, 7, 7};
  char v[32];
  snprintf(v, sizeof v, "\t%.4E", c.value);
  const std::string p = c.printed ? v : "\tNA";
  const std::string both = "\t5.0000E-01";
  const std::string burden = "\t7\t0.000000000E+00\t0.000000000E+00\t0.0000E+00";
  EXPECT_EQ(gene_result_row(s, g.run, 0, "G"),
            "G" + p + both + both + p + p + p +                                  // P columns
                (c.printed ? "\t2.5000E-01" : "\tNA") + "\t2.5000E-01\t2.5000E-01" +  // T1_R..MB_R
                (c.printed ? "\t1.2500E-01\t1.2500E-01" : "\tNA\tNA") + p +       // VT_R SKAT_R EREC_R
                (c.printed ? burden : "\tNA\tNA\tNA\tNA") + burden + burden + "\n");
}

INSTANTIATE_TEST_SUITE_P(Values, GeneResultMarker, ::testing::ValuesIn(kMarkers),
                         [](const ::testing::TestParamInfo<MarkerCase> &info) {
                           return std::string(info.param.name);
                         });

TEST(GeneResultRow, ResamplingColumnsOnlyBesidePrintedAsymptoticOnes) {
  Settings s;
  set_defaults(&s);
  s.PERM_FLAG = 1;
  s.mwf = 1;
  OneGene g(3);
  g.p = {0.5, 99, 0.25};
  g.perm = {0.125, 0.5, 99};  // MB: resampling not run, written "NA"
  g.vt = 99;
  g.perm_vt = 0.5;
  g.skat = 0.75;
  g.perm_skat = 0.0625;
  g.multi = 0.375;
  g.opp = 0.03125;
  EXPECT_EQ(gene_result_row(s, g.run, 0, "G"),
            "G\t5.0000E-01\tNA\t2.5000E-01\tNA\t7.5000E-01\t3.7500E-01"
            "\t1.2500E-01\tNA\tNA\tNA\t6.2500E-02\t3.1250E-02"
            "\t0\t0.000000000E+00\t0.000000000E+00\t0.0000E+00\tNA\tNA\tNA\tNA"
            "\t0\t0.000000000E+00\t0.000000000E+00\t0.0000E+00\n");
}

TEST(GeneResultFile, HeaderThenAppendedRows) {
  const std::string dir = scratch_dir();
  const std::string path = dir + "/rare.out";
  Settings s;
  set_defaults(&s);
  s.output = path.c_str();
  write_file(dir, "rare.out", "old contents\n");
  write_gene_header(s);
  OneGene g(3);
  write_gene_row(s, g.run, 0, "A");
  write_gene_row(s, g.run, 0, "B");
  std::string na17;
  for (int f = 0; f < 17; f++) na17 += "\tNA";
  EXPECT_EQ(read_file(path), gene_result_header(s) + "A" + na17 + "\n" + "B" + na17 + "\n");
  remove_dir(dir);
}

TEST(GeneResultFileDeathTest, UncreatableFileStops) {
  Settings s;
  set_defaults(&s);
  s.output = "/nonexistent/rare.out";
  EXPECT_EXIT(
      run_to_exit([&] {
        fflush(stdout);
        dup2(fileno(stderr), fileno(stdout));
        write_gene_header(s);
      }),
      ::testing::ExitedWithCode(1),
      "^Error: Cannot create output file '/nonexistent/rare.out'.\n\nQUORVEX was stopped");
}

}  // namespace
