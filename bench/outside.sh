#!/usr/bin/env bash
# The start-up as a user meets it, measured from outside, for the file and for the server: the real start-up
# (velmora-bench-startup: the program's own start-up, offscreen, stopping where the login dialog is shown) on
# the large shop and on the demo shop, and a bare client of the engine (velmora-bench-read: sqlite3's C API for
# the file, libpq in single-row mode for the server) reading the same six tables. Prints, for each backend:
#
#   time:   (program's large - demo) / (bare client's large - demo), each the best of N runs, from the
#           moment the process is started to the login dialog (the program) or to its end (the client);
#   memory: (program's peak resident large - demo) / (the values' bytes large - demo), best of N runs, and
#           the bare client's own peak growth beside it.
#
#   bench/outside.sh [BUILD_DIR] [--runs N] [--no-server]
#
# Run bench/run.sh BUILD_DIR first: it makes the databases (BUILD_DIR/bench-data). The server is the one
# bench/server.sh provides ($VELMORA_BENCH_PG, or a private one on $VELMORA_PG_PORT, default 55446).
set -euo pipefail
cd "$(dirname "$0")/.."

build=build
runs=5
server=1
while [ $# -gt 0 ]; do
    case "$1" in
    --runs) runs="$2"; shift ;;
    --no-server) server=0 ;;
    -*) echo "usage: $0 [BUILD_DIR] [--runs N] [--no-server]" >&2; exit 2 ;;
    *) build="$1" ;;
    esac
    shift
done
bin="$build/bin"
data="${VELMORA_BENCH_DATA:-$build/bench-data}"
password=mivotelq
large=$(ls "$data"/shop-d100000-s1000000-l200000-o1000.mdb 2>/dev/null || ls "$data"/shop-*.mdb | head -n 1)
demo="$data/demo/data/velmdb.mdb"
[ -e "$large" ] && [ -e "$demo" ] || { echo "$0: run bench/run.sh $build first" >&2; exit 1; }
cmake --build "$build" --target velmora-bench-startup velmora-bench-read velmora-bench-generate --parallel 2 >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen

# program NAME SOURCE USER PASSWORD: the start-up's folder (its own copy and DBConn.ini).
program() {
    mkdir -p "$work/$1"
    cp "$bin/velmora-bench-startup" "$work/$1/"
    printf '[Velmora]\nDB_Source=%s\nDB_User=%s\nDB_Password=%s\n' "$2" "$3" "$4" >"$work/$1/DBConn.ini"
    chmod 600 "$work/$1/DBConn.ini"
}

# once COMMAND...: one run; prints "MS PEAK_KB" (to the login dialog's stamp when there is one, else to the end).
once() {
    local started ended kb
    started=$EPOCHREALTIME
    /usr/bin/time -f "%M" -o "$work/rss" "$@" >"$work/out" 2>"$work/err" || {
        cat "$work/out" "$work/err" >&2
        return 1
    }
    ended=$EPOCHREALTIME
    grep -q '^box ' "$work/out" && { echo "$0: a message box: $(grep '^box ' "$work/out")" >&2; return 1; }
    local at
    at=$(awk '$1 == "stamp" && $2 == "login-dialog" { print $4; exit }' "$work/out")
    kb=$(tail -n 1 "$work/rss")
    if [ -n "$at" ]; then
        awk -v s="$started" -v a="$at" -v kb="$kb" 'BEGIN { printf "%.1f %d\n", (a / 1e9 - s) * 1000, kb }'
    else
        awk -v s="$started" -v e="$ended" -v kb="$kb" 'BEGIN { printf "%.1f %d\n", (e - s) * 1000, kb }'
    fi
}

# best COMMAND...: one untimed run (page cache), then the least time and the least peak of $runs runs.
best() {
    once "$@" >/dev/null
    local i line t=1e18 kb=1e18
    for ((i = 0; i < runs; i++)); do
        line=$(once "$@")
        t=$(awk -v a="$t" -v b="${line% *}" 'BEGIN { print (b < a ? b : a) }')
        kb=$(awk -v a="$kb" -v b="${line#* }" 'BEGIN { print (b < a ? b : a) }')
    done
    echo "$t $kb"
}

