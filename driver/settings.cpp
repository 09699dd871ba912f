#include "driver/settings.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "numeric/run_stop.h"

namespace {

const char kVersion[] = "1.0.0";
const char kReleaseDate[] = "10/Dec/2026";
const char kDocumentation[] = "see README.md";

// text centred in a field of width columns; an odd surplus goes to the right.
std::string centred(const char *text, std::size_t width) {
  std::size_t len = std::strlen(text);
  if (len >= width) return std::string(text);
  std::size_t left = (width - len) / 2;
  return std::string(left, ' ') + text + std::string(width - len - left, ' ');
}

[[noreturn]] void bad_value(const char *option, const char *value, const char *what) {
  std::printf("\nError: Value '%s' of option '%s' %s.\n", value, option, what);
  kill_QUORVEX();
}

// A real option value: the whole text a finite number (C syntax), within
// [lo, hi] (an open end when the flag says so).
double real_value(const char *option, const char *arg, double lo, bool lo_open, double hi, bool hi_open,
                  const char *domain) {
  char *stop = nullptr;
  const double v = std::strtod(arg, &stop);
  if (stop == arg || *stop != '\0' || !std::isfinite(v)) bad_value(option, arg, "is not a number");
  if (v < lo || (lo_open && v == lo) || v > hi || (hi_open && v == hi)) bad_value(option, arg, domain);
  return v;
}

// An integer option value: the whole text an integer within [lo, INT_MAX].
int integer_value(const char *option, const char *arg, long lo, const char *domain) {
  char *stop = nullptr;
  errno = 0;
  const long v = std::strtol(arg, &stop, 10);
  if (stop == arg || *stop != '\0') bad_value(option, arg, "is not an integer");
  if (errno == ERANGE || v < lo || v > INT_MAX) bad_value(option, arg, domain);
  return static_cast<int>(v);
}

// "-resample" keeps its warnings for any value: its longest integer prefix
// (0 when none), held to the range of an int.
int resample_value(const char *arg) {
  const long v = std::strtol(arg, nullptr, 10);
  return v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : static_cast<int>(v);
}

// Options with a value take argv[i + 1]; a value past the end is fatal.
const char *option_value(int argc, char **argv, int i) {
  if (i + 1 >= argc) {
    std::printf("\nError: Missing value for command line option '%s'.\n", argv[i]);
    kill_QUORVEX();
  }
  return argv[i + 1];
}

void report_from_user(Settings *s) {
  std::puts("FROM USER:");
  if (s->mgf) std::printf("        -- Genotypes read from '%s'.\n", s->genotype);
  if (s->mpf) std::printf("        -- Phenotypes read from '%s'.\n", s->phenotype);
  if (s->mmsgl) std::printf("        -- Warning message written to '%s'\n", s->msglog);
  if (s->mp) std::puts("        -- Do both asymptotic and resampling tests.");
  if (s->mna) std::printf("        -- Remove variants with call rate less than %f.\n", 1.0 - s->NA_UB);
  if (s->mcmc) std::puts("        -- Do variant association analysis under dominant genetic model.");
  if (s->mrec) std::puts("        -- Do variant association analysis under recessive genetic model.");
  if (s->DOCOM) {
    std::printf("        -- Do single variant analysis for common SNPs (MAF>%f).\n", s->MAF_C);
    if (s->mofc) std::printf("        -- Single variant analysis output written to '%s'.\n", s->output_com);
  }
  if (!s->DORARE) {
    std::puts("        -- Skip rare variant analysis.");
    return;
  }
  if (s->mmf) std::printf("        -- Gene-SNP mapping file read from '%s'.\n", s->mapfile);
  if (s->mof) std::printf("        -- Rare variant analysis output written to '%s'.\n", s->output);
  if (s->mvtl)
    std::printf("        -- Score statistics and covariance estimates for VT burden scores are written to '%s'.\n",
                s->vtlog);
  if (s->mskatl)
    std::printf("        -- Score statistics and covariance estimates for SNPs are written to '%s'.\n",
                s->skatlog);
  if (s->mwf)
    std::printf("        -- Score statistics and covariance estimates for customized burden scores are written to '%s'.\n",
                s->multilog);
  if (s->mrare) std::printf("        -- MAF upper bound is %f.\n", s->MAF_UB);
  if (s->mallele) std::printf("        -- MAC lower bound is %d.\n", s->MAC_LB);
  if (s->mopp) {
    if (s->mp && !s->mcmc && !s->mrec) std::printf("        -- Set delta='%f' for EREC test.\n", s->DELTA);
    if (!s->mp) {
      std::puts("Warning: EREC test is not conducted. Should turn on resampling test first using -resample.");
      s->mopp = 0;
    } else if (s->mcmc || s->mrec) {
      std::puts("Warning: EREC test is not conducted under dominant/recessive genetic model.");
      s->mopp = 0;
    }
  }
  std::puts("");
}

void report_resample_warnings(const Settings &s) {
  if (s.MORE != -1 && s.MORE <= 1000000)
    std::puts("Warning: The default maximum number of resamples is 1 million. Specify a number greater than 1 million.");
  if (s.MORE > 100000000)
    std::puts("Warning: The number of resamples should not exceed 100 millions. The default of 1 million resamples is applied");
}

void check_model_conflict(const Settings &s) {
  if (s.mcmc && s.mrec) {
    std::puts("Error: the genetic modle can not be both dominant and recessive.");
    kill_QUORVEX();
  }
}

void report_from_defaults(const Settings &s) {
  std::puts("FROM DEFAULTS:");
  if (!s.mgf) std::printf("        -- Genotypes read from '%s'.\n", s.genotype);
  if (!s.mpf) std::printf("        -- Phenotypes read from '%s'.\n", s.phenotype);
  if (!s.mp) std::puts("        -- Do asymptotic test only.");
  if (!s.mna) std::printf("        -- Remove variants with call rate less than %f.\n", 1.0 - s.NA_UB);
  if (!s.mcmc && !s.mrec) std::puts("        -- Do variant association analysis under additive genetic model.");
  if (!s.DOCOM) std::puts("        -- No single variant analysis for common SNPs.");
  if (!s.DORARE) return;
  if (!s.mmf) std::printf("        -- Gene-SNP mapping file read from '%s'.\n", s.mapfile);
  if (!s.mof) std::printf("        -- Rare variant analysis output written to '%s'.\n", s.output);
  if (!s.mvtl)
    std::printf("        -- Score statistics and covariance estimates for VT burden scores are written to '%s'.\n",
                s.vtlog);
  if (!s.mskatl)
    std::printf("        -- Score statistics and covariance estimates for SNPs are written to '%s'.\n",
                s.skatlog);
  if (!s.mrare) std::printf("        -- MAF upper bound is %f.\n", s.MAF_UB);
  if (!s.mallele) std::puts("        -- MAC lower bound is 1.");
  if (!s.mopp && s.mp)
    std::puts("        -- Delta=1 for binary trait and delta=2 for quantitative trait in EREC test.");
  std::puts("");
}

}  // namespace

