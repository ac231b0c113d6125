#!/usr/bin/env bash
# Takes the screenshots in docs/screenshots on a virtual X server (Xvfb :99).
# The build folder (default: build) must already hold velmora-screenshots.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
program="$dir/bin/velmora-screenshots"
if [ ! -x "$program" ]; then
    echo "$program is missing: build the target velmora-screenshots first" >&2
    exit 1
fi

display=:99
if [ -e /tmp/.X99-lock ]; then
    echo "display $display is in use (/tmp/.X99-lock)" >&2
    exit 1
fi
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null || true; wait "$xvfb" 2>/dev/null || true' EXIT
for _ in $(seq 100); do
    [ -S /tmp/.X11-unix/X99 ] && break
    kill -0 "$xvfb" 2>/dev/null || { echo "Xvfb did not start" >&2; exit 1; }
    sleep 0.1
done

mkdir -p docs/screenshots
DISPLAY="$display" QT_QPA_PLATFORM=xcb "$program" docs/screenshots
