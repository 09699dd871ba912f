// Malformed input, end to end: the quorvex binary runs on a small valid data
// set with one thing broken per case. Every case either stops with a line
// that begins "Error:" and names the file (and line), exit status 1 and no
// input file changed, or, where the input is valid after all, gives exactly
// the output files and standard output of the clean data.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>

#include "driver_test_support.h"

namespace {

using test_support::read_file;
using test_support::write_file;

const std::string kPheno =
    "id1\t1\t0.5\t61\nid2\t0\t-1.2\t54\nid3\t1\t0.3\t47\nid4\t0\t2.1\t70\nid5\t0\t0.0\t38\nid6\t1\t-0.7\t66\n";
const std::string kGeno =
    "rs1\t0\t0\t1\t0\t0\t0\nrs2\t0\tNA\t0\t0\t1\t0\nrs3\t1\t0\t0\t2\t0\t0\nrs4\t0\t0\t0\t0\t0\t0\n"
    "rs5\tNA\tNA\t0\t1\t0\t0\nrs6\t2\t1\t1\t2\t0.5\t1\nrs7\t0\t1\t0\t0\t0\t0\nrs8\t0\t0\t0\t1\t0\tNA\n";
const std::string kMap = "GENE_B\trs3\nGENE_A\trs1\nGENE_B\trs4\nGENE_C\trs9\nGENE_A\trs2\nGENE_B\trs7\n";
const std::string kMap3 = "GENE_B\trs3\t0.01\nGENE_A\trs1\t0.02\nGENE_A\trs2\t0.03\nGENE_B\trs7\t0.04\n";
const std::string kWeights = "GENE_A rs1 1 2\nGENE_A rs2 0.5 1\nGENE_B rs3 1 1\nGENE_B rs7 2 0.25\n";
const char kDir[] = "<directory>";
const char kFifo[] = "<pipe>";
const std::string kBom = "\xEF\xBB\xBF";

std::string crlf(const std::string &text) {
  std::string out;
  for (char c : text) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return out;
}

// text with its first occurrence of from replaced by to.
std::string edit(std::string text, const std::string &from, const std::string &to) {
  text.replace(text.find(from), from.size(), to);
  return text;
}

struct MalformedCase {
  const char *name;
  std::map<std::string, std::string> files;  // files that replace or join the clean ones
  std::string args;                          // options after "-pfile pheno.txt -gfile geno.txt -mfile mapping.txt -MAF 0.5"
  std::string error;                         // the whole "Error:" line, or "" for a valid run
};

void PrintTo(const MalformedCase &c, std::ostream *os) { *os << c.name; }

std::vector<MalformedCase> cases() {
  const std::string long_id(256, 'i'), long_token(1024, '1');
  const std::string weights = "-wfile w.txt";
  return {
      // Phenotype file.
      {"PhenotypeEmpty", {{"pheno.txt", ""}}, "", "Error: Phenotype file 'pheno.txt' is empty."},
      {"PhenotypeRaggedRowNamed", {{"pheno.txt", edit(kPheno, "id4\t0\t2.1\t70", "id4\t0\t2.1")}}, "",
       "Error: Line 4 of phenotype file 'pheno.txt' has 3 fields; every row must have 4."},
      {"PhenotypeRowWithAnExtraField", {{"pheno.txt", edit(kPheno, "id2\t0\t-1.2\t54", "id2\t0\t-1.2\t54\t9")}}, "",
       "Error: Line 2 of phenotype file 'pheno.txt' has 5 fields; every row must have 4."},
      {"PhenotypeNulByteInValue", {{"pheno.txt", edit(kPheno, "0.3", std::string("0.3\0x", 5))}}, "",
       "Error: Line 3 of phenotype file 'pheno.txt': value '0.3' in column 3 is not a number (phenotypes have no "
       "missing-value code)."},
      {"PhenotypeTokenTooLong", {{"pheno.txt", edit(kPheno, "id5", long_token)}}, "",
       "Error: Line 5 of phenotype file 'pheno.txt' holds a token longer than 1023 bytes."},
      {"PhenotypeIsADirectory", {{"pdir", kDir}}, "-pfile pdir", "Error: Phenotype file 'pdir' is a directory."},
      {"PhenotypeIsDevNull", {}, "-pfile /dev/null",
       "Error: Phenotype file '/dev/null' is a character device, not a regular file (input files are read more "
       "than once, so they must be files on disk)."},
      {"PhenotypeConstantCovariate", {{"pheno.txt", edit(edit(edit(edit(edit(edit(kPheno, "\t61", "\t5"), "\t54", "\t5"),
                                                                          "\t47", "\t5"), "\t70", "\t5"), "\t38", "\t5"), "\t66", "\t5")}},
       "",
       "Error: Covariate column 4 of phenotype file 'pheno.txt' is constant (it varies by less than a relative "
       "1e-8 of its values), so the null model cannot be fitted."},
      {"PhenotypeWithByteOrderMark", {{"pheno.txt", kBom + kPheno}}, "", ""},
      {"PhenotypeWithWindowsLineEnds", {{"pheno.txt", crlf(kPheno)}}, "", ""},
      // Genotype file.
      {"GenotypeEmpty", {{"geno.txt", ""}}, "", "Error: Genotype file 'geno.txt' is empty."},
      {"GenotypeRaggedRowNamed", {{"geno.txt", edit(kGeno, "rs3\t1\t0\t0\t2\t0\t0", "rs3\t1\t0\t0\t2\t0")}}, "",
       "Error: Line 3 of genotype file 'geno.txt' has 6 fields; every row must have 7."},
      {"GenotypeTrailingEmptyLine", {{"geno.txt", kGeno + "\n"}}, "",
       "Error: Line 9 of genotype file 'geno.txt' has 0 fields; every row must have 7."},
      {"GenotypeMissingCodeMinusOne", {{"geno.txt", edit(kGeno, "rs2\t0\tNA", "rs2\t0\t-1")}}, "",
       "Error: Line 2 of genotype file 'geno.txt': value '-1' in column 3 is not a genotype (a number from 0 to 2; "
       "missing values are written NA)."},
      {"GenotypeNaN", {{"geno.txt", edit(kGeno, "rs5\tNA", "rs5\tNaN")}}, "",
       "Error: Line 5 of genotype file 'geno.txt': value 'NaN' in column 2 is not a genotype (a number from 0 to 2; "
       "missing values are written NA)."},
      {"GenotypeInfinite", {{"geno.txt", edit(kGeno, "rs6\t2", "rs6\tinf")}}, "",
       "Error: Line 6 of genotype file 'geno.txt': value 'inf' in column 2 is not a genotype (a number from 0 to 2; "
       "missing values are written NA)."},
      {"GenotypeHuge", {{"geno.txt", edit(kGeno, "rs6\t2", "rs6\t1e308")}}, "",
       "Error: Line 6 of genotype file 'geno.txt': value '1e308' in column 2 is not a genotype (a number from 0 to "
       "2; missing values are written NA)."},
      {"GenotypeThree", {{"geno.txt", edit(kGeno, "rs7\t0\t1", "rs7\t0\t3")}}, "",
       "Error: Line 7 of genotype file 'geno.txt': value '3' in column 3 is not a genotype (a number from 0 to 2; "
       "missing values are written NA)."},
      {"GenotypeAboveTwo", {{"geno.txt", edit(kGeno, "rs7\t0\t1", "rs7\t0\t2.01")}}, "",
       "Error: Line 7 of genotype file 'geno.txt': value '2.01' in column 3 is not a genotype (a number from 0 to "
       "2; missing values are written NA)."},
      {"GenotypeNAlone", {{"geno.txt", edit(kGeno, "rs7\t0\t1", "rs7\t0\tN")}}, "",
       "Error: Line 7 of genotype file 'geno.txt': value 'N' in column 3 is not a genotype (a number from 0 to 2; "
       "missing values are written NA)."},
      {"GenotypeSecondCharacterA", {{"geno.txt", edit(kGeno, "rs7\t0\t1", "rs7\t0\t1A")}}, "",
       "Error: Line 7 of genotype file 'geno.txt': value '1A' in column 3 is not a genotype (a number from 0 to 2; "
       "missing values are written NA)."},
      {"GenotypeMissingSpelledOut", {{"geno.txt", edit(kGeno, "rs2\t0\tNA", "rs2\t0\tNAN")}}, "", ""},
      {"GenotypeIdentifierTooLong", {{"geno.txt", edit(kGeno, "rs8", long_id)}}, "",
       "Error: Line 8 of genotype file 'geno.txt' holds an identifier longer than 255 bytes."},
      {"GenotypeNulByteInIdentifier", {{"geno.txt", edit(kGeno, "rs4", std::string("rs\0004", 4))}}, "",
       "Error: Line 4 of genotype file 'geno.txt' holds an identifier with a NUL byte."},
      {"GenotypeIsAPipe", {{"gpipe", kFifo}}, "-gfile gpipe",
       "Error: Genotype file 'gpipe' is a pipe, not a regular file (input files are read more than once, so they "
       "must be files on disk)."},
      {"GenotypeTextWithoutANumber", {{"geno.txt", edit(kGeno, "rs1\t0", "rs1\tx")}}, "",
       "Error: Line 1 of genotype file 'geno.txt': value 'x' in column 2 is not a genotype (a number from 0 to 2; "
       "missing values are written NA)."},
      {"GenotypeNumberWithTrailingText", {{"geno.txt", edit(kGeno, "\t0.5\t", "\t0.5x\t")}}, "",
       "Error: Line 6 of genotype file 'geno.txt': value '0.5x' in column 6 is not a genotype (a number from 0 to 2; "
       "missing values are written NA)."},
      {"GenotypeDot", {{"geno.txt", edit(kGeno, "rs8\t0\t0\t0\t1", "rs8\t0\t0\t0\t.")}}, "",
       "Error: Line 8 of genotype file 'geno.txt': value '.' in column 5 is not a genotype (a number from 0 to 2; "
       "missing values are written NA)."},
      {"GenotypeUnphasedCall", {{"geno.txt", edit(kGeno, "rs3\t1", "rs3\t0/1")}}, "",
       "Error: Line 3 of genotype file 'geno.txt': value '0/1' in column 2 is not a genotype: genotypes are allele "
       "counts (0, 1, 2 or NA), not calls."},
      {"GenotypePhasedCall", {{"geno.txt", edit(kGeno, "rs7\t0\t1", "rs7\t0\t1|1")}}, "",
       "Error: Line 7 of genotype file 'geno.txt': value '1|1' in column 3 is not a genotype: genotypes are allele "
       "counts (0, 1, 2 or NA), not calls."},
      {"GenotypeMissingCall", {{"geno.txt", edit(kGeno, "rs2\t0\tNA", "rs2\t0\t./.")}}, "",
       "Error: Line 2 of genotype file 'geno.txt': value './.' in column 3 is not a genotype: genotypes are allele "
       "counts (0, 1, 2 or NA), not calls."},
      {"GenotypeCallAfterTheFastPath", {{"geno.txt", edit(kGeno, "rs4\t0\t0\t0\t0\t0\t0", "rs4\t0\t0\t0\t0\t0\t1/1")}}, "",
       "Error: Line 4 of genotype file 'geno.txt': value '1/1' in column 7 is not a genotype: genotypes are allele "
       "counts (0, 1, 2 or NA), not calls."},
      {"GenotypeWholeNumbersInOtherSpellings", {{"geno.txt", edit(edit(kGeno, "rs6\t2\t1", "rs6\t2.0\t1e0"), "rs3\t1", "rs3\t+1")}},
       "", ""},
      {"GenotypeWithByteOrderMark", {{"geno.txt", kBom + kGeno}}, "", ""},
      {"GenotypeWithWindowsLineEnds", {{"geno.txt", crlf(kGeno)}}, "", ""},
      {"GenotypeWithByteOrderMarkCommonPass", {{"geno.txt", kBom + kGeno}}, "-com 0.05", ""},
      // Mapping file.
      {"MappingEmpty", {{"mapping.txt", ""}}, "", "Error: Gene-SNP mapfile 'mapping.txt' is empty."},
      {"MappingFrequencyNaN", {{"mapping.txt", edit(kMap3, "0.03", "nan")}}, "",
       "Error: Line 3 of gene-SNP mapfile 'mapping.txt': frequency 'nan' is not between 0 and 1."},
      {"MappingFrequencyNegative", {{"mapping.txt", edit(kMap3, "0.01", "-0.01")}}, "",
       "Error: Line 1 of gene-SNP mapfile 'mapping.txt': frequency '-0.01' is not between 0 and 1."},
      {"MappingFrequencyAboveOne", {{"mapping.txt", edit(kMap3, "0.04", "1.5")}}, "",
       "Error: Line 4 of gene-SNP mapfile 'mapping.txt': frequency '1.5' is not between 0 and 1."},
      {"MappingRaggedRow", {{"mapping.txt", edit(kMap3, "rs1\t0.02", "rs1")}}, "",
       "Error: Line 2 of gene-SNP mapfile 'mapping.txt' has 2 fields; every row must have 3."},
      {"MappingIsADirectory", {{"mdir", kDir}}, "-mfile mdir", "Error: Gene-SNP mapfile 'mdir' is a directory."},
      {"MappingWithByteOrderMark", {{"mapping.txt", kBom + kMap}}, "", ""},
      {"MappingWithWindowsLineEnds", {{"mapping.txt", crlf(kMap)}}, "", ""},
      // Weight file.
      {"WeightLineWithoutWeights", {{"w.txt", edit(kWeights, "GENE_A rs1 1 2", "GENE_A rs1")}}, weights,
       "Error: Gene 'GENE_A', SNP 'rs1': no weights on line 1 of the weight file 'w.txt'."},
      {"WeightNotFinite", {{"w.txt", edit(kWeights, "0.5 1", "0.5 inf")}}, weights,
       "Error: Line 2 of weight file 'w.txt': weight 'inf' in column 4 (gene 'GENE_A', SNP 'rs2') is not a finite "
       "number."},
      {"WeightOverflows", {{"w.txt", edit(kWeights, "rs3 1 1", "rs3 1e999 1")}}, weights,
       "Error: Line 3 of weight file 'w.txt': weight '1e999' in column 3 (gene 'GENE_B', SNP 'rs3') is not a finite "
       "number."},
      {"WeightWrittenAsText", {{"w.txt", edit(kWeights, "rs1 1 2", "rs1 one 2")}}, weights,
       "Error: Line 1 of weight file 'w.txt': weight 'one' in column 3 (gene 'GENE_A', SNP 'rs1') is not a finite "
       "number."},
      {"WeightWithTrailingText", {{"w.txt", edit(kWeights, "rs7 2 0.25", "rs7 2 0.25x")}}, weights,
       "Error: Line 4 of weight file 'w.txt': weight '0.25x' in column 4 (gene 'GENE_B', SNP 'rs7') is not a finite "
       "number."},
      {"WeightsInOtherSpellings", {{"w.txt", edit(edit(kWeights, "rs1 1 2", "rs1 1.0 2e0"), "rs7 2 0.25", "rs7 +2 .25")}},
       weights, ""},
      {"WeightLineWithNulByte", {{"w.txt", edit(kWeights, "rs7 2", std::string("rs7 2\0", 6))}}, weights,
       "Error: Line 4 of weight file 'w.txt' holds a NUL byte."},
      {"WeightFileIsADirectory", {{"wdir", kDir}}, "-wfile wdir", "Error: Weight file 'wdir' is a directory."},
      {"WeightFileWithByteOrderMark", {{"w.txt", kBom + kWeights}}, weights, ""},
      {"WeightFileWithWindowsLineEnds", {{"w.txt", crlf(kWeights)}}, weights, ""},
      // Options.
      {"OptionNotANumber", {}, "-MAF abc", "Error: Value 'abc' of option '-MAF' is not a number."},
      {"OptionOutOfDomain", {}, "-CR 95", "Error: Value '95' of option '-CR' is not in [0, 1]."},
      // Outputs.
      {"OutputOverwritesGenotypeFile", {}, "-ofile geno.txt",
       "Error: Options '-ofile' and '-gfile' name the same file 'geno.txt': an output file must not overwrite an "
       "input file."},
      {"LogOverwritesPhenotypeFile", {}, "-snplog ./pheno.txt",
       "Error: Options '-snplog' and '-pfile' name the same file './pheno.txt': an output file must not overwrite "
       "an input file."},
      {"MessageLogOverwritesMappingFile", {}, "-msglog mapping.txt",
       "Error: Options '-msglog' and '-mfile' name the same file 'mapping.txt': an output file must not overwrite "
       "an input file."},
      {"CustomizedLogOverwritesWeightFile", {}, weights + " -multilog w.txt",
       "Error: Options '-multilog' and '-wfile' name the same file 'w.txt': an output file must not overwrite an "
       "input file."},
      {"TwoOutputsOneFile", {}, "-vtlog out.log -ofile out.log",
       "Error: Options '-ofile' and '-vtlog' name the same file 'out.log': two outputs cannot share one file."},
      {"ResultFileOnAFullDisk", {}, "-ofile /dev/full", "Error: Cannot write output file '/dev/full'."},
      {"CommonResultFileOnAFullDisk", {}, "-noRare -com 0.05 -ofileC /dev/full",
       "Error: Cannot write output file '/dev/full'."},
      {"CommonResultFileOverwritesGenotypeFile", {}, "-com 0.05 -ofileC geno.txt",
       "Error: Options '-ofileC' and '-gfile' name the same file 'geno.txt': an output file must not overwrite an "
       "input file."},
      {"LogOnAFullDisk", {}, "-vtlog /dev/full", "Error: Cannot write output file '/dev/full'."},
      {"ResultFileIsADirectory", {{"odir", kDir}}, "-ofile odir", "Error: Cannot create output file 'odir'."},
      {"ResultFileInAMissingFolder", {}, "-ofile nowhere/rare.out",
       "Error: Cannot create output file 'nowhere/rare.out'."},
      {"LogsDiscardedToDevNull", {}, "-vtlog /dev/null -snplog /dev/null", ""},
  };
}

struct RunResult {
  int status = -1;
  std::string out;
};

RunResult run_in(const std::string &dir, const std::string &args) {
  const std::string out = dir + "/stdout.txt";
  RunResult r;
  r.status = test_support::run_program(
      dir, "", "-pfile pheno.txt -gfile geno.txt -mfile mapping.txt -MAF 0.5 " + args,
      "> '" + out + "' 2>&1");
  r.out = read_file(out);
  // The time lines differ between runs.
  std::string masked;
  std::size_t at = 0;
  for (std::size_t nl; (nl = r.out.find('\n', at)) != std::string::npos; at = nl + 1) {
    std::string line = r.out.substr(at, nl - at);
    if (line.rfind("QUORVEX started: ", 0) == 0 || line.rfind("              ", 0) == 0) line = "<time>";
    masked += line + "\n";
  }
  r.out = masked + r.out.substr(at);
  return r;
}

std::string make_data(const std::map<std::string, std::string> &files) {
  const std::string dir = test_support::temp_dir();
  std::map<std::string, std::string> all = {
      {"pheno.txt", kPheno}, {"geno.txt", kGeno}, {"mapping.txt", kMap}, {"w.txt", kWeights}};
  for (const auto &f : files) all[f.first] = f.second;
  for (const auto &f : all) {
    const std::string path = dir + "/" + f.first;
    if (f.second == kDir)
      mkdir(path.c_str(), 0755);
    else if (f.second == kFifo)
      mkfifo(path.c_str(), 0644);
    else
      write_file(dir, f.first, f.second);
  }
  return dir;
}

class MalformedInput : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(MalformedInput, ClearErrorOrTheCleanRunsOutput) {
  const MalformedCase c = GetParam();
  const std::string dir = make_data(c.files);
  const std::vector<std::string> inputs = {"pheno.txt", "geno.txt", "mapping.txt", "w.txt"};
  std::vector<std::string> before;
  for (const std::string &f : inputs) before.push_back(read_file(dir + "/" + f));

