#!/usr/bin/env bash
# Renders the configurator's windows under Xvfb to PNG files in build/screenshots/: the main window in both
# languages, with and without the maker-level switch, under a dark palette, on a 1024x768 screen and at
# twice the scale on a 1280x800 one, the firmware-mismatch dialog, the service pages walked against a live
# simulator, the added tools (trend, traffic monitor, recording, backup dialogs) against one, the
# simulator unplugged and plugged back in, and the calibration records with a certificate.
set -euo pipefail
dir=${1:-build/release}
# The main window as vx2207-config starts it, in a program of its own that grabs it.
tour="$dir/app/vx_window_tour"
out=build/screenshots
# A sanitizer build also works; leaks inside the X libraries are none of ours.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --build "$dir" --target vx_window_tour >/dev/null
shot() { # language, name, tour options and program arguments...
    local language=$1 name=$2
    shift 2
    xvfb-run -a -s "-screen 0 ${SCREEN:-1280x800}x24" "$tour" --language "$language" --shot "$out/$name.png" "$@"
    echo "$out/$name.png"
}

shot english main-english
shot magyar main-magyar
shot english main-english-maker /QARNEL
shot magyar main-magyar-maker /qarnel
pages=(settings input-calibration output-calibration output-check test)
for i in 1 2 3 4; do
    shot english "page-${pages[$i]}-english" --page $i /QARNEL
    shot magyar "page-${pages[$i]}-magyar" --page $i /QARNEL
done
# A dark desktop theme.
shot english main-english-maker-dark --dark /QARNEL
shot magyar main-magyar-dark --dark
shot english page-output-calibration-english-dark --dark --page 2 /QARNEL
# Screens smaller than the window: it opens on the screen and the client area scrolls.
SCREEN=1024x768 shot english main-english-maker-1024x768 /QARNEL
SCREEN=1280x800 QT_SCALE_FACTOR=2 shot english main-english-maker-1280x800-2x /QARNEL
SCREEN=2560x1600 QT_SCALE_FACTOR=2 shot english main-english-maker-2x /QARNEL
for language in english magyar; do
    xvfb-run -a -s "-screen 0 1280x800x24" "$tour" --language "$language" --dialog "$out/dialog-$language.png"
    echo "$out/dialog-$language.png"
done

cmake --build "$dir" --target vx_service_tour vx_reconnect_tour vx_tools_tour vx2207-sim >/dev/null
for language in english magyar; do
    xvfb-run -a -s "-screen 0 1280x800x24" "$dir/app/vx_service_tour" "$dir/sim/vx2207-sim" "$out" "$language"
    # The trend, the traffic monitor, the recording indicator and the backup's dialogs.
    xvfb-run -a -s "-screen 0 1280x800x24" "$dir/app/vx_tools_tour" "$dir/sim/vx2207-sim" "$out" "$language"
done
# The instrument unplugged and plugged back in: polling, waiting for it, reconnected.
xvfb-run -a -s "-screen 0 1280x800x24" "$dir/app/vx_reconnect_tour" "$dir/sim/vx2207-sim" "$out"
# Calibration records: the record and history windows, and page 1 of a certificate in each language.
cmake --build "$dir" --target vx_records_tour >/dev/null
for language in english magyar; do
    xvfb-run -a -s "-screen 0 1280x800x24" "$dir/app/vx_records_tour" "$out" "$language"
    pdftoppm -png -r 100 -f 1 -l 1 -singlefile "$out/certificate-$language.pdf" "$out/certificate-$language-page1"
    echo "$out/certificate-$language-page1.png" "$out/records-run-$language.png" "$out/records-history-$language.png"
done
# The demo instrument with its banner (its simulator found on PATH as an installed one would be beside
# the program), and the panel on a network port (the simulator listening on TCP itself) after a second
# of polling, when the round trip is shown.
PATH="$dir/sim:$PATH" shot english demo-english --replies 5 --port demo://V
PATH="$dir/sim:$PATH" shot magyar demo-magyar --replies 5 --port demo://M
"$dir/sim/vx2207-sim" --tcp 0 >"$work/sim-address" &
sim=$!
for _ in $(seq 50); do [ -s "$work/sim-address" ] && break; sleep 0.1; done
shot english network-port-english --replies 40 --port "$(head -1 "$work/sim-address")"
kill "$sim"
wait "$sim" || true
