#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test through CTest; then
# builds the suite again with AddressSanitizer and UndefinedBehaviorSanitizer
# and runs it once more. Any failure or sanitizer finding fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)

# A private PostgreSQL server on the loopback address for both passes, so that the data layer's and the
# sign-on's cases run against the server as well as against a file; stopped however the run ends.
pgdir=$(mktemp -d "${TMPDIR:-/tmp}/velmora-pg.XXXXXX")
root=$PWD
trap '"$root/scripts/pg-test-server.sh" stop "$pgdir"' EXIT
"$root/scripts/pg-test-server.sh" start "$pgdir"
export "$(cat "$pgdir/env")"

scripts/build.sh build
(cd build && ctest --output-on-failure --parallel "$jobs")

# Benchmarks are not tests; the sanitizer build leaves them out.
scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DVELMORA_SANITIZE=ON -DVELMORA_BENCH=OFF
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1
export LSAN_OPTIONS=suppressions=$PWD/scripts/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd build-asan && ctest --output-on-failure --parallel "$jobs")
