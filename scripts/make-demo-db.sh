#!/usr/bin/env bash
# Makes the demo database BIN_DIR/data/velmdb.mdb when there is none: the
# twelve tables, the database password the default settings use, and two
# operators. An existing database is left alone.
#
# A demo only: its administrator's password is 1234, what the login box is
# pre-filled with, stored on purpose with --allow-weak. Never set a real till
# up this way (see the README's "Installing on a till").
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
# The passwords go through the environment, never the command line (where ps shows them).
export VELMORA_DB_PASSWORD="$password"
if ! {
    "$tool" create "$db" &&
        VELMORA_OPERATOR_PASSWORD=1234 "$tool" add-operator "$db" --username admin --userid 1 --groups all \
            --allow-weak &&
        VELMORA_OPERATOR_PASSWORD=5678 "$tool" add-operator "$db" --username clerk --userid 2 --groups 0,1
}; then
    rm -f "$db" "$db-wal" "$db-shm"
    echo "$0: could not make the demo database" >&2
    exit 1
fi
echo "Demo operators (passwords: admin 1234, clerk 5678):"
"$tool" list-operators "$db"
echo "The demo administrator's password is 1234, the login box's pre-fill, stored with --allow-weak:"
echo "fine for trying the program, never for a real till."
