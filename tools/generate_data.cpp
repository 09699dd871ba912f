// quorvex_gen: deterministic generator of phenotype, genotype, mapping and
// weight files in the formats that quorvex reads.
//
// Every random number comes from xoshiro256** (Blackman and Vigna, 2018)
// seeded through splitmix64, and is turned into the values needed with plain
// IEEE arithmetic (+, -, *, /, sqrt) only: no standard-library distributions
// and no transcendental functions, so one seed gives the same bytes on every
// platform. Independent streams are used (structure, genotypes, missing
// mask, phenotypes, mapping flags, weights), so that for instance the
// covariates do not change when only the number of variants does, nor the
// genotypes when only the missing rate does.
//
// Model of the data:
//  - Variants lie in genes: the genotype file holds them in genome order
//    (chromosome:position identifiers), each gene a contiguous block of at
//    least two variants where the sizes allow, block sizes spread like
//    stars and bars (many small genes, a few large ones).
//  - Frequencies like exome data: about 70% of the variants are very rare
//    with an exact minor-allele count of 1 to 10 (half of them singletons),
//    about 25% have a frequency between a few copies and 5% (density
//    proportional to 1/p^2), about 5% are common (5% to 50%; -common F sets
//    that share, the others keep their ratio). Genotypes of
//    the latter two follow Hardy-Weinberg proportions. The coded allele is
//    the minor one.
//  - Missing genotypes ("NA") occur at the given rate; one variant in twenty
//    has ten times that rate (at most one half), so call-rate filters bite.
//  - Gene identifiers are random symbols, not in sorted order in the mapping
//    file. A few variants also belong to a neighbouring gene and a few mapped
//    variants are not in the genotype file; those extra rows are written at
//    the end of the mapping file, so that their genes are split in two runs
//    that only a stable sort by gene brings together in file order.
//  - Trait: covariate 1 is a 0/1 variable, the others are standard normal
//    (Irwin-Hall: sum of 12 uniforms minus 6). A quantitative trait is the
//    linear predictor plus a standard normal error; a binary trait is 1 when
//    that liability exceeds 0 (about half cases). By default there is no
//    genetic effect; with -causal C, C genes have every variant of frequency
//    below 1% add -effect B to the liability per copy of the minor allele.
//  - Weight file (-weights K): one line per mapping row, the lines of a gene
//    consecutive; weight 1 is the Beta(1,25) density at the frequency,
//    weight 2 is 1/sqrt(p(1-p)), weights 3..K are uniform scores in (0,1).
#include <sys/stat.h>

#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

// ---------------------------------------------------------------- random --

uint64_t splitmix64(uint64_t &state) {
  uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

// xoshiro256** 1.0, state filled from splitmix64(seed + stream constant).
struct Rng {
  uint64_t s[4];

  Rng(uint64_t seed, uint64_t stream) {
    uint64_t sm = seed ^ (stream * 0xD1B54A32D192ED03ULL);
    for (uint64_t &w : s) w = splitmix64(sm);
  }

  static uint64_t rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }

  uint64_t next() {
    const uint64_t result = rotl(s[1] * 5, 7) * 9;
    const uint64_t t = s[1] << 17;
    s[2] ^= s[0];
    s[3] ^= s[1];
    s[1] ^= s[2];
    s[0] ^= s[3];
    s[2] ^= t;
    s[3] = rotl(s[3], 45);
    return result;
  }

  // Uniform on [0, 1) with 53 random bits.
  double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }

  // Uniform integer on [0, n), n >= 1 (multiply-shift; bias below 2^-32).
  uint64_t below(uint64_t n) {
    return static_cast<uint64_t>((static_cast<unsigned __int128>(next()) * n) >> 64);
  }

  // Approximately standard normal: sum of 12 uniforms minus 6.
  double normal() {
    double sum = 0.0;
    for (int k = 0; k < 12; k++) sum += uniform();
    return sum - 6.0;
  }
};

// k distinct integers of [0, n) (Floyd's algorithm), in increasing order.
std::vector<uint64_t> distinct_sorted(Rng &rng, uint64_t n, uint64_t k) {
  std::vector<char> taken(n, 0);
  for (uint64_t j = n - k; j < n; j++) {
    uint64_t t = rng.below(j + 1);
    if (taken[t]) t = j;
    taken[t] = 1;
  }
  std::vector<uint64_t> out;
  out.reserve(k);
  for (uint64_t i = 0; i < n; i++)
    if (taken[i]) out.push_back(i);
  return out;
}

