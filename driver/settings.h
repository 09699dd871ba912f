#ifndef QUORVEX_DRIVER_SETTINGS_H
#define QUORVEX_DRIVER_SETTINGS_H

// Run settings: the command line, its defaults and the settings report.

// Every setting of a run with its default (set_defaults). File names are not
// copied: each points at its default text or at the command-line argument.
struct Settings {
  const char *genotype;    // "-gfile", genotype file
  const char *phenotype;   // "-pfile", phenotype file
  const char *mapfile;     // "-mfile", gene-to-variant mapping file
  const char *wfile;       // "-wfile", weight file of the customized test
  const char *output;      // "-ofile", gene-level result file
  const char *output_com;  // "-ofileC", common-variant result file
  const char *vtlog;       // "-vtlog", VT score log
  const char *skatlog;     // "-snplog", per-variant score log
  const char *multilog;    // "-multilog", customized-test score log
  const char *msglog;      // "-msglog", message log

  double MAF_UB;  // "-MAF", upper bound of a rare variant's frequency
  double DELTA;   // "-EREC", EREC delta (2.0 for a quantitative trait unless given)
  double MAF_C;   // "-com", frequency above which a variant is tested on its own
  double NA_UB;   // "-CR" c as 1 - c, upper bound of a variant's missing rate

  int MAC_LB;     // "-MAC", lower bound of a minor-allele count
  int PERM_FLAG;  // "-resample": resampling on
  int MORE;       // "-resample" n: maximum number of resamples, -1 when not given
  int mmore;      // resampling may go beyond 1,000,000 resamples, up to MORE
  int DORARE;     // gene pass on ("-noRare" clears it)
  int DOCOM;      // common-variant pass on ("-com")
  int DOCMC;      // dominant genetic model
  int DOREC;      // recessive genetic model
  int N_FIX;      // fixed-threshold burden tests: 3 additive (T1, T5, MB), else 2

  // Given flags: 1 when the option was met on the command line.
  int mcmc;     // "-dominant"
  int mrec;     // "-recessive"
  int mpf;      // "-pfile"
  int mgf;      // "-gfile"
  int mmf;      // "-mfile"
  int mwf;      // "-wfile"; also the switch of the customized test
  int mof;      // "-ofile"
  int mofc;     // "-ofileC"
  int mvtl;     // "-vtlog"
  int mskatl;   // "-snplog"
  int mmsgl;    // "-msglog"; also the switch of the message log
  int mrare;    // "-MAF"
  int mallele;  // "-MAC"
  int mna;      // "-CR"
  int mp;       // "-resample"
  int mopp;     // "-EREC"; cleared when EREC cannot run
};

// Every setting to its default, every given flag to 0.
void set_defaults(Settings *s);

// Writes an empty line, the six-line banner and "\nQUORVEX started: %s\n"
// with the local time now.
void print_banner();

// Applies the options argv[1..argc-1] in order (first exact match wins, a
// value is the next argument). Stops the run on an unknown option or an
// option whose value is missing.
void walk_command_line(int argc, char **argv, Settings *s);

// The "Loading options" step as a whole: heading, defaults, command-line
// walk, the customized-test check, the report of the user's settings with
// its warnings, the model-conflict stop and the report of the defaults.
void load_options(int argc, char **argv, Settings *s);

#endif
