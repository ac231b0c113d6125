#!/usr/bin/env bash
# Makes the demo database BIN_DIR/data/velmdb.mdb when there is none: the
# twelve tables, the database password the default settings use, and two
# operators. An existing database is left alone.
set -euo pipefail
if [ $# -ne 1 ]; then
    echo "usage: $0 BIN_DIR" >&2
    exit 2
fi
bin="$1"
tool="$bin/velmora-db"
db="$bin/data/velmdb.mdb"
password="mivotelq"
if [ ! -x "$tool" ]; then
    echo "$0: $tool not found; build first" >&2
    exit 1
fi
if [ -e "$db" ]; then
    echo "Demo database $db exists; left as it is."
    exit 0
fi
mkdir -p "$bin/data"
if ! {
    "$tool" create "$db" --password "$password" &&
        "$tool" add-operator "$db" --db-password "$password" --username admin --userid 1 --password 1234 --groups all \
            --allow-weak &&
        "$tool" add-operator "$db" --db-password "$password" --username clerk --userid 2 --password 5678 --groups 0,1
}; then
    rm -f "$db" "$db-wal" "$db-shm"
    echo "$0: could not make the demo database" >&2
    exit 1
fi
echo "Demo operators (passwords: admin 1234, clerk 5678):"
"$tool" list-operators "$db" --db-password "$password"
