#!/usr/bin/env bash
# Builds the benchmark programs in an already configured build folder, makes the databases they read (kept
# for the next run) and runs every benchmark.
#
#   bench/run.sh [BUILD_DIR] [--quick] [--no-server] [-- velmora-bench options...]
#
# BUILD_DIR defaults to build. Figures mean something only from an optimised build:
#   cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release && bench/run.sh build-bench
# --quick uses small databases and few repetitions (a check that everything runs, not figures).
# The databases live in BUILD_DIR/bench-data, or in $VELMORA_BENCH_DATA when set.
#
# The server's copies of the same shops go into a PostgreSQL server: the one $VELMORA_BENCH_PG names (a
# postgresql:// URI of a role that may create databases), or else a private one this script starts with
# scripts/pg-test-server.sh in BUILD_DIR/bench-pg on the port $VELMORA_PG_PORT (55446 unless set) and stops at
# the end (its databases go with it; see bench/server.sh). --no-server measures the file only.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build
quick=0
server=1
extra=()
while [ $# -gt 0 ]; do
    case "$1" in
    --quick) quick=1 ;;
    --no-server) server=0 ;;
    --) shift; extra=("$@"); break ;;
    -*) echo "usage: $0 [BUILD_DIR] [--quick] [--no-server] [-- velmora-bench options]" >&2; exit 2 ;;
    *) build="$1" ;;
    esac
    shift
done

if [ ! -f "$build/CMakeCache.txt" ]; then
    echo "$0: $build is not a configured build folder; configure one first:" >&2
    echo "    cmake -S . -B $build -DCMAKE_BUILD_TYPE=Release" >&2
    exit 1
fi
type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build/CMakeCache.txt")
case "$type" in
Release | RelWithDebInfo) ;;
*) echo "$0: warning: build type '$type' is not optimised; the figures will not mean much" >&2 ;;
esac

cmake --build "$build" --target velmora-bench velmora-bench-generate velmora-bench-startup velmora-bench-read velmora-db \
    velmora-bench-shell --parallel "$(nproc)"

bin="$build/bin"
data="${VELMORA_BENCH_DATA:-$build/bench-data}"
mkdir -p "$data"
password=mivotelq

if [ "$quick" = 1 ]; then
    drugs=10000 stock=100000 logins=20000 operators=100
    runs=(--runs 3 --signons 50 --first-signons 5 --startup-runs 3)
else
    drugs=100000 stock=1000000 logins=200000 operators=1000
    runs=(--runs 5 --signons 200 --first-signons 20 --startup-runs 5)
fi

# generate FILE ARGS...: made once; a file is only named once it is complete.
generate() {
    local file="$1"
    shift
    if [ -e "$file" ]; then
        echo "Reusing $file"
        return
    fi
    rm -f "$file.part" "$file.part-wal" "$file.part-shm"
    "$bin/velmora-bench-generate" "$file.part" "$@" --seed 1 --password "$password"
    mv "$file.part" "$file"
}

large="$data/shop-d$drugs-s$stock-l$logins-o$operators.mdb"
small="$data/signon-l1000.mdb"
generate "$large" --drugs "$drugs" --stock "$stock" --logins "$logins" --operators "$operators"
generate "$small" --drugs 100 --stock 1000 --logins 1000 --operators 10

# The README's demo database, made by the project's own script.
demo="$data/demo"
if [ ! -e "$demo/data/velmdb.mdb" ]; then
    mkdir -p "$demo"
    ln -sf "$(cd "$bin" && pwd)/velmora-db" "$demo/velmora-db"
    scripts/make-demo-db.sh "$demo" >/dev/null
fi

server_args=()
if [ "$server" = 1 ]; then
    . bench/server.sh
    bench_server "$build"
    large_uri=$(bench_load "shop_d${drugs}_s${stock}_l${logins}_o${operators}" "$large")
    small_uri=$(bench_load signon_l1000 "$small")
    server_args=(--server "$large_uri" --signon-server "$small_uri")
fi

echo "Machine: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg); build type $type; $(date -u '+%Y-%m-%d %H:%M UTC')"
"$bin/velmora-bench" --db "$large" --signon-db "$small" --demo-db "$demo/data/velmdb.mdb" \
    --db-password "$password" "${server_args[@]}" "${runs[@]}" "${extra[@]}"

# The large shop once more with every operator's password hashed, as add-operator stores them; made once.
hashed="${large%.mdb}-hashed.mdb"
if [ ! -e "$hashed" ]; then
    cp "$large" "$hashed.part"
    "$bin/velmora-bench-shell" "$hashed.part" --db-password "$password" --runs 1 --hash-passwords >/dev/null
    mv "$hashed.part" "$hashed"
fi

echo
echo "用户管理 beside the sign-on's operator list"
"$bin/velmora-bench-shell" "$large" --db-password "$password"
"$bin/velmora-bench-shell" "$hashed" --db-password "$password"
if [ "$server" = 1 ]; then
    "$bin/velmora-bench-shell" "$large_uri"
fi
