#!/usr/bin/env bash
# Installs what is missing, builds, makes the demo database when there is
# none, and starts Velmora.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh build
scripts/make-demo-db.sh build/bin
exec build/bin/velmora
