#!/usr/bin/env bash
# Runs the benchmarks and prints their rows for bench/RESULTS.md (measured
# side by side in one run; figures are ratios against the named reference).
# Environment: BUILD (build folder), BENCH_DIR (generated inputs), RUNS.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
echo "| benchmark | satchel | reference | ratio | target |"
echo "|---|---|---|---|---|"
"$here/index_bench.sh"
"$here/extract_bench.sh"
