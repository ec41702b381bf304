#!/usr/bin/env bash
# Redraws the icon's PNG sizes from packaging/icons/vx2207-config.svg; run by hand after changing the SVG
# and commit the result (scripts/setup.sh icons installs the renderer).
set -euo pipefail
cd "$(dirname "$0")/../packaging/icons"
for size in 16 22 24 32 48 64 128 256; do
    rsvg-convert -w "$size" -h "$size" vx2207-config.svg -o "vx2207-config-$size.png"
done
