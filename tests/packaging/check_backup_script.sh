#!/usr/bin/env bash
# The daily backup (packaging/velmora-backup) with the built velmora-db beside it, as the timer runs it, its folders
# set in a configuration file of the test's own: copies kept by the time they were made, the new one always, also
# when the names of older ones run ahead of the clock; a second destination; a failed run that ends with status 1
# and leaves its line for the next sign-on, and a good one that takes it away; and, with the test server
# (VELMORA_TEST_PG), the server's database that the settings name, dumped beside the file's copies.
#   check_backup_script.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)
source=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/velmora-backup-script.XXXXXX")
database=
cleanup() {
    if [ -n "$database" ]; then
        psql "$VELMORA_TEST_PG" -q -c "DROP DATABASE IF EXISTS $database" >/dev/null 2>&1 || true
    fi
    chmod -R u+w "$work" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

mkdir -p "$work/bin" "$work/shop/data" "$work/backups"
cp "$source/packaging/velmora-backup" "$work/bin/"
ln -s "$build/bin/velmora-db" "$work/bin/velmora-db"
shop=$work/shop/data/velmdb.mdb
backups=$work/backups
status=$work/shop/data/velmora-backup.failed
config=$work/backup.conf
cat >"$config" <<EOF
BACKUP_FOLDER=$backups
SETTINGS=$work/shop/DBConn.ini
STATUS_FILE=$status
EOF
export VELMORA_BACKUP_CONFIG=$config
"$work/bin/velmora-db" create "$shop" >/dev/null

copies() { # FOLDER: the copies of velmdb, oldest first by the time they were made
    find "$1" -maxdepth 1 -name 'velmdb-*.mdb' -printf '%T@ %f\n' | sort -n | cut -d' ' -f2
}

# Fourteen copies named as if made in 2099 (a clock that once ran ahead), yet made in the last fourteen days.
for day in $(seq 1 14); do
    name=velmdb-209901$(printf %02d "$day")-020000.mdb
    cp "$shop" "$backups/$name"
    touch -d "$((15 - day)) days ago" "$backups/$name"
done
echo "not a copy" >"$backups/notes.txt"
"$work/bin/velmora-backup" "$shop" >"$work/run1.log" 2>&1 || fail "the backup failed: $(cat "$work/run1.log")"
mapfile -t kept < <(copies "$backups")
[ "${#kept[@]}" = 14 ] || fail "${#kept[@]} copies kept instead of 14: ${kept[*]}"
newest=${kept[13]:-}
case "$newest" in
velmdb-2099*) fail "the new copy was removed; kept: ${kept[*]}" ;;
velmdb-20[0-9][0-9][0-9][0-9][0-9][0-9]-[0-9][0-9][0-9][0-9][0-9][0-9].mdb) ;;
*) fail "no new copy: ${kept[*]}" ;;
esac
[ "${kept[0]:-}" = velmdb-20990102-020000.mdb ] || fail "the copy made first was not the one removed: ${kept[*]}"
[ -f "$backups/notes.txt" ] || fail "velmora-backup removed a file that is no copy"
[ -e "$status" ] && fail "a good run left $status"
[ -n "$newest" ] && { "$work/bin/velmora-db" list-operators "$backups/$newest" >/dev/null ||
    fail "the new copy $newest does not open"; }
[ -n "$newest" ] && { [ "$(stat -c %a "$backups/$newest")" = "$(stat -c %a "$shop")" ] ||
    fail "the new copy is $(stat -c %a "$backups/$newest"), the database $(stat -c %a "$shop")"; }

# A second destination: every new copy there as well, kept by the same rule.
second=$work/removable/velmora
echo "SECOND_DESTINATION=$second" >>"$config"
sleep 1 # a copy's name holds its second
"$work/bin/velmora-backup" "$shop" >"$work/run2.log" 2>&1 || fail "the backup to two places failed: $(cat "$work/run2.log")"
mapfile -t there < <(copies "$second")
mapfile -t here < <(copies "$backups")
[ "${#there[@]}" = 1 ] && [ "${there[0]}" = "${here[13]}" ] || fail "the second destination holds ${there[*]}, not ${here[13]}"
cmp -s "$second/${there[0]}" "$backups/${here[13]}" || fail "the second copy differs from the first"

