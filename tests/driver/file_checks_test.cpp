// Output names against the run's inputs and each other: same device and
// inode when the file exists (hard and symbolic links included), else the
// same path with its folder resolved.
#include "driver/file_checks.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <unistd.h>

#include "driver_test_support.h"
#include "support/death_tests.h"

namespace {

using test_support::write_file;

struct NamesCase {
  const char *name;
  std::vector<std::string> args;  // options after -pfile/-gfile/-mfile in the scratch folder
  std::string error;              // the message, or "" when the names are accepted
};

void PrintTo(const NamesCase &c, std::ostream *os) { *os << c.name; }

const NamesCase kNames[] = {
    {"DistinctFiles", {}, ""},
    {"HardLinkToTheGenotypeFile", {"-snplog", "@/hard"},
     "Error: Options '-snplog' and '-gfile' name the same file '@/hard': an output file must not overwrite an "
     "input file.\n"},
    {"SymbolicLinkToThePhenotypeFile", {"-vtlog", "@/soft"},
     "Error: Options '-vtlog' and '-pfile' name the same file '@/soft': an output file must not overwrite an "
     "input file.\n"},
    {"DefaultResultNameIsAnInput", {"-gfile", "rare.out"},
     "Error: Options '-ofile' and '-gfile' name the same file 'rare.out': an output file must not overwrite an "
     "input file.\n"},
    {"NewFileReachedByTwoPaths", {"-ofile", "@/new.out", "-msglog", "@/../@base/new.out"},
     "Error: Options '-ofile' and '-msglog' name the same file '@/../@base/new.out': two outputs cannot share one "
     "file.\n"},
    // Named input files are protected also when the run does not read them.
    {"MappingNamedWithoutTheGenePass", {"-noRare", "-msglog", "@/mapping.txt"},
     "Error: Options '-msglog' and '-mfile' name the same file '@/mapping.txt': an output file must not "
     "overwrite an input file.\n"},
    {"WeightFileNamedUnderTheDominantModel", {"-dominant", "-wfile", "@/w.txt", "-msglog", "@/w.txt"},
     "Error: Options '-msglog' and '-wfile' name the same file '@/w.txt': an output file must not overwrite an "
     "input file.\n"},
    {"OutputsNotInForce", {"-noRare", "-ofile", "@/geno.txt", "-multilog", "@/pheno.txt", "-ofileC", "@/geno.txt"},
     ""},
    {"LogsSharingDevNull", {"-vtlog", "/dev/null", "-snplog", "/dev/null", "-msglog", "/dev/null"}, ""},
};

std::string replace_all(std::string s, const std::string &from, const std::string &to) {
  for (std::size_t pos = 0; (pos = s.find(from, pos)) != std::string::npos; pos += to.size())
    s.replace(pos, from.size(), to);
  return s;
}

class OutputNames : public ::testing::TestWithParam<NamesCase> {};

TEST_P(OutputNames, RefusedOnlyWhenTheyNameAnInputOrEachOther) {
  const NamesCase c = GetParam();
  const std::string dir = test_support::temp_dir();
  const std::string base = dir.substr(dir.rfind('/') + 1);
  for (const char *f : {"pheno.txt", "geno.txt", "mapping.txt", "w.txt"}) write_file(dir, f, "x\n");
  ASSERT_EQ(link((dir + "/geno.txt").c_str(), (dir + "/hard").c_str()), 0);
  ASSERT_EQ(symlink((dir + "/pheno.txt").c_str(), (dir + "/soft").c_str()), 0);
  std::vector<std::string> store = {"quorvex", "-pfile", dir + "/pheno.txt", "-gfile", dir + "/geno.txt",
                                    "-mfile", dir + "/mapping.txt"};
  for (const std::string &a : c.args) store.push_back(replace_all(replace_all(a, "@base", base), "@", dir));
  std::vector<char *> argv;
  for (auto &a : store) argv.push_back(&a[0]);
  Settings s;
  set_defaults(&s);
  walk_command_line(static_cast<int>(argv.size()), argv.data(), &s);
  if (s.mwf && (s.DOCMC || s.DOREC)) s.mwf = 0;  // as the settings step does
  const std::string error = replace_all(replace_all(c.error, "@base", base), "@", dir);
  if (error.empty()) {
    check_output_names(s);
    return;
  }
  EXPECT_EXIT(
      run_to_exit([&] {
        test_support::stdout_to_stderr();
        check_output_names(s);
      }),
      ::testing::ExitedWithCode(1), test_support::whole(error + test_support::kStop));
}

INSTANTIATE_TEST_SUITE_P(Cases, OutputNames, ::testing::ValuesIn(kNames),
                         [](const ::testing::TestParamInfo<NamesCase> &info) {
                           return std::string(info.param.name);
                         });

}  // namespace
