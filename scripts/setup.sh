#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and the demo need.
# Does nothing when they are all present; uses sudo unless already root. Also generates the Hungarian
# locale, so the tests of numbers on a decimal-comma desktop run under the real C library locale.
set -euo pipefail

packages=(
    cmake ninja-build g++ make pkg-config
    qt6-base-dev qt6-serialport-dev qt6-qpa-plugins libgl-dev
    libgtest-dev libgmock-dev googletest libbenchmark-dev
    clang libclang-rt-14-dev
    xvfb xauth fonts-liberation fonts-dejavu-core
    locales
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
has_locale() { locale -a 2>/dev/null | grep -qix 'hu_HU\.utf-\?8'; }
[ ${#missing[@]} -eq 0 ] && has_locale && exit 0

if [ "$(id -u)" -eq 0 ]; then
    as_root=()
else
    as_root=(sudo)
fi
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    "${as_root[@]}" apt-get update -q
    "${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
if ! has_locale; then
    echo "Generating the hu_HU.UTF-8 locale"
    if grep -q '^# *hu_HU.UTF-8 UTF-8' /etc/locale.gen; then
        "${as_root[@]}" sed -i 's/^# *\(hu_HU.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    elif ! grep -q '^hu_HU.UTF-8 UTF-8' /etc/locale.gen; then
        echo 'hu_HU.UTF-8 UTF-8' | "${as_root[@]}" tee -a /etc/locale.gen >/dev/null
    fi
    "${as_root[@]}" locale-gen
fi