# measure LABEL LARGE DEMO USER PASSWORD [CLIENT_LARGE CLIENT_DEMO]: the sources as the settings name them, and
# as the bare client opens them (the same unless given).
measure() {
    local label="$1" user="$4" pw="$5" largeSource="${6:-$2}" demoSource="${7:-$3}"
    program "$label-large" "$2" "$user" "$pw"
    program "$label-demo" "$3" "$user" "$pw"
    echo "$label: load $(cut -d' ' -f1-3 /proc/loadavg) at $(date -u '+%H:%M:%S UTC')"
    local pl pd rl rd bl bd
    pl=$(best "$work/$label-large/velmora-bench-startup")
    pd=$(best "$work/$label-demo/velmora-bench-startup")
    rl=$(best "$bin/velmora-bench-read" "$largeSource")
    "$bin/velmora-bench-read" "$largeSource" >"$work/bytes-large"
    rd=$(best "$bin/velmora-bench-read" "$demoSource")
    "$bin/velmora-bench-read" "$demoSource" >"$work/bytes-demo"
    bl=$(awk '$1 == "value-bytes" { print $2 }' "$work/bytes-large")
    bd=$(awk '$1 == "value-bytes" { print $2 }' "$work/bytes-demo")
    awk -v l="$label" -v pl="$pl" -v pd="$pd" -v rl="$rl" -v rd="$rd" -v bl="$bl" -v bd="$bd" 'BEGIN {
        split(pl, a, " "); split(pd, b, " "); split(rl, c, " "); split(rd, d, " ")
        gp = a[1] - b[1]; gr = c[1] - d[1]
        mp = (a[2] - b[2]) * 1024; mr = (c[2] - d[2]) * 1024; v = bl - bd
        printf "  program to the login dialog: large %.1f ms, demo %.1f ms; growth %.1f ms\n", a[1], b[1], gp
        printf "  bare client reading the six: large %.1f ms, demo %.1f ms; growth %.1f ms\n", c[1], d[1], gr
        printf "  time:   %.2fx the floor'\''s growth (goal <= 1.2)\n", gp / gr
        printf "  memory: peak growth %.1f MiB over %.1f MiB of values = %.2fx (goal <= 1.5); bare client %.1f MiB = %.2fx\n",
            mp / 1048576, v / 1048576, mp / v, mr / 1048576, mr / v
        printf "  (peaks: program large %.1f MiB, demo %.1f MiB; client large %.1f MiB, demo %.1f MiB)\n",
            a[2] / 1024, b[2] / 1024, c[2] / 1024, d[2] / 1024
    }'
}

echo "Machine: $(nproc) cores; best of $runs runs; $(date -u '+%Y-%m-%d %H:%M UTC')"
measure file "$(cd "$(dirname "$large")" && pwd)/$(basename "$large")" "$(cd "$(dirname "$demo")" && pwd)/velmdb.mdb" \
    admin "$password"
if [ "$server" = 1 ]; then
    . bench/server.sh
    bench_server "$build"
    largeUri=$(bench_load "$(basename "$large" .mdb | tr 'A-Z-' 'a-z_')" "$large")
    demoUri=$(bench_load demo "$demo")
    # The role and its password as the settings name them; the URI keeps only the server and database.
    role=$(echo "$pg" | sed -E 's|^postgresql://([^:]*):.*|\1|')
    rolePassword=$(echo "$pg" | sed -E 's|^postgresql://[^:]*:([^@]*)@.*|\1|')
    hostPart=$(echo "$pg" | sed -E 's|^postgresql://[^@]*@||; s|/[^/]*$||')
    measure server "postgresql://$hostPart/${largeUri##*/}" "postgresql://$hostPart/${demoUri##*/}" "$role" \
        "$rolePassword" "$largeUri" "$demoUri"
fi
