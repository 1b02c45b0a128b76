#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds and starts the control panel. Without a box it runs on the simulated box
# (started here in demo mode unless one is already serving); --usb uses a real box.
# With no display the window runs under Xvfb and a screenshot is saved.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/deps.sh
install_deps

backend=sim
case "${1:-}" in
    --usb) backend=usb ;;
    "") ;;
    *) echo "usage: $0 [--usb]" >&2; exit 2 ;;
esac

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build -j "$(nproc)" --target LUMORA_GUI telmar-sim

bin=$PWD/build/bin
pids=()
cleanup() {
    local i
    # Last started first: the window goes before its X server.
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null || true
        wait "${pids[i]}" 2>/dev/null || true
    done
    if [ -n "${started_sim:-}" ]; then "$bin/telmar-sim" stop >/dev/null 2>&1 || true; fi
}
trap cleanup EXIT

if [ "$backend" = sim ]; then
    export TELMAR_USB_BACKEND=sim
    if ! "$bin/telmar-sim" status >/dev/null 2>&1; then
        "$bin/telmar-sim" serve --scenario "${TELMAR_SIM_SCENARIO:-demo}" >/dev/null &
        started_sim=1
        for _ in $(seq 50); do
            "$bin/telmar-sim" status >/dev/null 2>&1 && break
            sleep 0.1
        done
        echo "Simulated box started (drive it with: build/bin/telmar-sim scenario NAME, see README)"
    fi
else
    export TELMAR_USB_BACKEND=usb
fi

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    "$bin/LUMORA_GUI"
    exit $?
fi

# No display: run the window under a private Xvfb, take a screenshot, then close it.
# Xvfb picks a free display number and writes it to the file.
displayfile=$(mktemp)
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$displayfile" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ "$(wc -l <"$displayfile")" -ge 1 ] && break; sleep 0.1; done
number=$(tr -dc 0-9 <"$displayfile")
rm -f "$displayfile"
[ -n "$number" ] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$number
"$bin/LUMORA_GUI" &
gui=$!
pids+=($gui)
sleep "${TELMAR_RUN_SECONDS:-5}"
window=$(xwininfo -root -tree | awk '/"TELMAR GUI"/ {print $1; exit}')
import -window "${window:-root}" build/screenshot.png
echo "No display: the control panel ran under Xvfb; screenshot saved to $PWD/build/screenshot.png"
