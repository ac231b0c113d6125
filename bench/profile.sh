#!/usr/bin/env bash
# Counts the instructions of one benchmark's work with callgrind (repeatable, unlike times on a shared machine)
# and prints where they go.
#
#   bench/profile.sh [BUILD_DIR] open     opening the six start-up datasets, and the floor's reading of them
#   bench/profile.sh [BUILD_DIR] signon   sign-ons on the open login table of bench/run.sh's large database
#   bench/profile.sh [BUILD_DIR] server-open   the same opening on a server (bench/server.sh), and libpq's floor
#
# Run bench/run.sh BUILD_DIR first (it makes the large database). Symbols read best from a build with -g, e.g.
#   cmake -B BUILD_DIR -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O3 -DNDEBUG -g"
set -euo pipefail
cd "$(dirname "$0")/.."

build=build
what=
for arg in "$@"; do
    case "$arg" in
    open | signon | server-open) what="$arg" ;;
    *) build="$arg" ;;
    esac
done
if [ -z "$what" ]; then
    echo "usage: $0 [BUILD_DIR] open|signon|server-open" >&2
    exit 2
fi
command -v valgrind >/dev/null || { echo "$0: needs valgrind" >&2; exit 1; }

bin="$build/bin"
data="${VELMORA_BENCH_DATA:-$build/bench-data}"
out="$data/profiles"
mkdir -p "$out"
export QT_QPA_PLATFORM=offscreen

# collect NAME TOGGLE ARGS...: one callgrind run counting only inside functions matching TOGGLE.
collect() {
    local name="$1" toggle="$2"
    shift 2
    valgrind --tool=callgrind --callgrind-out-file="$out/$name.out" --toggle-collect="$toggle" \
        "$bin/velmora-bench" "$@" 2>&1 | grep -E "Collected" | sed "s/^==[0-9]*== /$name: /"
    callgrind_annotate --inclusive=yes "$out/$name.out" 2>/dev/null | sed -n '/^Ir/,$p' | sed -n 3,30p | cut -c1-170
    echo
}

# A middle-sized shop: big enough for the rows to dominate, small enough for valgrind.
db="$data/profile-d2000-s20000-l5000-o50.mdb"
if [ "$what" != signon ] && [ ! -e "$db" ]; then
    "$bin/velmora-bench-generate" "$db.part" --drugs 2000 --stock 20000 --logins 5000 --operators 50 --seed 1 \
        --password mivotelq
    mv "$db.part" "$db"
fi

case "$what" in
open)
    # One round: Dataset::open runs once per dataset; the floor's readAll twice (once to count the values).
    collect open 'velmora::data::Dataset::open()' --db "$db" --runs 1 --only open
    collect floor '*readAll*' --db "$db" --runs 1 --only open
    echo "Dataset::open is counted once per dataset, the floor (readAll) twice: halve the floor's total."
    ;;
server-open)
    . bench/server.sh
    bench_server "$build"
    uri=$(bench_load profile_d2000_s20000_l5000_o50 "$db")
    collect server-open 'velmora::data::Dataset::open()' --server "$uri" --runs 1 --only open
    collect server-floor '*readAllServer*' --server "$uri" --runs 1 --only open
    echo "Dataset::open is counted once per dataset, the floor (readAllServer) twice: halve the floor's total."
    echo "Only this process is counted: the server's own work is the same for both."
    ;;
signon)
    db=$(ls "$data"/shop-*.mdb 2>/dev/null | head -n 1)
    [ -n "$db" ] || { echo "$0: no large database in $data; run bench/run.sh first" >&2; exit 1; }
    # Each measurement: 2 sign-ons right after opening and 1 repeated, with and without fsync.
    collect signon '*signOn(velmora::data::TDMod&)' --db "$db" --signons 1 --first-signons 2 --only signon
    ;;
esac
echo "Profiles in $out (callgrind_annotate or kcachegrind reads them)."
