#!/usr/bin/env bash
# Runs every benchmark executable of a benchmark build; figures are medians over repetitions.
set -euo pipefail
dir=${1:-build/bench}
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
status=0
for b in $(find "$dir/bench" -type f -executable -name 'bench_*' | sort); do
    echo "== $(basename "$b")"
    "$b" --benchmark_repetitions=9 --benchmark_report_aggregates_only=true || status=1
done
exit $status
