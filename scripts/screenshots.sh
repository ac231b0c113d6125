#!/usr/bin/env bash
# Takes the screenshots in docs/screenshots from the real program on an X
# server of its own (Xvfb with openbox, and Xvfb bare for the main window). The build folder (default: build) must
# already hold velmora, velmora-db and velmora-screenshots.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
program="$dir/bin/velmora-screenshots"
if [ ! -x "$program" ]; then
    echo "$program is missing: build the target velmora-screenshots first" >&2
    exit 1
fi
mkdir -p docs/screenshots
"$program" docs/screenshots
