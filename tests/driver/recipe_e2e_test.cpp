// The README's recipe from VCF and PLINK files, end to end: its commands are
// taken from the README as written and run with bcftools and plink on a
// small study made here, which holds every trap the recipe names (a
// multi-allelic site, "." identifiers, missing and half calls, haploid chrX
// males, subjects without a trait or a covariate, an ALT allele that is the
// major one, a minor allele that changes once the incomplete subjects are
// dropped, dosages, 1/2 case coding, a phenotype table in another order than
// the genotypes). The files it makes are compared with input files written
// by hand, and the program's outputs from both with each other.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/driver/gene_pass_support.h"

using namespace gene_pass_test;

namespace {

// ---- The README's commands ----

const char kSection[] = "## From VCF and PLINK files";

// The code blocks (lines indented by four spaces, with their indentation
// removed) under the heading of the recipe's section, in order.
std::vector<std::string> readme_blocks(const std::string &heading) {
  const std::vector<std::string> lines = split(read_file(QUORVEX_SOURCE_DIR "/README.md"), '\n');
  size_t at = 0;
  while (at < lines.size() && lines[at] != kSection) at++;
  while (at < lines.size() && lines[at] != heading) at++;
  std::vector<std::string> blocks;
  std::string block;
  for (size_t i = at + 1; i < lines.size(); i++) {
    const std::string &line = lines[i];
    if (line.rfind("## ", 0) == 0 || line.rfind("### ", 0) == 0) break;
    if (line.rfind("    ", 0) == 0) {
      block += line.substr(4) + "\n";
    } else if (!line.empty() && !block.empty()) {
      blocks.push_back(block);
      block.clear();
    }
  }
  if (!block.empty()) blocks.push_back(block);
  return blocks;
}

// The one code block under the heading.
std::string readme_block(const std::string &heading, size_t index = 0) {
  const std::vector<std::string> blocks = readme_blocks(heading);
  if (index >= blocks.size()) {
    ADD_FAILURE() << "README: no code block " << index << " under '" << heading << "'";
    return "false\n";
  }
  return blocks[index];
}

// Runs README blocks in dir as one bash script that stops at the first
// failing command; returns its exit status.
int run_blocks(const std::string &dir, const std::vector<std::string> &blocks) {
  std::string script = "set -eo pipefail\n";
  for (const std::string &b : blocks) script += b;
  return shell(dir, script);
}

bool tools_present() {
  return std::system("{ command -v bcftools && command -v plink1.9 && command -v plink2; } "
                     "> /dev/null 2>&1") == 0;
}

#define SKIP_WITHOUT_TOOLS()                                                                \
  if (!tools_present())                                                                     \
  GTEST_SKIP() << "bcftools, plink1.9 or plink2 is not installed (Debian packages bcftools, " \
                  "plink1.9, plink2; 'bash build.sh test' installs them)"

// ---- The study ----

// 20 subjects in the genotype files' order. The table below drops S05 (trait
// -9), S09 (AGE NA), S13 (trait 0, missing in 1/2 coding) and S20 (not in
// the table); X99 is in the table only. Males: S01 S03 S05 S06 S10 S14 S17.
const char *const kSubjects[] = {"S01", "S02", "S03", "S04", "S05", "S06", "S07",
                                 "S08", "S09", "S10", "S11", "S12", "S13", "S14",
                                 "S15", "S16", "S17", "S18", "S19", "S20"};
const char kMales[] = "10101100010001001000";  // per subject, 1 = male

// The phenotype table: header, FID IID CASE AGE PC1, blanks and tabs, not
// in the genotype order.
const char kTable[] =
    "FID\tIID\tCASE\tAGE\tPC1\n"
    "F07 S07 2 47 -0.41\n"
    "F02 S02 1 42 -0.05\n"
    "F13 S13 0 53 0.44\n"
    "F19 S19 1 59 -0.27\n"
    "F01\tS01\t2\t41\t0.12\n"
    "F99 X99 2 60 0.5\n"
    "F10 S10 1 50 -0.13\n"
    "F05 S05 -9 45 0.08\n"
    "F16 S16 1 56 -0.18\n"
    "F03  S03  2  43  0.31\n"
    "F12 S12 1 52 -0.36\n"
    "F09 S09 2 NA 0.27\n"
    "F04 S04 1 44 -0.22\n"
    "F15 S15 2 55 0.21\n"
    "F06 S06 1 46 0.17\n"
    "F18 S18 1 58 0.33\n"
    "F11 S11 2 51 0.09\n"
    "F14 S14 1 54 -0.01\n"
    "F17 S17 2 57 0.05\n"
    "F08 S08 1 48 0.02\n";

// The complete subjects' rows in genotype order, cases 1, controls 0, each
// after its name over its genotype column (prefix "0_" for a VCF sample,
// "F.._" for a .fam subject).
std::string expected_pheno(bool vcf) {
  const char *const rows[] = {
      "S01\t1\t41\t0.12", "S02\t0\t42\t-0.05", "S03\t1\t43\t0.31", "S04\t0\t44\t-0.22",
      "S06\t0\t46\t0.17", "S07\t1\t47\t-0.41", "S08\t0\t48\t0.02", "S10\t0\t50\t-0.13",
      "S11\t1\t51\t0.09", "S12\t0\t52\t-0.36", "S14\t0\t54\t-0.01", "S15\t1\t55\t0.21",
      "S16\t0\t56\t-0.18", "S17\t1\t57\t0.05", "S18\t0\t58\t0.33", "S19\t0\t59\t-0.27"};
  std::string out;
  for (const char *r : rows) out += (vcf ? std::string("0_") : "F" + std::string(r + 1, 2) + "_") + r + "\n";
  return out;
}

// The VCF: one site per line, "CHROM POS ID REF ALT FORMAT" and a call per
// subject. The chrX males are haploid.
const char *const kVcfSites[] = {
    // A rare variant; one call phased.
    "chr1 100 rs100 A G GT 0/0 0/1 0/0 0/0 0/0 0/0 0/0 0/0 0/0 0/0 0/0 0/0 0/1 0/0 0/0 0/0 1|0 0/0 "
    "0/0 0/0",
    // ALT is the major allele, so REF is counted.
    "chr1 250 . C T GT 1/1 1/1 1/1 0/1 1/1 1/1 1/1 1/1 1/1 1/1 0/0 1/1 1/1 1/1 1/1 1/1 1/1 1/1 0/1 "
    "1/1",
    // Multi-allelic, with the same "." identifier.
    "chr1 300 . A G,T GT 0/0 0/0 0/1 0/0 0/0 0/0 0/0 0/2 0/1 0/0 0/0 1/2 0/0 0/0 0/0 0/2 0/0 0/0 "
    "0/0 0/0",
    // Missing calls: "./.", "." and the half call "./1".
    "chr1 400 . G A GT 0/0 ./. 0/0 0/0 0/0 0/1 . 0/0 0/0 ./1 0/0 0/0 0/0 0/1 0/1 0/0 0/0 0/0 0/0 "
    "0/0",
    // Dosages, which differ from the calls.
    "chr1 500 rs500 T C GT:DS 0/0:0.25 0/0:0 0/0:0 0/1:0.75 0/1:1 0/0:0 0/0:0 1/1:1.5 0/0:0 0/0:0 "
    "0/0:0 0/0:0 0/0:0 0/0:0 0/0:0 0/0:0 0/0:0 0/1:1 0/0:0 0/0:0",
    // ALT is the minor allele of all subjects (19 of 40) but the major one
    // of the kept subjects (19 of 32): the dropped subjects are all 0/0.
    "chr1 600 rs600 A C GT 1/1 1/1 1/1 1/1 0/0 1/1 1/1 0/1 0/0 0/1 0/1 0/1 0/0 0/1 0/1 0/1 0/0 0/0 "
    "0/0 0/0",
    "chrX 1000 rsX1 G A GT 1 0/1 0 0/0 1 0 0/0 0/0 0/0 1 0/1 0/0 0/0 0 0/0 0/0 0 0/0 0/0 0/0",
    "chrX 2000 . C G GT 0 0/0 1 0/0 0 0 0/0 0/0 0/0 0 0/0 0/0 0/0 . 0/0 1/1 0 0/0 0/1 0/0",
};

std::string vcf_text() {
  std::string v =
      "##fileformat=VCFv4.2\n##contig=<ID=chr1,length=10000>\n##contig=<ID=chrX,length=10000>\n"
      "##FORMAT=<ID=GT,Number=1,Type=String,Description=\"Genotype\">\n"
      "##FORMAT=<ID=DS,Number=A,Type=Float,Description=\"ALT dosage\">\n"
      "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT";
  for (const char *s : kSubjects) v += std::string("\t") + s;
  v += "\n";
  for (const char *site : kVcfSites) {
    const std::vector<std::string> f = split(site, ' ');
    v += f[0] + "\t" + f[1] + "\t" + f[2] + "\t" + f[3] + "\t" + f[4] + "\t.\tPASS\t.\t" + f[5];
    for (size_t i = 6; i < f.size(); i++) v += "\t" + f[i];
    v += "\n";
  }
  return v;
}

// The kept subjects' counts of each variant's minor allele (of the kept
// subjects), worked out by hand from the sites above.
const char kGenoFromVcf[] =
    "chr1:100:A:G\t0\t1\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t1\t0\t0\n"
    "chr1:250:C:T\t0\t0\t0\t1\t0\t0\t0\t0\t2\t0\t0\t0\t0\t0\t0\t1\n"
    "chr1:300:A:G\t0\t0\t1\t0\t0\t0\t0\t0\t0\t1\t0\t0\t0\t0\t0\t0\n"
    "chr1:300:A:T\t0\t0\t0\t0\t0\t0\t1\t0\t0\t1\t0\t0\t1\t0\t0\t0\n"
    "chr1:400:G:A\t0\tNA\t0\t0\t1\tNA\t0\tNA\t0\t0\t1\t1\t0\t0\t0\t0\n"
    "chr1:500:T:C\t0.25\t0\t0\t0.75\t0\t0\t1.5\t0\t0\t0\t0\t0\t0\t0\t1\t0\n"
    "chr1:600:A:C\t0\t0\t0\t0\t0\t0\t1\t1\t1\t1\t1\t1\t1\t2\t2\t2\n"
    "chrX:1000:G:A\t2\t1\t0\t0\t0\t0\t0\t2\t1\t0\t0\t0\t0\t0\t0\t0\n"
    "chrX:2000:C:G\t0\t0\t2\t0\t0\t0\t0\t0\t0\t0\tNA\t0\t2\t0\t0\t1\n";

// Gene ranges: 0-based starts, ends exclusive, so position 250 is in GENE_A
// and not in GENE_B; GENE_D has three ranges, two of them overlapping;
// GENE_E is on a chromosome without variants.
const char kGenesBed[] =
    "track name=genes\n"
    "# gene ranges\n"
    "chr1\t50\t250\tGENE_A\n"
    "chr1\t250\t550\tGENE_B\n"
    "chr1\t450\t700\tGENE_C\n"
    "chr1\t90\t110\tGENE_D\n"
    "chr1\t95\t105\tGENE_D\n"
    "chr1\t590\t610\tGENE_D\n"
    "chr2\t10\t20\tGENE_E\n"
    "chrX\t900\t2500\tGENE_X\n";

const char kMappingFromVcf[] =
    "GENE_A\tchr1:100:A:G\nGENE_A\tchr1:250:C:T\n"
    "GENE_B\tchr1:300:A:G\nGENE_B\tchr1:300:A:T\nGENE_B\tchr1:400:G:A\nGENE_B\tchr1:500:T:C\n"
    "GENE_C\tchr1:500:T:C\nGENE_C\tchr1:600:A:C\n"
    "GENE_D\tchr1:100:A:G\nGENE_D\tchr1:600:A:C\n"
    "GENE_X\tchrX:1000:G:A\nGENE_X\tchrX:2000:C:G\n";

// The .bed set: .bim line and, per subject, the count of the .bim's fifth
// column allele ("." missing). The split site's rows share the name ".";
// S06 is a male with a heterozygous chrX call.
struct BimRow {
  const char *bim;
  const char *counts;
};
const BimRow kBim[] = {
    {"1\trs100\t0\t100\tG\tA", "01000000000010001000"},
    {"1\t.\t0\t250\tT\tC", "22212222220222222212"},
    {"1\t.\t0\t300\tG\tA", "00100000100100000000"},
    {"1\t.\t0\t300\tT\tA", "00000001000100010000"},
    {"1\t.\t0\t400\tA\tG", "0.0001.00.0001100000"},
    {"1\trs600\t0\t600\tC\tA", "22220221011101110000"},
    {"X\trsX1\t0\t1000\tA\tG", "21002000021000000000"},
    {"X\t.\t0\t2000\tG\tC", "0020010000000.020010"},
};

const char kGenoFromBed[] =
    "rs100\t0\t1\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t1\t0\t0\n"
    "1:250:C:T\t0\t0\t0\t1\t0\t0\t0\t0\t2\t0\t0\t0\t0\t0\t0\t1\n"
    "1:300:A:G\t0\t0\t1\t0\t0\t0\t0\t0\t0\t1\t0\t0\t0\t0\t0\t0\n"
    "1:300:A:T\t0\t0\t0\t0\t0\t0\t1\t0\t0\t1\t0\t0\t1\t0\t0\t0\n"
    "1:400:A:G\t0\tNA\t0\t0\t1\tNA\t0\tNA\t0\t0\t1\t1\t0\t0\t0\t0\n"
    "rs600\t0\t0\t0\t0\t0\t0\t1\t1\t1\t1\t1\t1\t1\t2\t2\t2\n"
    "rsX1\t2\t1\t0\t0\t0\t0\t0\t2\t1\t0\t0\t0\t0\t0\t0\t0\n"
    "X:2000:C:G\t0\t0\t2\t0\tNA\t0\t0\t0\t0\t0\tNA\t0\t2\t0\t0\t1\n";

const char kMappingFromBed[] =
    "GENE_A\t1:250:C:T\nGENE_A\trs100\n"
    "GENE_B\t1:300:A:G\nGENE_B\t1:300:A:T\nGENE_B\t1:400:A:G\n"
    "GENE_C\trs600\n"
    "GENE_D\trs100\nGENE_D\trs600\n"
    "GENE_X\tX:2000:C:G\nGENE_X\trsX1\n";

// The PLINK 1 binary genotype file: the magic bytes, then per variant the
// subjects four to a byte from the low bits, each a 2-bit code of its count
// of the first allele: 2 -> 00, 1 -> 10, 0 -> 11, missing -> 01.
std::string bed_bytes() {
  std::string out = "\x6c\x1b\x01";
  for (const BimRow &row : kBim) {
    const std::string counts = row.counts;
    for (size_t base = 0; base < counts.size(); base += 4) {
      uint8_t byte = 0;
      for (size_t k = 0; k < 4 && base + k < counts.size(); k++) {
        const char c = counts[base + k];
        const uint8_t code = c == '2' ? 0 : c == '1' ? 2 : c == '0' ? 3 : 1;
        byte = (uint8_t)(byte | (code << (2 * k)));
      }
      out += (char)byte;
    }
  }
  return out;
}

std::string bim_text() {
  std::string out;
  for (const BimRow &row : kBim) out += std::string(row.bim) + "\n";
  return out;
}

std::string fam_text() {
  std::string out;
  for (size_t i = 0; i < 20; i++) {
    out += "F" + std::string(kSubjects[i] + 1) + " " + kSubjects[i] + " 0 0 " +
           (kMales[i] == '1' ? "1" : "2") + " -9\n";
  }
  return out;
}

// The lines of a text in byte order (the mapping's rows of different genes
// may come in any order: the program sorts them by gene).
std::string sorted_lines(const std::string &text) {
  std::vector<std::string> lines = split(text, '\n');
  if (!lines.empty() && lines.back().empty()) lines.pop_back();
  std::sort(lines.begin(), lines.end());
  std::string out;
  for (const std::string &l : lines) out += l + "\n";
  return out;
}

// Writes the program's three input files into a folder of their own.
std::string direct_inputs(const std::string &top, const std::string &name, const std::string &pheno,
                          const std::string &geno, const std::string &mapping) {
  const std::string dir = top + "/" + name;
  EXPECT_EQ(std::system(("mkdir '" + dir + "'").c_str()), 0);
  write_file(dir, "pheno.txt", pheno);
  write_file(dir, "geno.txt", geno);
  write_file(dir, "mapping.txt", mapping);
  return dir;
}

// Runs the program on the inputs in data and collects its outputs, with
// the folder's name in standard output replaced by "DATA".
Outputs run_on(const std::string &data, const std::string &args) {
  Outputs o = run_and_collect_env(data, "", args);
  std::string &out = o.files["stdout"];
  for (size_t at; (at = out.find(data)) != std::string::npos;) out.replace(at, data.size(), "DATA");
  return o;
}

const char kArgs[] = "-MAF 0.5 -com 0.1";

// The made inputs give the hand-written inputs' outputs, and the run tested
// every gene, so the comparison is not void.
void expect_same_run(const std::string &made, const std::string &direct) {
  const Outputs a = run_on(direct, kArgs), b = run_on(made, kArgs);
  ASSERT_EQ(a.status, 0) << a.files.at("stdout");
  expect_same_outputs(a, b, "made against direct inputs");
  const std::string &rare = a.files.at("rare.out");
  for (const char *gene : {"GENE_A\t", "GENE_B\t", "GENE_C\t", "GENE_D\t", "GENE_X\t"})
    EXPECT_EQ(count_of(rare, std::string("\n") + gene), 1u) << gene << "\n" << rare;
  EXPECT_NE(a.files.at("stdout").find("Is the phenotype binary? YES"), std::string::npos);
  EXPECT_NE(a.files.at("stdout").find("#SUBJECTS = 16\n"), std::string::npos);
}

std::string new_dir(const std::string &top, const std::string &name) {
  const std::string dir = top + "/" + name;
  EXPECT_EQ(std::system(("mkdir '" + dir + "'").c_str()), 0);
  return dir;
}

TEST(RecipeFromVcf, MakesTheInputsWrittenByHand) {
  SKIP_WITHOUT_TOOLS();
  const std::string top = scratch_dir();
  const std::string made = new_dir(top, "made");
  write_file(made, "study.vcf", vcf_text());
  ASSERT_EQ(shell(made, "bcftools view -Oz -o study.vcf.gz study.vcf && rm study.vcf"), 0)
      << read_file(made + "/script.out");
  write_file(made, "pheno_table.txt", kTable);
  write_file(made, "genes.bed", kGenesBed);
  const std::string vcf_before = read_file(made + "/study.vcf.gz");

  ASSERT_EQ(run_blocks(made, {readme_block("### The phenotype table"), readme_block("### From a VCF"),
                              readme_block("### The gene list"), readme_block("### Checks")}),
            0)
      << read_file(made + "/script.out");
  EXPECT_EQ(read_file(made + "/study.vcf.gz"), vcf_before);
  EXPECT_EQ(read_file(made + "/pheno_table.txt"), kTable);

  EXPECT_EQ(read_file(made + "/pheno.txt"), expected_pheno(true));
  EXPECT_EQ(read_file(made + "/geno.txt"), kGenoFromVcf);
  EXPECT_EQ(sorted_lines(read_file(made + "/mapping.txt")), kMappingFromVcf);

  const std::string direct =
      direct_inputs(top, "direct", expected_pheno(true), kGenoFromVcf, kMappingFromVcf);
  expect_same_run(made, direct);
  remove_dir(top);
}

TEST(RecipeFromBed, MakesTheInputsWrittenByHand) {
  SKIP_WITHOUT_TOOLS();
  const std::string top = scratch_dir();
  const std::string made = new_dir(top, "made");
  write_file(made, "study.bed", bed_bytes());
  write_file(made, "study.bim", bim_text());
  write_file(made, "study.fam", fam_text());
  write_file(made, "pheno_table.txt", kTable);
  write_file(made, "genes.bed", kGenesBed);

  ASSERT_EQ(run_blocks(made, {readme_block("### The phenotype table"),
                              readme_block("### From a .bed/.bim/.fam set"),
                              readme_block("### The gene list"), readme_block("### Checks")}),
            0)
      << read_file(made + "/script.out");
  EXPECT_EQ(read_file(made + "/study.bed"), bed_bytes());
  EXPECT_EQ(read_file(made + "/study.bim"), bim_text());
  EXPECT_EQ(read_file(made + "/study.fam"), fam_text());

  EXPECT_EQ(read_file(made + "/pheno.txt"), expected_pheno(false));
  EXPECT_EQ(read_file(made + "/geno.txt"), kGenoFromBed);
  EXPECT_EQ(sorted_lines(read_file(made + "/mapping.txt")), kMappingFromBed);

  const std::string direct =
      direct_inputs(top, "direct", expected_pheno(false), kGenoFromBed, kMappingFromBed);
  expect_same_run(made, direct);
  remove_dir(top);
}

// ---- The phenotype step on its own ----

struct PhenoCase {
  const char *name;
  const char *binary;    // the BINARY setting
  const char *table;     // the phenotype table
  const char *subjects;  // the genotype's subjects: VCF sample names or .fam lines
  int status;
  const char *pheno;     // pheno.txt (status 0) or standard error (status 1)
  const char *keep;      // keep.txt (status 0)
};

void PrintTo(const PhenoCase &c, std::ostream *os) { *os << c.name; }

const PhenoCase kPhenoCases[] = {
    {"QuantitativeKeepsValuesAsWritten", "0",
     "FID IID Y C\nA a 0 1\nA b 1.50 2e-3\nA c -9 1\nA d 2 NA\nA e -0.25 -9\nA f 3 7\n",
     "f\nb\na\nd\nz\n", 0, "0_f\t3\t7\n0_b\t1.50\t2e-3\n0_a\t0\t1\n", "f\nb\na\n"},
    {"BinaryZeroIsMissing", "1", "FID IID Y\nA a 2\nA b 0\nA c 1\nA d -9\nA e NA\n",
     "a\nb\nc\nd\ne\n", 0, "0_a\t1\n0_c\t0\n", "a\nc\n"},
    {"BinaryRefusesOtherCodes", "1", "FID IID Y C\nA a 2 1\nA b 3 1\n", "a\nb\n", 1,
     "Error: trait '3' of subject b is not 1, 2, 0, -9 or NA.\n", ""},
    // A .fam: subjects are matched by family and individual together.
    {"FamMatchesFamilyAndIndividual", "1", "FID IID Y\nF2 x 1\nF1 x 2\nF3 y 2\n",
     "F1 x 0 0 1 -9\nF2 x 0 0 2 -9\nF9 y 0 0 1 -9\n", 0, "F1_x\t1\nF2_x\t0\n", "F1 x\nF2 x\n"},
};

class RecipePheno : public ::testing::TestWithParam<PhenoCase> {};

TEST_P(RecipePheno, WritesTheCompleteSubjectsInGenotypeOrder) {
  const PhenoCase &c = GetParam();
  const std::string dir = scratch_dir();
  write_file(dir, "table.txt", c.table);
  write_file(dir, "subjects.txt", c.subjects);
  const int status =
      run_blocks(dir, {readme_block("### The phenotype table"),
                       std::string("awk -v binary=") + c.binary +
                           " -f pheno.awk table.txt subjects.txt > pheno.txt\n"});
  ASSERT_EQ(status, c.status) << read_file(dir + "/script.out");
  if (c.status == 0) {
    EXPECT_EQ(read_file(dir + "/pheno.txt"), c.pheno);
    EXPECT_EQ(read_file(dir + "/keep.txt"), c.keep);
  } else {
    EXPECT_EQ(read_file(dir + "/script.out"), c.pheno);
  }
  remove_dir(dir);
}

INSTANTIATE_TEST_SUITE_P(Tables, RecipePheno, ::testing::ValuesIn(kPhenoCases),
                         [](const ::testing::TestParamInfo<PhenoCase> &info) {
                           return std::string(info.param.name);
                         });

// ---- The checks ----

struct CheckCase {
  const char *name;
  std::string traw;   // study.traw
  std::string pheno;  // pheno.txt
  std::string geno;   // geno.txt
  int status;
  std::string output;  // what the checks print ("" for none), or a part of it
};

void PrintTo(const CheckCase &c, std::ostream *os) { *os << c.name; }

std::vector<CheckCase> check_cases() {
  const std::string head = "CHR\tSNP\t(C)M\tPOS\tCOUNTED\tALT\t0_a\t0_b\t0_c\n";
  const std::string pheno = "0_a\t1\n0_b\t0\n0_c\t1\n";
  const std::string geno = "v1\t0\t1\t0\nv2\t1\t0\tNA\n";
  const std::string id255(255, 'v'), id256(256, 'v');
  return {
      {"Match", head, pheno, geno, 0, ""},
      {"IdentifierOf255Bytes", head, pheno, id255 + "\t0\t1\t0\n", 0, ""},
      // cmp's own messages (their wording depends on its version).
      {"SubjectsInAnotherOrder", head, "0_b\t0\n0_a\t1\n0_c\t1\n", geno, 1, " differ: "},
      {"SubjectMissingFromPhenotype", head, "0_a\t1\n0_b\t0\n", geno, 1, "EOF on "},
      {"IdentifierNotUnique", head, pheno, geno + "v1\t0\t0\t1\n", 1,
       "Identifier not unique: v1\n"},
      {"IdentifierOf256Bytes", head, pheno, geno + id256 + "\t0\t1\t0\n", 1,
       "Identifier over 255 bytes: " + id256 + "\n"},
  };
}

class RecipeChecks : public ::testing::TestWithParam<CheckCase> {};

TEST_P(RecipeChecks, RefuseWhatTheProgramWouldMisread) {
  const CheckCase &c = GetParam();
  const std::string dir = scratch_dir();
  write_file(dir, "study.traw", c.traw);
  write_file(dir, "pheno.txt", c.pheno);
  write_file(dir, "geno.txt", c.geno);
  EXPECT_EQ(run_blocks(dir, {readme_block("### Checks")}), c.status);
  const std::string out = read_file(dir + "/script.out");
  if (c.status == 0 || c.output.back() == '\n')
    EXPECT_EQ(out, c.output);
  else
    EXPECT_NE(out.find(c.output), std::string::npos) << out;
  remove_dir(dir);
}

INSTANTIATE_TEST_SUITE_P(Files, RecipeChecks, ::testing::ValuesIn(check_cases()),
                         [](const ::testing::TestParamInfo<CheckCase> &info) {
                           return std::string(info.param.name);
                         });

// ---- A variant-to-gene table ----

TEST(RecipeGeneTable, BecomesTheMappingAndCountsUnknownVariants) {
  const std::string dir = scratch_dir();
  write_file(dir, "geno.txt", "v1\t0\t1\nv2\t1\t0\nv3\t0\t0\n");
  write_file(dir, "genes.txt", "G1 v1\nG1\tv2\nG2 v9\nG2 v3\nG3 v8\n");
  ASSERT_EQ(shell(dir, readme_block("### The gene list", 1)), 0) << read_file(dir + "/script.out");
  EXPECT_EQ(read_file(dir + "/mapping.txt"), "G1\tv1\nG1\tv2\nG2\tv9\nG2\tv3\nG3\tv8\n");
  EXPECT_EQ(read_file(dir + "/script.out"), "2 mapping rows name no variant of geno.txt\n");
  remove_dir(dir);
}

}  // namespace