// ---------------------------------------------------------------- output --

// Output file with a large buffer written in big blocks.
class Writer {
 public:
  explicit Writer(const std::string &path) : path_(path), buf_(kSize) {
    f_ = std::fopen(path.c_str(), "wb");
    if (!f_) {
      std::fprintf(stderr, "Error: Cannot create file '%s': %s\n", path.c_str(), std::strerror(errno));
      std::exit(1);
    }
    std::setvbuf(f_, nullptr, _IONBF, 0);
  }
  ~Writer() { close(); }
  Writer(const Writer &) = delete;
  Writer &operator=(const Writer &) = delete;

  // Room for at least n more bytes; returns the write position.
  char *reserve(size_t n) {
    if (used_ + n > buf_.size()) {
      flush();
      if (n > buf_.size()) buf_.resize(n);
    }
    return buf_.data() + used_;
  }
  void commit(size_t n) { used_ += n; }

  void put(const char *s, size_t n) {
    std::memcpy(reserve(n), s, n);
    used_ += n;
  }
  void put(const std::string &s) { put(s.data(), s.size()); }
  void put(char c) {
    *reserve(1) = c;
    used_ += 1;
  }
  void printf_(const char *fmt, ...) __attribute__((format(printf, 2, 3)));

  void close() {
    if (!f_) return;
    flush();
    if (std::fclose(f_) != 0) fail();
    f_ = nullptr;
  }
  uint64_t bytes() const { return total_; }

 private:
  static constexpr size_t kSize = size_t(1) << 22;
  void flush() {
    if (used_ && std::fwrite(buf_.data(), 1, used_, f_) != used_) fail();
    total_ += used_;
    used_ = 0;
  }
  [[noreturn]] void fail() {
    std::fprintf(stderr, "Error: Cannot write file '%s': %s\n", path_.c_str(), std::strerror(errno));
    std::exit(1);
  }
  std::string path_;
  std::FILE *f_ = nullptr;
  std::vector<char> buf_;
  size_t used_ = 0;
  uint64_t total_ = 0;
};

void Writer::printf_(const char *fmt, ...) {
  char *p = reserve(256);
  va_list ap;
  va_start(ap, fmt);
  int n = std::vsnprintf(p, 256, fmt, ap);
  va_end(ap);
  if (n < 0 || n >= 256) {
    std::fprintf(stderr, "Error: output field too long in '%s'\n", path_.c_str());
    std::exit(1);
  }
  used_ += static_cast<size_t>(n);
}

// --------------------------------------------------------------- options --

struct Options {
  long subjects = 500;
  long variants = 600;
  long genes = 40;
  bool binary = true;
  long covariates = 2;
  double missing = 0.01;
  double common = -1;  // fraction of common variants; < 0: the exome mix
  int mapcols = 2;
  long weights = 0;
  long causal = 0;
  double effect = 1.0;
  uint64_t seed = 20261210;
  std::string out = ".";
  std::string pfile = "pheno.txt";
  std::string gfile = "geno.txt";
  std::string mfile = "mapping.txt";
  std::string wfile = "weights.txt";
};

void usage(std::FILE *to) {
  std::fputs(
      "Usage: quorvex_gen [options]\n"
      "Writes a phenotype, a genotype and a mapping file (and optionally a weight file).\n"
      "  -subjects N     number of subjects                          (500)\n"
      "  -variants M     number of variants in the genotype file     (600)\n"
      "  -genes G        number of genes, 1 <= G <= M                (40)\n"
      "  -trait T        binary or quantitative                      (binary)\n"
      "  -covariates C   number of covariates                        (2)\n"
      "  -missing R      missing-genotype rate, 0 <= R < 1           (0.01)\n"
      "  -common F       fraction of common variants, 0 <= F <= 1, the rest\n"
      "                  rare and low-frequency as in the mix        (0.05)\n"
      "  -mapcols K      mapping columns: 2 (gene, variant), 3 (+ frequency),\n"
      "                  4 (+ 0/1 threshold flag)                    (2)\n"
      "  -weights K      also write a weight file, K weights a line, 1..101 (0: none)\n"
      "  -causal C       genes with causal rare variants             (0)\n"
      "  -effect B       liability added per causal minor allele     (1.0)\n"
      "  -seed S         seed of the random streams                  (20261210)\n"
      "  -out DIR        output folder, created if missing           (.)\n"
      "  -pfile NAME     phenotype file name                         (pheno.txt)\n"
      "  -gfile NAME     genotype file name                          (geno.txt)\n"
      "  -mfile NAME     mapping file name                           (mapping.txt)\n"
      "  -wfile NAME     weight file name                            (weights.txt)\n"
      "  -help           this text\n",
      to);
}

