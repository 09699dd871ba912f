#!/usr/bin/env bash
# Benchmark of the gene pass with every asymptotic test: T1, T5, MB, VT, SKAT
# and the customized test over a weight file of 3 weights, on the gene-pass
# benchmark data (5,000 subjects, 50,000 variants, 2,500 genes, binary trait
# without genetic effects, 2 covariates). Runs bench/gene_pass.sh with the
# weight file; target: whole run <= 4 x the loading alone.
#
#   bash bench/family_tests.sh
#
# Each whole run takes about 14 CPU-minutes (45 before the integration's
# work savings): the VT p-values of the genes with 14 to 19 thresholds and
# 1e-4 <= p < 0.1 need multivariate normal integrations at accuracy p/100,
# which cost seconds to a minute or two each.
# REPEAT defaults to 1 here (the script still makes one untimed warm-up run
# and one run for the peak memory).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tag=5000x50000_g2500_binary_weights_3
REPEAT=${REPEAT:-1} GEN_ARGS="-weights 3" bash "$root/bench/gene_pass.sh" 5000 50000 2500 binary \
  -- -wfile "$root/bench/data/$tag/weights.txt"
echo "target of the run with every test: whole <= 4 x loading alone"
