#!/usr/bin/env bash
# Installs the Debian 12 packages one purpose needs: scripts/setup.sh PURPOSE...
#   build    compile the two programs
#   run      build, then run them (`make run`, `make screenshots`: a display or Xvfb, the fonts)
#   test     build and run the tests (`make test`)
#   bench    the benchmarks          fuzz     the libFuzzer targets (clang)
#   package  the Debian package and its checks (`make package`)
#   icons    redraw the icon's PNG files from its SVG (by hand, scripts/icons.sh)
# Does nothing when they are all present; uses sudo unless already root.
set -euo pipefail

# One list per purpose; a purpose that needs another's list names it in `wants` below.
# ser2net is the serial device server the network-port tests poll through.
# Qt Charts draws the trend; its CMake files want Qt OpenGL, which its package does not pull in.
# The calibration history needs Qt SQL's SQLite driver, a plugin nothing links against.
build=(cmake ninja-build ccache g++ make pkg-config qt6-base-dev libqt6sql6-sqlite qt6-serialport-dev qt6-charts-dev libqt6opengl6-dev libgl-dev)
run=(qt6-qpa-plugins xvfb xauth poppler-utils fonts-liberation fonts-dejavu-core)
test=(libgtest-dev libgmock-dev googletest ser2net poppler-utils fonts-liberation fonts-dejavu-core desktop-file-utils appstream locales)
bench=(libbenchmark-dev ser2net)
fuzz=(clang libclang-rt-14-dev)
package=(dpkg-dev fakeroot file lintian desktop-file-utils appstream)
icons=(librsvg2-bin)

wants() {
    case $1 in
    run | test | bench | fuzz | package) echo build "$1" ;;
    build | icons) echo "$1" ;;
    *)
        echo "scripts/setup.sh: unknown purpose '$1' (build, run, test, bench, fuzz, package, icons)" >&2
        exit 2
        ;;
    esac
}

[ $# -gt 0 ] || set -- run test
packages=()
for purpose in "$@"; do
    for list in $(wants "$purpose"); do
        declare -n names=$list
        packages+=("${names[@]}")
    done
done

missing=()
for p in $(printf '%s\n' "${packages[@]}" | sort -u); do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
# The tests check numbers under a real decimal-comma C library locale, as on a Hungarian desktop.
need_locale=false
for purpose in "$@"; do [ "$purpose" = test ] && need_locale=true; done
has_locale() { ! $need_locale || locale -a 2>/dev/null | grep -qix 'hu_HU\.utf-\?8'; }
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
