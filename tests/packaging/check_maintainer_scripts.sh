#!/usr/bin/env bash
# The package's maintainer scripts, run by dpkg itself in a throw-away root (dpkg --root with the scripts run
# outside a chroot and DPKG_ROOT set, as dpkg does for another root): install, install again over itself, upgrade
# from a version that kept its backups beside the database, remove and purge, with a shop's database and settings
# in place. After each step dpkg's record of the package says its scripts ended with status 0.
#   check_maintainer_scripts.sh PACKAGE.deb
# Runs under fakeroot, which fakes the owners the scripts give (root, the group velmora), and never as the real
# root: run by root, it runs itself as nobody, so that a script reaching past DPKG_ROOT fails on this machine's
# files instead of changing them. Without fakeroot it reports itself skipped (77).
set -euo pipefail
deb=$(readlink -f "${1:?usage: $0 PACKAGE.deb}")
if [ -z "${FAKEROOTKEY:-}" ]; then
    if ! command -v fakeroot >/dev/null; then
        echo "SKIP: no fakeroot to run the maintainer scripts under (scripts/install-deps.sh installs it)"
        exit 77
    fi
    if [ "$(id -u)" -ne 0 ]; then
        exec fakeroot -- bash "$0" "$deb"
    fi
    # The package and this script are copied where nobody can read them (a checkout under /root cannot be).
    outer=$(mktemp -d "${TMPDIR:-/tmp}/velmora-scripts.XXXXXX")
    trap 'rm -rf "$outer"' EXIT
    cp "$deb" "$outer/package.deb"
    cp "$0" "$outer/check.sh"
    chown -R nobody: "$outer"
    status=0
    setpriv --reuid=nobody --regid="$(id -g nobody)" --clear-groups env HOME="$outer" TMPDIR="$outer" \
        fakeroot -- bash "$outer/check.sh" "$outer/package.deb" || status=$?
    exit "$status"
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/velmora-root.XXXXXX")
trap 'rm -rf "$work"' EXIT
root=$work/root

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
in_dpkg() { # what dpkg says of a run, for the checks below
    dpkg --root="$root" --force-script-chrootless --force-depends --log=/dev/null "$@" >"$work/dpkg.log" 2>&1 || {
        cat "$work/dpkg.log" >&2
        return 1
    }
    cat "$work/dpkg.log"
}

# What dpkg's database in the root says of the package: "install ok installed" once every script of an install
# or upgrade ended with status 0, "deinstall ok config-files" after a remove whose scripts did, nothing after a
# purge. A script that failed leaves it half-installed or half-configured.
package_status() {
    dpkg-query --admindir="$root/var/lib/dpkg" --show --showformat='${Status}' velmora 2>/dev/null || true
}
expect_status() { # STEP STATUS
    local found
    found=$(package_status)
    [ "$found" = "$2" ] || fail "after $1 dpkg records the package as '$found', not '$2'"
    [ -z "$(dpkg --root="$root" --audit 2>&1)" ] || fail "after $1 dpkg --audit finds: $(dpkg --root="$root" --audit 2>&1)"
}

# A root with a dpkg database and the system's own accounts, nothing more.
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/triggers" "$root/etc"
touch "$root/var/lib/dpkg/status" "$root/var/lib/dpkg/available"
printf 'root:x:0:\n' >"$root/etc/group"
printf 'root:*::\n' >"$root/etc/gshadow"
printf 'root:x:0:0:root:/root:/bin/sh\n' >"$root/etc/passwd"
printf 'root:*:19000:0:99999:7:::\n' >"$root/etc/shadow"
chmod 640 "$root/etc/gshadow" "$root/etc/shadow"
cp /etc/login.defs "$root/etc/" 2>/dev/null || true

# Install.
in_dpkg --install "$deb" >"$work/install.log" || fail "dpkg --install failed"
expect_status install "install ok installed"
# Every file of the package in place.
while IFS= read -r path; do
    [ -e "$root$path" ] || [ -L "$root$path" ] || fail "the package's $path is not in the root"
done < <(dpkg-query --admindir="$root/var/lib/dpkg" --listfiles velmora)
grep -q '^velmora:' "$root/etc/group" || fail "no group velmora in the root's group file"
gid=$(awk -F: '$1 == "velmora" { print $3 }' "$root/etc/group")
expect_mode() { # PATH MODE: owned by root and the root's group velmora, with this mode
    local found
    found=$(stat -c '%a %u %g' "$root/$1" 2>&1)
    [ "$found" = "$2 0 $gid" ] || fail "/$1 is '$found', not '$2 0 $gid'"
}
expect_mode var/lib/velmora 2770
expect_mode var/lib/velmora/data 2770
expect_mode var/backups/velmora 2750
expect_mode var/lib/velmora/DBConn.ini 660
[ -L "$root/etc/systemd/system/timers.target.wants/velmora-backup.timer" ] || fail "the backup timer is not enabled"
[ -x "$root/usr/lib/velmora/velmora-db" ] || fail "no velmora-db installed"