[[noreturn]] void bad(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
void bad(const char *fmt, ...) {
  std::fputs("Error: ", stderr);
  va_list ap;
  va_start(ap, fmt);
  std::vfprintf(stderr, fmt, ap);
  va_end(ap);
  std::fputc('\n', stderr);
  std::exit(1);
}

long to_long(const char *opt, const char *s, long lo, long hi) {
  char *end = nullptr;
  errno = 0;
  long v = std::strtol(s, &end, 10);
  if (errno || end == s || *end != '\0' || v < lo || v > hi) bad("Invalid value '%s' for option '%s'.", s, opt);
  return v;
}

double to_double(const char *opt, const char *s, double lo, double hi) {
  char *end = nullptr;
  errno = 0;
  double v = std::strtod(s, &end);
  if (errno || end == s || *end != '\0' || !(v >= lo && v <= hi)) bad("Invalid value '%s' for option '%s'.", s, opt);
  return v;
}

Options parse(int argc, char **argv) {
  Options o;
  for (int i = 1; i < argc; i++) {
    const char *a = argv[i];
    if (!std::strcmp(a, "-help") || !std::strcmp(a, "--help") || !std::strcmp(a, "-h")) {
      usage(stdout);
      std::exit(0);
    }
    if (i + 1 >= argc) bad("Missing value for option '%s'.", a);
    const char *v = argv[++i];
    if (!std::strcmp(a, "-subjects")) o.subjects = to_long(a, v, 1, 100000000L);
    else if (!std::strcmp(a, "-variants")) o.variants = to_long(a, v, 1, 100000000L);
    else if (!std::strcmp(a, "-genes")) o.genes = to_long(a, v, 1, 100000000L);
    else if (!std::strcmp(a, "-trait")) {
      if (!std::strcmp(v, "binary")) o.binary = true;
      else if (!std::strcmp(v, "quantitative")) o.binary = false;
      else bad("Invalid value '%s' for option '%s' (binary or quantitative).", v, a);
    } else if (!std::strcmp(a, "-covariates")) o.covariates = to_long(a, v, 0, 1000);
    else if (!std::strcmp(a, "-missing")) o.missing = to_double(a, v, 0.0, 0.999);
    else if (!std::strcmp(a, "-common")) o.common = to_double(a, v, 0.0, 1.0);
    else if (!std::strcmp(a, "-mapcols")) o.mapcols = static_cast<int>(to_long(a, v, 2, 4));
    else if (!std::strcmp(a, "-weights")) o.weights = to_long(a, v, 0, 101);
    else if (!std::strcmp(a, "-causal")) o.causal = to_long(a, v, 0, 100000000L);
    else if (!std::strcmp(a, "-effect")) o.effect = to_double(a, v, -100.0, 100.0);
    else if (!std::strcmp(a, "-seed")) o.seed = static_cast<uint64_t>(to_long(a, v, 0, 0x7FFFFFFFFFFFFFFFL));
    else if (!std::strcmp(a, "-out")) o.out = v;
    else if (!std::strcmp(a, "-pfile")) o.pfile = v;
    else if (!std::strcmp(a, "-gfile")) o.gfile = v;
    else if (!std::strcmp(a, "-mfile")) o.mfile = v;
    else if (!std::strcmp(a, "-wfile")) o.wfile = v;
    else bad("Unknown option '%s' (see -help).", a);
  }
  if (o.genes > o.variants) bad("More genes than variants (-genes %ld, -variants %ld).", o.genes, o.variants);
  if (o.causal > o.genes) bad("More causal genes than genes (-causal %ld, -genes %ld).", o.causal, o.genes);
  return o;
}

void make_folder(const std::string &dir) {
  std::string path;
  for (size_t i = 0; i <= dir.size(); i++) {
    if (i == dir.size() || dir[i] == '/') {
      if (!path.empty() && mkdir(path.c_str(), 0777) != 0 && errno != EEXIST)
        bad("Cannot create folder '%s': %s", path.c_str(), std::strerror(errno));
    }
    if (i < dir.size()) path += dir[i];
  }
}

std::string join(const std::string &dir, const std::string &name) {
  if (!name.empty() && name[0] == '/') return name;
  if (dir.empty() || dir == ".") return name;
  return dir.back() == '/' ? dir + name : dir + "/" + name;
}

// ----------------------------------------------------------------- model --

struct Variant {
  std::string id;
  int kind = 0;        // 0 exact minor-allele count, 1 low frequency, 2 common
  long mac = 0;        // kind 0: minor alleles placed
  double p = 0.0;      // kinds 1, 2: allele frequency
  double missing = 0;  // missing-genotype rate of the variant
  long gene = 0;       // gene block the variant lies in
  bool causal = false;
  double freq = 0.0;   // observed frequency, filled while writing genotypes
};

struct MapRow {
  long gene;
  long variant;      // index into the variants, or -1 - k for absent variant k
};

std::string gene_symbol(Rng &rng) {
  static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  std::string s;
  const long len = 3 + static_cast<long>(rng.below(2));
  for (long k = 0; k < len; k++) s += letters[rng.below(26)];
  s += std::to_string(1 + rng.below(30));
  return s;
}

}  // namespace

