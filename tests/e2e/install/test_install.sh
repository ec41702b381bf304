#!/usr/bin/env bash
# The installed tree as a user meets it: `cmake --install` into a prefix under the build folder, then the
# installed programs' command line without a display, the desktop files, and where the settings go.
# Usage: test_install.sh BUILD_DIR VERSION APP_ID
set -uo pipefail
build=$1 version=$2 id=$3
root=$build/install-test
prefix=$root/prefix
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

rm -rf "$root"
mkdir -p "$root"
cmake --install "$build" --prefix "$prefix" >"$root/install.log" || { cat "$root/install.log"; exit 1; }

for f in bin/vx2207-config bin/vx2207-sim share/applications/$id.desktop share/metainfo/$id.metainfo.xml \
    share/icons/hicolor/scalable/apps/vx2207-config.svg share/icons/hicolor/16x16/apps/vx2207-config.png \
    share/icons/hicolor/256x256/apps/vx2207-config.png share/man/man1/vx2207-config.1.gz \
    share/man/man1/vx2207-sim.1.gz share/doc/vx2207/copyright bin/vx2207-cli share/man/man1/vx2207-cli.1.gz \
    share/bash-completion/completions/vx2207-cli; do
    [ -f "$prefix/$f" ] || fail "$f is not installed"
done
# The command-line tool runs where there is no display at all: Qt Core only. A certificate's PDF comes
# from its module, which the installed tool finds and loads for the certificate command.
ldd "$prefix/bin/vx2207-cli" | grep -E 'libQt6(Gui|Widgets)' && fail "vx2207-cli links a GUI library"
libdir=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:[A-Z]*=//p' "$build/CMakeCache.txt")
module="$prefix/$libdir/vx2207/vx2207-certificate-pdf.so"
[ -f "$module" ] || fail "$module is not installed"
ldd "$module" | grep 'not found' && fail "the PDF module lacks a library"
LD_DEBUG=files "$prefix/bin/vx2207-cli" certificate 1 --history "$root/none.sqlite" >/dev/null 2>"$root/cli.err"
status=$?
[ $status -eq 2 ] && grep -q "file=$module .*dynamically loaded" "$root/cli.err" ||
    fail "the installed vx2207-cli does not load $module: status $status, $(grep -v '^ *[0-9]*:' "$root/cli.err")"
bash -n "$prefix/share/bash-completion/completions/vx2207-cli" || fail "the bash completion does not parse"

# The X11 platform without a display aborts the program the moment it opens one: --help and --version
# must answer before that, and an unknown option must be refused before it as well.
config="$prefix/bin/vx2207-config"
nodisplay=(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb)
out=$("${nodisplay[@]}" "$config" --version 2>"$root/err")
status=$?
[ $status -eq 0 ] && [ "$out" = "vx2207-config $version" ] || fail "--version: status $status, '$out' $(cat "$root/err")"
out=$("${nodisplay[@]}" "$config" --help 2>"$root/err")
status=$?
[ $status -eq 0 ] && [[ $out == *"Usage: vx2207-config [options]"* ]] && [[ $out == *"--version"* ]] ||
    fail "--help: status $status, '$out' $(cat "$root/err")"
for bad in --frobnicate -x "-style"; do
    out=$("${nodisplay[@]}" "$config" /QARNEL "$bad" 2>&1 >/dev/null)
    status=$?
    [ $status -eq 2 ] && [[ $out == *"vx2207-config: "*"Usage: vx2207-config"* ]] ||
        fail "$bad: status $status, '$out'"
done

desktop-file-validate "$prefix/share/applications/$id.desktop" || fail "desktop entry does not validate"
appstreamcli validate --no-net --strict "$prefix/share/metainfo/$id.metainfo.xml" >"$root/appstream.log" ||
    fail "metainfo does not validate: $(cat "$root/appstream.log")"
grep -q "<release version=\"$version\"" "$prefix/share/metainfo/$id.metainfo.xml" || fail "metainfo lacks release $version"

# The program as a user starts it, with the demo instrument (its simulator installed beside it, or on
# PATH): it shows the window and polls; the end a logout or kill asks for (SIGTERM) closes it as its
# window's close does, writing the settings: the installed program into the user's configuration folder,
# a copy outside any installed tree (as in the build folder) beside itself.
home=$root/home
mkdir -p -m 700 "$home/runtime"
run() {
    env -u DISPLAY -u WAYLAND_DISPLAY HOME="$home" XDG_CONFIG_HOME="$home/config" \
        XDG_RUNTIME_DIR="$home/runtime" QT_QPA_PLATFORM=offscreen PATH="$prefix/bin:$PATH" \
        "$1" --verbose --demo 2>"$root/trace" &
    local pid=$! polled=
    for _ in $(seq 200); do
        grep -q 'vx.link outcome: OK, attempt [1-9]' "$root/trace" && polled=1 && break
        kill -0 $pid 2>/dev/null || break
        sleep 0.1
    done
    [ -n "$polled" ] || echo "no good reply from the demo: $(tail -c 1000 "$root/trace")" >&2
    kill -TERM $pid 2>/dev/null
    wait $pid
    local status=$?
    [ -n "$polled" ] && [ $status -eq 0 ]
}
run "$config" || fail "the installed program did not start, poll and end cleanly"
[ -f "$home/config/vx2207-config.ini" ] || fail "installed: no $home/config/vx2207-config.ini"
[ ! -e "$prefix/bin/vx2207-config.ini" ] || fail "installed: wrote beside the executable"
rm -f "$home/config/vx2207-config.ini"
mkdir -p "$root/loose"
ln -f "$build/app/vx2207-config" "$root/loose/vx2207-config" 2>/dev/null ||
    cp "$build/app/vx2207-config" "$root/loose/vx2207-config"
run "$root/loose/vx2207-config" || fail "the loose copy did not start, poll and end cleanly"
[ -f "$root/loose/vx2207-config.ini" ] || fail "not installed: no settings file beside the executable"
[ ! -e "$home/config/vx2207-config.ini" ] || fail "not installed: wrote into the configuration folder"

[ $failures -eq 0 ] && echo "installed tree: all checks passed"
exit $((failures > 0))