void set_defaults(Settings *s) {
  s->genotype = "geno.txt";
  s->phenotype = "pheno.txt";
  s->mapfile = "mapping.txt";
  s->wfile = "wfile.txt";
  s->output = "rare.out";
  s->output_com = "com.out";
  s->vtlog = "vt.log";
  s->skatlog = "skat.log";
  s->multilog = "multi.log";
  s->msglog = "msg.log";
  s->MAF_UB = 0.05;
  s->DELTA = 1.0;
  s->MAF_C = 0.05;
  s->NA_UB = 1.0;
  s->MAC_LB = 1;
  s->PERM_FLAG = 0;
  s->MORE = -1;
  s->mmore = 0;
  s->DORARE = 1;
  s->DOCOM = 0;
  s->DOCMC = 0;
  s->DOREC = 0;
  s->N_FIX = 3;
  s->mcmc = s->mrec = s->mpf = s->mgf = s->mmf = s->mwf = s->mof = s->mofc = 0;
  s->mvtl = s->mskatl = s->mmsgl = s->mrare = s->mallele = s->mna = s->mp = s->mopp = 0;
}

void print_banner() {
  const std::string border = "@" + std::string(54, '-') + "@";
  std::puts("");
  std::puts(border.c_str());
  std::printf("|%s|%s|%s|\n", centred("Quorvex", 19).c_str(), centred(kVersion, 11).c_str(),
              centred(kReleaseDate, 22).c_str());
  std::puts(std::string(56, '-').c_str());
  std::puts("|            For documentation & citation              |");
  std::printf("|%s|\n", centred(kDocumentation, 54).c_str());
  std::puts((border + "\n").c_str());
  std::time_t now = std::time(nullptr);
  std::printf("\nQUORVEX started: %s\n", std::asctime(std::localtime(&now)));
}