# The second destination gone (a disk not plugged in): the run fails, says so where the program reads it, and
# still makes its first copy.
rm -rf "$second"
mkdir -p "$(dirname "$second")"
echo "a file where the folder should be" >"$second"
sleep 1
if "$work/bin/velmora-backup" "$shop" >"$work/run3.log" 2>&1; then
    fail "a run that could not write the second destination succeeded"
fi
[ "$(copies "$backups" | tail -n 1)" != "${here[13]}" ] || fail "no first copy was made when the second failed"
if [ -f "$status" ]; then
    IFS=$'\t' read -r failed lastGood why <"$status"
    [[ $failed =~ ^[0-9]{4}-[0-9]{2}-[0-9]{2}\ [0-9]{2}:[0-9]{2}$ ]] || fail "the line's time is '$failed'"
    [[ $lastGood =~ ^[0-9]{4}-[0-9]{2}-[0-9]{2}\ [0-9]{2}:[0-9]{2}$ ]] || fail "the newest good copy's time is '$lastGood'"
    grep -q "$second" <<<"$why" || fail "the line does not say what failed: $why"
    [ "$(wc -l <"$status")" = 1 ] || fail "$status holds more than one line"
else
    fail "a failed run left no $status"
fi
# Mended: the next good run takes the line away.
rm -f "$second"
sleep 1
"$work/bin/velmora-backup" "$shop" >"$work/run4.log" 2>&1 || fail "the mended run failed: $(cat "$work/run4.log")"
[ -e "$status" ] && fail "a good run after a failed one left $status"

# A database that cannot be copied fails the run the same way.
sleep 1
echo "not a database" >"$work/shop/data/broken.mdb"
if "$work/bin/velmora-backup" "$work/shop/data/broken.mdb" >"$work/run5.log" 2>&1; then
    fail "a run that could not copy its database succeeded"
fi
[ -f "$status" ] || fail "a run that could not copy its database left no $status"
rm -f "$status"

# The server the settings name: dumped with its role and password from DBConn.ini, beside the file's copies.
if [ -n "${VELMORA_TEST_PG:-}" ] && command -v psql >/dev/null; then
    database=velmora_backup_script_$$
    psql "$VELMORA_TEST_PG" -q -c "CREATE DATABASE $database" >/dev/null
    uri=$(sed -E "s#^postgresql://([^:]*):([^@]*)@([^/]*)/.*#postgresql://\3/$database#" <<<"$VELMORA_TEST_PG")
    role=$(sed -E 's#^postgresql://([^:]*):.*#\1#' <<<"$VELMORA_TEST_PG")
    password=$(sed -E 's#^postgresql://[^:]*:([^@]*)@.*#\1#' <<<"$VELMORA_TEST_PG")
    "$work/bin/velmora-db" create "$uri" --db-user "$role" --db-password "$password" >/dev/null
    printf '[Velmora]\nDB_Source=%s\nDB_User=%s\nDB_Password=%s\n' "$uri" "$role" "$password" >"$work/shop/DBConn.ini"
    sleep 1
    "$work/bin/velmora-backup" "$shop" >"$work/run6.log" 2>&1 || fail "the server's backup failed: $(cat "$work/run6.log")"
    dump=$(find "$backups" -maxdepth 1 -name 'velmora-server-*.dump' | head -n 1)
    [ -n "$dump" ] || fail "no dump of the server: $(cat "$work/run6.log")"
    [ -n "$dump" ] && { [ "$(head -c 5 "$dump")" = PGDMP ] || fail "$dump is no pg_dump archive"; }
    grep -q "$password" "$work/run6.log" && fail "the run printed the role's password"
    # A password the environment holds for other velmora-db commands is no option given to this one.
    rm -f "$dump"
    sleep 1
    VELMORA_DB_PASSWORD=for-another-command "$work/bin/velmora-backup" "$shop" >"$work/run7.log" 2>&1 ||
        fail "the server's backup failed with VELMORA_DB_PASSWORD set: $(cat "$work/run7.log")"
    [ -n "$(find "$backups" -maxdepth 1 -name 'velmora-server-*.dump')" ] ||
        fail "no dump of the server with VELMORA_DB_PASSWORD set: $(cat "$work/run7.log")"
else
    echo "no test server (VELMORA_TEST_PG): the server's dump is not checked"
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "backup script checks passed"