int main(int argc, char **argv) {
  const Options o = parse(argc, argv);
  const long N = o.subjects, M = o.variants, G = o.genes;
  Rng rs(o.seed, 1), rg(o.seed, 2), rp(o.seed, 3), rm(o.seed, 6);

  // Gene sizes: at least m0 variants each, the rest by stars and bars.
  const long m0 = M >= 2 * G ? 2 : 1;
  const uint64_t rest = static_cast<uint64_t>(M - m0 * G);
  std::vector<long> gene_size(G, m0);
  {
    const std::vector<uint64_t> bars = distinct_sorted(rs, rest + G - 1, G - 1);
    uint64_t prev = 0;
    for (long k = 0; k < G - 1; k++) {
      gene_size[k] += static_cast<long>(bars[k] - prev);
      prev = bars[k] + 1;
    }
    gene_size[G - 1] += static_cast<long>(rest + G - 1 - prev);
  }

  // Gene identifiers: unique random symbols.
  std::vector<std::string> gene_id(G);
  {
    std::set<std::string> used;
    for (long k = 0; k < G; k++) {
      std::string s = gene_symbol(rs);
      while (!used.insert(s).second) s = gene_symbol(rs);
      gene_id[k] = s;
    }
  }

  // Causal genes.
  std::vector<char> gene_causal(G, 0);
  for (uint64_t k : distinct_sorted(rs, G, o.causal)) gene_causal[k] = 1;

  // Variants in genome order: chromosome 1..22 spread over the genes,
  // positions increasing in steps of at least 2 (so position + 1 is free).
  std::vector<Variant> var(M);
  const double a_low = 3.0 / (2.0 * N) < 0.05 ? 3.0 / (2.0 * N) : 0.01;
  {
    long v = 0;
    long chrom = 0;
    uint64_t pos = 0;
    for (long k = 0; k < G; k++) {
      const long c = 1 + (k * 22) / G;
      if (c != chrom) {
        chrom = c;
        pos = 10000 + rs.below(100000);
      }
      pos += 1000 + rs.below(200000);  // gap between genes
      for (long j = 0; j < gene_size[k]; j++, v++) {
        pos += 2 + 2 * rs.below(400);
        Variant &x = var[v];
        x.id = std::to_string(chrom) + ":" + std::to_string(pos);
        x.gene = k;
        double u = rs.uniform();
        // -common F: a variant is common with probability F, otherwise
        // very rare or low-frequency in the mix's proportions 70 : 25.
        if (o.common >= 0) u = u < o.common ? 1.0 : 0.95 * (u - o.common) / (1.0 - o.common);
        if (u < 0.70) {
          x.kind = 0;
          const double w = rs.uniform();
          x.mac = w < 0.5 ? 1 : w < 0.7 ? 2 : 3 + static_cast<long>(rs.below(8));
          if (x.mac > N) x.mac = N;
          x.p = static_cast<double>(x.mac) / (2.0 * N);
        } else if (u < 0.95) {
          x.kind = 1;
          // density proportional to 1/p^2 on [a_low, 0.05]
          const double w = rs.uniform();
          x.p = 1.0 / (1.0 / a_low + w * (1.0 / 0.05 - 1.0 / a_low));
        } else {
          x.kind = 2;
          x.p = 0.05 + 0.45 * rs.uniform();
        }
        x.missing = o.missing;
        if (rs.below(20) == 0) x.missing = o.missing * 10.0 > 0.5 ? 0.5 : o.missing * 10.0;
        x.causal = gene_causal[k] && x.p < 0.01;
      }
    }
  }

  // Mapping rows: every variant in its own gene, in genome order; then the
  // extra rows (variants also in the next gene, and absent variants) in a
  // shuffled order.
  std::vector<MapRow> rows;
  rows.reserve(M + 2 * (G / 10 + 2));
  for (long v = 0; v < M; v++) rows.push_back({var[v].gene, v});
  std::vector<MapRow> extra;
  std::vector<std::string> absent_id;
  std::vector<double> absent_freq;
  {
    const long n_extra = G / 10 > 0 ? G / 10 : 1;
    // shared: the last variant of gene k also belongs to gene k+1
    if (G >= 2) {
      const long n_shared = n_extra < G - 1 ? n_extra : G - 1;
      std::vector<long> last(G);
      long v = 0;
      for (long k = 0; k < G; k++) {
        v += gene_size[k];
        last[k] = v - 1;
      }
      for (uint64_t k : distinct_sorted(rs, G - 1, n_shared)) extra.push_back({static_cast<long>(k) + 1, last[k]});
    }
    for (uint64_t k : distinct_sorted(rs, G, n_extra)) {
      // an identifier next to the gene's first variant, not in the genotype file
      long first = 0;
      for (uint64_t j = 0; j < k; j++) first += gene_size[j];
      const std::string &id = var[first].id;
      const size_t colon = id.find(':');
      const uint64_t pos = std::strtoull(id.c_str() + colon + 1, nullptr, 10);
      absent_id.push_back(id.substr(0, colon + 1) + std::to_string(pos + 1));
      absent_freq.push_back(static_cast<double>(1 + rs.below(3)) / (2.0 * N));
      extra.push_back({static_cast<long>(k), -static_cast<long>(absent_id.size())});
    }
    for (size_t i = extra.size(); i > 1; i--) std::swap(extra[i - 1], extra[rs.below(i)]);
    rows.insert(rows.end(), extra.begin(), extra.end());
  }

  // Covariates and the non-genetic part of the liability.
  const long C = o.covariates;
  std::vector<double> cov(static_cast<size_t>(N) * (C > 0 ? C : 1));
  std::vector<double> liability(N);
  for (long i = 0; i < N; i++) {
    double eta = 0.0;
    for (long c = 0; c < C; c++) {
      double z;
      if (c == 0) {
        z = rp.below(2) ? 1.0 : 0.0;
        eta += 0.3 * (z - 0.5);
      } else {
        z = rp.normal();
        eta += 0.2 * z;
      }
      cov[static_cast<size_t>(i) * C + c] = z;
    }
    liability[i] = eta;
  }

  make_folder(o.out);

  // Genotype file, one row at a time.
  std::vector<unsigned char> g(N);
  {
    Writer w(join(o.out, o.gfile));
    std::vector<uint64_t> carriers;
    for (long v = 0; v < M; v++) {
      Variant &x = var[v];
      if (x.kind == 0) {
        std::fill(g.begin(), g.end(), 0);
        for (uint64_t i : distinct_sorted(rg, N, x.mac)) g[i] = 1;
      } else {
        const double p = x.p;
        const double t2 = p * p, t1 = t2 + 2.0 * p * (1.0 - p);
        for (long i = 0; i < N; i++) {
          const double u = rg.uniform();
          g[i] = u < t2 ? 2 : u < t1 ? 1 : 0;
        }
      }
      if (x.causal)
        for (long i = 0; i < N; i++) liability[i] += o.effect * g[i];
      // missing mask: compare 32 random bits with the rate
      const uint64_t cut = static_cast<uint64_t>(x.missing * 4294967296.0);
      char *p = w.reserve(x.id.size() + 3 * static_cast<size_t>(N) + 1);
      char *q = p;
      std::memcpy(q, x.id.data(), x.id.size());
      q += x.id.size();
      long sum = 0, seen = 0;
      for (long i = 0; i < N; i++) {
        *q++ = '\t';
        if (cut && (rm.next() >> 32) < cut) {
          *q++ = 'N';
          *q++ = 'A';
        } else {
          *q++ = static_cast<char>('0' + g[i]);
          sum += g[i];
          seen++;
        }
      }
      *q++ = '\n';
      w.commit(static_cast<size_t>(q - p));
      x.freq = seen ? static_cast<double>(sum) / (2.0 * seen) : 0.0;
    }
    w.close();
    std::printf("%s: %ld variants x %ld subjects, %" PRIu64 " bytes\n", join(o.out, o.gfile).c_str(), M, N, w.bytes());
  }

  // Phenotype file.
  {
    Writer w(join(o.out, o.pfile));
    const int width = static_cast<int>(std::to_string(N).size());
    long cases = 0;
    for (long i = 0; i < N; i++) {
      const double y = liability[i] + rp.normal();
      w.printf_("S%0*ld", width, i + 1);
      if (o.binary) {
        const int yb = y > 0.0 ? 1 : 0;
        cases += yb;
        w.printf_("\t%d", yb);
      } else {
        w.printf_("\t%.6f", y);
      }
      for (long c = 0; c < C; c++) {
        const double z = cov[static_cast<size_t>(i) * C + c];
        if (c == 0) w.printf_("\t%d", z > 0.5 ? 1 : 0);
        else w.printf_("\t%.4f", z);
      }
      w.put('\n');
    }
    w.close();
    if (o.binary)
      std::printf("%s: %ld subjects (%ld cases, %ld controls), %ld covariates\n", join(o.out, o.pfile).c_str(), N,
                  cases, N - cases, C);
    else
      std::printf("%s: %ld subjects, quantitative trait, %ld covariates\n", join(o.out, o.pfile).c_str(), N, C);
  }

  // Mapping file.
  auto row_id = [&](const MapRow &r) -> const std::string & {
    return r.variant >= 0 ? var[r.variant].id : absent_id[-r.variant - 1];
  };
  auto row_freq = [&](const MapRow &r) { return r.variant >= 0 ? var[r.variant].freq : absent_freq[-r.variant - 1]; };
  {
    Writer w(join(o.out, o.mfile));
    Rng rf(o.seed, 4);
    for (const MapRow &r : rows) {
      w.put(gene_id[r.gene]);
      w.put('\t');
      w.put(row_id(r));
      if (o.mapcols >= 3) w.printf_("\t%.6g", row_freq(r));
      if (o.mapcols == 4) w.printf_("\t%d", static_cast<int>(rf.below(2)));
      w.put('\n');
    }
    w.close();
    std::printf("%s: %zu rows, %ld genes, %d columns\n", join(o.out, o.mfile).c_str(), rows.size(), G, o.mapcols);
  }
  if (o.causal > 0) {
    std::printf("causal genes (variants of frequency below 1%%, effect %g):", o.effect);
    for (long k = 0; k < G; k++)
      if (gene_causal[k]) std::printf(" %s", gene_id[k].c_str());
    std::printf("\n");
  }

  // Weight file: the lines of each gene together, genes in mapping order.
  if (o.weights > 0) {
    std::vector<std::vector<size_t>> by_gene(G);
    for (size_t k = 0; k < rows.size(); k++) by_gene[rows[k].gene].push_back(k);
    Writer w(join(o.out, o.wfile));
    Rng rw(o.seed, 5);
    size_t lines = 0;
    for (long k = 0; k < G; k++) {
      for (size_t idx : by_gene[k]) {
        const MapRow &r = rows[idx];
        double p = row_freq(r);
        const double pmin = 1.0 / (2.0 * N);
        if (p < pmin) p = pmin;
        if (p > 0.5) p = 1.0 - p;
        if (p < pmin) p = pmin;
        w.put(gene_id[r.gene]);
        w.put('\t');
        w.put(row_id(r));
        for (long j = 0; j < o.weights; j++) {
          double x;
          if (j == 0) {
            x = 25.0;  // Beta(1,25) density: 25 (1-p)^24
            for (int e = 0; e < 24; e++) x *= 1.0 - p;
          } else if (j == 1) {
            x = 1.0 / std::sqrt(p * (1.0 - p));
          } else {
            x = rw.uniform();
          }
          w.printf_("\t%.6g", x);
        }
        w.put('\n');
        lines++;
      }
    }
    w.close();
    std::printf("%s: %zu lines, %ld weights a line\n", join(o.out, o.wfile).c_str(), lines, o.weights);
  }
  return 0;
}
