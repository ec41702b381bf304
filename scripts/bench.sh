#!/usr/bin/env bash
# Runs every benchmark executable of a benchmark build; figures are medians over repetitions.
# bench_config measures the window as it paints, so it runs under Xvfb and prints its own table.
set -euo pipefail
dir=${1:-build/bench}
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
status=0
for b in $(find "$dir/bench" -type f -executable -name 'bench_*' | sort); do
    echo "== $(basename "$b")"
    if [ "$(basename "$b")" = bench_config ]; then
        QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x1024x24" "$b" || status=1
    else
        "$b" --benchmark_repetitions=9 --benchmark_report_aggregates_only=true || status=1
    fi
done
exit $status