  const RunResult r = run_in(dir, c.args);
  for (std::size_t i = 0; i < inputs.size(); i++)
    EXPECT_EQ(read_file(dir + "/" + inputs[i]), before[i]) << inputs[i] << " was changed";

  if (!c.error.empty()) {
    EXPECT_EQ(r.status, 1) << r.out;
    // The message is a whole line of its own, and the run's closing line follows.
    EXPECT_NE(r.out.find("\n" + c.error + "\n"), std::string::npos) << r.out;
    const std::string stop = "\nQUORVEX was stopped due to error(s) listed above.\n\n";
    ASSERT_GE(r.out.size(), stop.size());
    EXPECT_EQ(r.out.substr(r.out.size() - stop.size()), stop);
    return;
  }
  // A valid input after all: the clean data's outputs, byte for byte.
  const std::string clean = make_data({});
  const RunResult want = run_in(clean, c.args);
  ASSERT_EQ(want.status, 0) << want.out;
  ASSERT_GT(read_file(clean + "/rare.out").find('\n'), 0u);
  ASSERT_NE(read_file(clean + "/rare.out").find("\nGENE_A\t"), std::string::npos) << "the clean run tests genes";
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, want.out);
  for (const char *f : {"rare.out", "vt.log", "skat.log", "multi.log", "com.out"})
    EXPECT_EQ(read_file(dir + "/" + f), read_file(clean + "/" + f)) << f;
}

INSTANTIATE_TEST_SUITE_P(Cases, MalformedInput, ::testing::ValuesIn(cases()),
                         [](const ::testing::TestParamInfo<MalformedCase> &info) {
                           return std::string(info.param.name);
                         });

}  // namespace
