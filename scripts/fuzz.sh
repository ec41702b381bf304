#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for a bounded time each.
set -euo pipefail
dir=${1:-build/fuzz}
seconds=${2:-60}
status=0
for f in $(find "$dir/fuzz" -maxdepth 1 -type f -executable -name 'fuzz_*' | sort); do
    name=$(basename "$f")
    corpus="$dir/corpus/$name"
    mkdir -p "$corpus"
    seeds=()
    [ -d "fuzz/seeds/$name" ] && seeds=("fuzz/seeds/$name")
    echo "== $name for ${seconds}s"
    "$f" -max_total_time="$seconds" -print_final_stats=1 "$corpus" "${seeds[@]}" || status=1
done
exit $status
