#!/usr/bin/env bash
# The program's main job: the configurator against the simulated instrument. With a display the
# engineer works in the window (the simulator's port is in the link panel's list; press Open). Without
# one both run under Xvfb, the port is opened as a user would, and after the first good reply a
# screenshot is written. Extra arguments go to the configurator (e.g. /QARNEL); SIM_ARGS to the
# simulator.
set -euo pipefail
dir=${1:-build/release}
shift || true
sim="$dir/sim/vx2207-sim"
app="$dir/app/vx2207-config"
out="$(cd "$(dirname "$dir")" && pwd)/run"
mkdir -p "$out"
# Qt wants a private runtime folder; a headless machine may not have one.
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    export XDG_RUNTIME_DIR="$out/xdg-runtime"
    mkdir -p -m 700 "$XDG_RUNTIME_DIR"
fi
link="$out/vx2207-sim.tty"

# A calibrated instrument measuring a slow 4..20 mA sweep; its memory is kept between runs.
read -r -a sim_args <<< "${SIM_ARGS:---calibrated --signal sine:4:20:30}"
"$sim" --link "$link" --state "$out/vx2207-sim.state" "${sim_args[@]}" > "$out/vx2207-sim.out" &
sim_pid=$!
trap 'kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null || true' EXIT
for _ in $(seq 100); do [ -e "$link" ] && break; sleep 0.05; done
[ -e "$link" ] || { echo "vx2207-sim did not start" >&2; exit 1; }
echo "vx2207-sim runs on $(head -n 1 "$out/vx2207-sim.out") (linked as $link)"
export MB_EXTRA_PORTS="$link${MB_EXTRA_PORTS:+:$MB_EXTRA_PORTS}"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "Starting vx2207-config: pick $link on the link panel and press Open."
    "$app" "$@"
else
    shot="$out/configurator.png"
    rm -f "$shot"
    echo "No display: running under Xvfb, opening $link and waiting for the first good reply."
    # The window as vx2207-config starts it (its settings file too), in a program of its own that grabs it.
    cmake --build "$dir" --target vx_window_tour >/dev/null
    xvfb-run -a -s "-screen 0 1280x800x24" "$dir/app/vx_window_tour" --settings "$dir/app/vx2207-config.ini" \
        --shot "$shot" --port "$link" "$@"
    echo "Screenshot of the live window: $shot"
fi