# A shop at work: its settings, its database, and copies where earlier versions kept them.
tool=$root/usr/lib/velmora/velmora-db
printf '[Velmora]\nDB_Source=data/velmdb.mdb\n' >"$root/var/lib/velmora/DBConn.ini"
"$tool" create "$root/var/lib/velmora/data/velmdb.mdb" >/dev/null || fail "velmora-db create in the root"
mkdir -p "$root/var/lib/velmora/data/backup"
cp "$root/var/lib/velmora/data/velmdb.mdb" "$root/var/lib/velmora/data/backup/velmdb-20240101-020000.mdb"
touch -d '2024-01-01 02:00:00' "$root/var/lib/velmora/data/backup/velmdb-20240101-020000.mdb"
database=$(md5sum <"$root/var/lib/velmora/data/velmdb.mdb")

# Upgrade: the same package a version later.
version=$(dpkg-deb --field "$deb" Version)
dpkg-deb --raw-extract "$deb" "$work/next"
sed -i "s/^Version: .*/Version: $version.1/" "$work/next/DEBIAN/control"
dpkg-deb --root-owner-group --build "$work/next" "$work/next.deb" >/dev/null
in_dpkg --install "$work/next.deb" >"$work/upgrade.log" || fail "dpkg --install of the next version failed"
expect_status upgrade "install ok installed"
[ "$(dpkg-query --admindir="$root/var/lib/dpkg" --show --showformat='${Version}' velmora)" = "$version.1" ] ||
    fail "the upgrade did not install $version.1"
moved=$root/var/backups/velmora/velmdb-20240101-020000.mdb
[ -f "$moved" ] || fail "the earlier version's copy was not moved to /var/backups/velmora"
[ -f "$moved" ] && { [ "$(date -r "$moved" '+%Y-%m-%d %H:%M')" = '2024-01-01 02:00' ] || fail "the moved copy lost its time"; }
[ -e "$root/var/lib/velmora/data/backup" ] && fail "the old backup folder is still there"
[ "$(md5sum <"$root/var/lib/velmora/data/velmdb.mdb")" = "$database" ] || fail "the upgrade changed the database"
grep -q 'DB_Source=data/velmdb.mdb' "$root/var/lib/velmora/DBConn.ini" || fail "the upgrade changed the settings"

# Installed again over itself (prerm upgrade, postinst configure with its own version): the shop as it was.
in_dpkg --install "$work/next.deb" >"$work/reinstall.log" || fail "dpkg --install over itself failed"
expect_status "the install over itself" "install ok installed"
[ "$(md5sum <"$root/var/lib/velmora/data/velmdb.mdb")" = "$database" ] || fail "installing again changed the database"
grep -q 'DB_Source=data/velmdb.mdb' "$root/var/lib/velmora/DBConn.ini" || fail "installing again changed the settings"
[ -f "$moved" ] || fail "installing again lost the moved copy"
expect_mode var/lib/velmora/data 2770
expect_mode var/lib/velmora/DBConn.ini 660

# Remove: the program goes, the shop's data stays, and the output says where.
in_dpkg --remove velmora >"$work/remove.log" || fail "dpkg --remove failed"
expect_status remove "deinstall ok config-files"
[ -e "$root/usr/lib/velmora/velmora-db" ] && fail "remove left the program"
[ -f "$root/var/lib/velmora/data/velmdb.mdb" ] || fail "remove took the database"
[ -f "$root/var/lib/velmora/DBConn.ini" ] || fail "remove took the settings"
grep -q '/var/backups/velmora' "$work/remove.log" || fail "remove does not say where the backups are: $(cat "$work/remove.log")"

# Purge: /var/lib/velmora goes; the backups stay, with the database as it was, and the output says where.
in_dpkg --purge velmora >"$work/purge.log" || fail "dpkg --purge failed"
case "$(package_status)" in
"" | *not-installed) ;;
*) fail "after purge dpkg still records the package as '$(package_status)'" ;;
esac
[ -e "$root/var/lib/velmora" ] && fail "purge left /var/lib/velmora"
[ -f "$moved" ] || fail "purge took the backups"
kept=$(find "$root/var/backups/velmora" -path '*/removed-*/velmdb.mdb' | head -n 1)
[ -n "$kept" ] || fail "purge kept no copy of the database"
[ -n "$kept" ] && { [ "$(md5sum <"$kept")" = "$database" ] || fail "the kept database differs"; }
grep -q 'the backups stay in /var/backups/velmora' "$work/purge.log" || fail "purge does not say where the backups are: $(cat "$work/purge.log")"
grep -q "kept in /var/backups/velmora/removed-" "$work/purge.log" || fail "purge does not say where the database is"
grep -q '^velmora:' "$root/etc/group" || fail "purge removed the group, which the backups still belong to"
[ -e "$root/etc/systemd/system/timers.target.wants/velmora-backup.timer" ] && fail "purge left the timer enabled"

if [ "$failures" -ne 0 ]; then
    echo "$failures maintainer script check(s) failed" >&2
    exit 1
fi
echo "maintainer script checks passed"
