// Fuzz target: the weight-file reader of the gene set-up on arbitrary file
// contents. The genes asked for are the first identifiers of the file's
// lines (at most 4), each with the variants named on its lines (at most 8),
// so that the index, the seeks and the weight lines are all reached.
#include <cstring>
#include <string>
#include <vector>

#include "driver/gene_setup.h"
#include "driver/text_file.h"
#include "fuzz/fuzz_support.h"
#include "numeric/arrays.h"

namespace {

std::vector<std::string> line_tokens(const char *b, const char *e) {
  std::vector<std::string> t;
  while (b < e) {
    while (b < e && (is_blank(*b) || *b == '\0')) b++;
    const char *s = b;
    while (b < e && !is_blank(*b) && *b != '\0') b++;
    if (b > s) t.emplace_back(s, b);
  }
  return t;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const char *text = reinterpret_cast<const char *>(data);
  std::vector<std::string> genes;
  std::vector<std::vector<std::string>> snps;
  for (const char *p = text, *end = text + size; p < end;) {
    const char *nl = static_cast<const char *>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
    const char *e = nl ? nl : end;
    std::vector<std::string> t = line_tokens(p, e);
    p = nl ? nl + 1 : end;
    if (t.size() < 2 || t[0].size() > 255 || t[1].size() > 255) continue;
    std::size_t g = 0;
    while (g < genes.size() && genes[g] != t[0]) g++;
    if (g == genes.size()) {
      if (genes.size() == 4) continue;
      genes.push_back(t[0]);
      snps.emplace_back();
    }
    bool known = false;
    for (const std::string &s : snps[g]) known = known || s == t[1];
    if (!known && snps[g].size() < 8) snps[g].push_back(t[1]);
  }

  const char *name = fuzz_support::file_with(data, size);
  Settings settings;
  set_defaults(&settings);
  settings.wfile = name;
  settings.mwf = 1;
  RunArrays run;
  run.buffer_weight = dvector(0, 100);
  WeightIndex index;
  for (std::size_t g = 0; g < genes.size(); g++) {
    GeneUnderTest gene;
    std::strncpy(gene.geneID, genes[g].c_str(), sizeof(gene.geneID) - 1);
    gene.N_SNP = static_cast<long>(snps[g].size());
    gene.gene_snpID = new char *[snps[g].size()];
    for (std::size_t j = 0; j < snps[g].size(); j++) {
      gene.gene_snpID[j] = static_cast<char *>(std::calloc(256, 1));
      std::memcpy(gene.gene_snpID[j], snps[g][j].c_str(), snps[g][j].size());
    }
    bool stopped = false;
    try {
      read_gene_weights(settings, index, run, gene);
    } catch (const RunStop &) {
      stopped = true;
    }
    for (std::size_t j = 0; j < snps[g].size(); j++) std::free(gene.gene_snpID[j]);
    delete[] gene.gene_snpID;
    gene.gene_snpID = nullptr;
    if (gene.wt != nullptr) free_dmatrix(gene.wt, 0, gene.n_weight - 1, 0, gene.N_SNP - 1);
    if (stopped) break;
  }
  free_dvector(run.buffer_weight, 0, 100);
  return 0;
}
