#!/usr/bin/env bash
# Regenerates the example data set of this folder with the data generator.
#   bash examples/make_examples.sh [path/to/quorvex_gen]
# Default generator: build/tools/quorvex_gen (build first with cmake).
# The files are deterministic: the same command gives the same bytes.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
gen=${1:-$here/../build/tools/quorvex_gen}
"$gen" -subjects 500 -variants 600 -genes 40 -trait binary -covariates 2 -missing 0.01 \
  -mapcols 2 -weights 2 -causal 4 -effect 1.5 -seed 20261210 -out "$here"