void walk_command_line(int argc, char **argv, Settings *s) {
  for (int i = 1; i < argc; i++) {
    const char *a = argv[i];
    if (std::strcmp(a, "-dominant") == 0) {
      s->DOCMC = 1;
      s->N_FIX = 2;
      s->mcmc = 1;
    } else if (std::strcmp(a, "-recessive") == 0) {
      s->DOREC = 1;
      s->N_FIX = 2;
      s->mrec = 1;
    } else if (std::strcmp(a, "-pfile") == 0) {
      s->phenotype = option_value(argc, argv, i++);
      s->mpf = 1;
    } else if (std::strcmp(a, "-gfile") == 0) {
      s->genotype = option_value(argc, argv, i++);
      s->mgf = 1;
    } else if (std::strcmp(a, "-mfile") == 0) {
      s->mapfile = option_value(argc, argv, i++);
      s->mmf = 1;
    } else if (std::strcmp(a, "-wfile") == 0) {
      s->wfile = option_value(argc, argv, i++);
      s->mwf = 1;
    } else if (std::strcmp(a, "-ofile") == 0) {
      s->output = option_value(argc, argv, i++);
      s->mof = 1;
    } else if (std::strcmp(a, "-ofileC") == 0) {
      s->output_com = option_value(argc, argv, i++);
      s->mofc = 1;
    } else if (std::strcmp(a, "-vtlog") == 0) {
      s->vtlog = option_value(argc, argv, i++);
      s->mvtl = 1;
    } else if (std::strcmp(a, "-snplog") == 0) {
      s->skatlog = option_value(argc, argv, i++);
      s->mskatl = 1;
    } else if (std::strcmp(a, "-multilog") == 0) {
      s->multilog = option_value(argc, argv, i++);
    } else if (std::strcmp(a, "-msglog") == 0) {
      s->msglog = option_value(argc, argv, i++);
      s->mmsgl = 1;
    } else if (std::strcmp(a, "-MAF") == 0) {
      s->MAF_UB = real_value("-MAF", option_value(argc, argv, i++), 0.0, true, 1.0, false, "is not in (0, 1]");
      s->mrare = 1;
    } else if (std::strcmp(a, "-MAC") == 0) {
      s->MAC_LB = integer_value("-MAC", option_value(argc, argv, i++), 0, "is not an integer from 0 to 2147483647");
      s->mallele = 1;
    } else if (std::strcmp(a, "-CR") == 0) {
      s->NA_UB = 1.0 - real_value("-CR", option_value(argc, argv, i++), 0.0, false, 1.0, false, "is not in [0, 1]");
      s->mna = 1;
    } else if (std::strcmp(a, "-resample") == 0) {
      s->MORE = resample_value(option_value(argc, argv, i++));
      s->PERM_FLAG = 1;
      if (s->MORE >= 1000001 && s->MORE <= 100000000) s->mmore = 1;
      s->mp = 1;
    } else if (std::strcmp(a, "-EREC") == 0) {
      s->DELTA = real_value("-EREC", option_value(argc, argv, i++), -HUGE_VAL, false, HUGE_VAL, false, "");
      s->mopp = 1;
    } else if (std::strcmp(a, "-noRare") == 0) {
      s->DORARE = 0;
    } else if (std::strcmp(a, "-com") == 0) {
      s->MAF_C = real_value("-com", option_value(argc, argv, i++), 0.0, false, 1.0, true, "is not in [0, 1)");
      s->DOCOM = 1;
    } else {
      std::printf("\nError: Unknown command line option '%s'.\n", a);
      kill_QUORVEX();
    }
  }
}

void load_options(int argc, char **argv, Settings *s) {
  std::puts("\n*---------------- Loading options...----------------*");
  set_defaults(s);
  if (argc >= 2) walk_command_line(argc, argv, s);
  if (s->mwf && (s->DOCMC || s->DOREC)) {
    std::puts("Warning: Customized test is performed only under additive genetic model.");
    s->mwf = 0;
  }
  report_from_user(s);
  report_resample_warnings(*s);
  check_model_conflict(*s);
  report_from_defaults(*s);
}
