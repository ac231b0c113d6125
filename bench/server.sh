# Sourced by bench/run.sh and bench/outside.sh: a PostgreSQL server for the benchmarks and the shops in it.
#
# bench_server BUILD_DIR: sets $pg to a postgresql:// URI of a role that may create databases: $VELMORA_BENCH_PG
# when set, or else a private server started with scripts/pg-test-server.sh in BUILD_DIR/bench-pg on the port
# $VELMORA_PG_PORT (55446 unless set), stopped when the script ends (its databases go with it).
bench_server() {
    pg="${VELMORA_BENCH_PG:-}"
    [ -n "$pg" ] && return
    bench_pgdir="$(cd "$1" && pwd)/bench-pg"
    [ -d "$bench_pgdir" ] && scripts/pg-test-server.sh stop "$bench_pgdir"
    VELMORA_PG_PORT=${VELMORA_PG_PORT:-55446} scripts/pg-test-server.sh start "$bench_pgdir"
    trap 'scripts/pg-test-server.sh stop "$bench_pgdir"' EXIT
    pg=$(sed -n 's/^VELMORA_TEST_PG=//p' "$bench_pgdir/env")
}

# bench_load NAME FILE: FILE's shop as the server database NAME (velmora-bench-generate --load), made once and
# named only once complete; prints the database's URI.
bench_load() {
    local name="$1" file="$2"
    if [ -z "$(psql "$pg" -tAc "SELECT 1 FROM pg_database WHERE datname = '$name'")" ]; then
        psql "$pg" -q -c "DROP DATABASE IF EXISTS ${name}_part" -c "CREATE DATABASE ${name}_part"
        "$bin/velmora-bench-generate" --load "$file" "${pg%/*}/${name}_part" >&2
        psql "$pg" -q -c "ALTER DATABASE ${name}_part RENAME TO $name"
    fi
    echo "${pg%/*}/$name"
}
