#!/usr/bin/env bash
# The program's main job, run from a Release build directory.
set -euo pipefail
dir=${1:-build/release}
if [ -x "$dir/link/core/vx-link-demo" ]; then
    exec "$dir/link/core/vx-link-demo"
fi
echo "nothing to run yet in $dir" >&2
exit 1
