#!/usr/bin/env bash
# Builds the Debian package from a build folder (scripts/package.sh) and checks it without installing it: its
# control data, its file list with owners and permissions, the validators (desktop-file-validate, appstreamcli,
# lintian), and, from an unpacked copy, velmora-db --help and the daily backup; the maintainer scripts in a throw-away
# root (check_maintainer_scripts.sh); and that cmake --install to a prefix installs the programs without the
# package's own part.
#   check_package.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)
source=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/velmora-package.XXXXXX")
trap 'rm -rf "$work"' EXIT

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

deb=$("$source/scripts/package.sh" "$build" "$work/out" | tail -n 1)
[ -f "$deb" ] || {
    echo "FAIL: scripts/package.sh printed '$deb', which is no file" >&2
    exit 1
}
echo "package: $deb"
# The project's version, never a count of commits.
project_version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ "$(dpkg-deb --field "$deb" Version)" = "$project_version" ] ||
    git -C "$source" describe --tags --exact-match --match 'v[0-9]*' HEAD >/dev/null 2>&1 ||
    fail "the package's version $(dpkg-deb --field "$deb" Version) is not the project's $project_version"

# Control data.
field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = velmora ] || fail "Package is '$(field Package)'"
depends=$(field Depends)
echo "Depends: $depends"
for needed in libqt6widgets6 libqt6gui6 libqt6core6 libsqlite3-0 libpq5 libsodium23 \
    qt6-translations-l10n fonts-wqy-microhei fonts-arphic-ukai fonts-arphic-uming adduser; do
    grep -Eq "(^|, )$needed( |,|$)" <<<"$depends" || fail "Depends lacks $needed"
done
# Chinese names are typed through an input method: the Qt 6 frontend of fcitx5 or ibus; a server's backup and
# restore need pg_dump and pg_restore.
[ "$(field Recommends)" = "fcitx5-frontend-qt6 | ibus, postgresql-client" ] ||
    fail "Recommends is '$(field Recommends)'"
dpkg-deb --control "$deb" "$work/control"
for script in postinst prerm postrm; do
    [ "$(stat -c %a "$work/control/$script")" = 755 ] || fail "$script is not mode 755"
done
# What the scripts do is checked by running them (below).

# The file list: "MODE OWNER SIZE DATE TIME PATH [-> TARGET]".
dpkg-deb --contents "$deb" | awk '{ path = $6; for (i = 7; i <= NF; ++i) path = path " " $i; print $1, $2, path }' \
    >"$work/contents"
expect() { # MODE PATH: the entry must be there with exactly this mode, owned by root
    grep -qxF -- "$1 root/root ./$2" "$work/contents" || fail "no '$1 root/root ./$2' in the package"
}
expect -rwxr-xr-x usr/lib/velmora/velmora
expect -rwxr-xr-x usr/lib/velmora/velmora-db
expect -rwxr-xr-x usr/lib/velmora/velmora-backup
expect lrwxrwxrwx "usr/bin/velmora -> ../lib/velmora/velmora"
expect lrwxrwxrwx "usr/bin/velmora-db -> ../lib/velmora/velmora-db"
expect lrwxrwxrwx "usr/lib/velmora/DBConn.ini -> /var/lib/velmora/DBConn.ini"
expect lrwxrwxrwx "usr/lib/velmora/data -> /var/lib/velmora/data"
expect -rw-r--r-- usr/share/applications/org.velmora.velmora.desktop
expect -rw-r--r-- usr/share/metainfo/org.velmora.velmora.metainfo.xml
for size in 16 22 24 32 48 64 128 256 512; do
    expect -rw-r--r-- "usr/share/icons/hicolor/${size}x$size/apps/org.velmora.velmora.png"
done
expect -rw-r--r-- usr/share/man/man1/velmora.1.gz
expect -rw-r--r-- usr/share/man/man1/velmora-db.1.gz
expect -rw-r--r-- usr/share/velmora/help/index.html
expect -rw-r--r-- lib/systemd/system/velmora-backup.service
expect -rw-r--r-- lib/systemd/system/velmora-backup.timer
expect -rw-r--r-- usr/share/doc/velmora/copyright
expect -rw-r--r-- usr/share/doc/velmora/changelog.gz
# The program is root's and writable by nobody else; the shop's data is not in the package at all.
awk '$2 != "root/root"' "$work/contents" | grep . && fail "entries above are not owned by root"
awk '$1 !~ /^l/ && ($1 ~ /^.....w/ || $1 ~ /^........w/ || $1 ~ /[sStT]/)' "$work/contents" | grep . &&
    fail "entries above are writable by others than root, or carry set-ID or sticky bits"
grep -E ' \./(etc|var)/' "$work/contents" && fail "the package ships files under /etc or /var"

# Unpacked: the tools run from the copy, and the icons are the sizes they claim.
dpkg-deb --extract "$deb" "$work/root"
help=$("$work/root/usr/bin/velmora-db" --help) || fail "velmora-db --help failed"
grep -q 'backup FILE DEST' <<<"$help" || fail "velmora-db --help does not name backup"
for size in 16 32 48 64 128 256 512; do
    png="$work/root/usr/share/icons/hicolor/${size}x$size/apps/org.velmora.velmora.png"
    # PNG header: the width and height are the big-endian words at bytes 16 and 20.
    dims=$(od -An -tu1 -j16 -N8 "$png" | awk '{ print $1*16777216 + $2*65536 + $3*256 + $4 "x" $5*16777216 + $6*65536 + $7*256 + $8 }')
    [ "$dims" = "${size}x$size" ] || fail "$png is $dims"
done
grep -q '^ExecStart=/usr/lib/velmora/velmora-backup /var/lib/velmora/data/velmdb.mdb$' \
    "$work/root/lib/systemd/system/velmora-backup.service" || fail "the service backs up another file"
grep -q '^WantedBy=timers.target$' "$work/root/lib/systemd/system/velmora-backup.timer" || fail "the timer has no target"

# The daily backup from the unpacked copy, into folders of the test's own (check_backup_script.sh checks the rest).
shop="$work/shop/data"
mkdir -p "$shop"
"$work/root/usr/bin/velmora-db" create "$shop/velmdb.mdb" >/dev/null
printf 'BACKUP_FOLDER=%s\nSETTINGS=%s\nSTATUS_FILE=%s\n' "$work/shop/backups" "$work/shop/DBConn.ini" \
    "$shop/velmora-backup.failed" >"$work/backup.conf"
VELMORA_BACKUP_CONFIG="$work/backup.conf" "$work/root/usr/lib/velmora/velmora-backup" "$shop/velmdb.mdb" \
    >"$work/backup.log" 2>&1 || fail "velmora-backup failed: $(cat "$work/backup.log")"
copy=$(ls "$work/shop/backups" 2>/dev/null | grep -E '^velmdb-[0-9]{8}-[0-9]{6}\.mdb$' | head -n 1)
[ -n "$copy" ] || fail "velmora-backup made no copy: $(cat "$work/backup.log")"
"$work/root/usr/bin/velmora-db" backup-status "$work/shop/backups" >/dev/null ||
    fail "velmora-db backup-status finds no fresh copy"
VELMORA_BACKUP_CONFIG="$work/backup.conf" "$work/root/usr/lib/velmora/velmora-backup" "$work/shop/none/velmdb.mdb" \
    >/dev/null || fail "velmora-backup fails when there is no database yet"

# The maintainer scripts, run by dpkg in a throw-away root.
"$source/tests/packaging/check_maintainer_scripts.sh" "$deb" || {
    status=$?
    [ "$status" = 77 ] || fail "the maintainer scripts"
}

# cmake --install to a prefix: the same programs, links and desktop files; no links into /var/lib/velmora and no
# timer, which are the package's.
cmake --install "$build" --prefix "$work/prefix" >"$work/install.log" || fail "cmake --install: $(cat "$work/install.log")"
"$work/prefix/bin/velmora-db" --help >/dev/null || fail "velmora-db --help from the prefix"
[ "$(readlink "$work/prefix/bin/velmora")" = ../lib/velmora/velmora ] || fail "no link PREFIX/bin/velmora"
for file in share/applications/org.velmora.velmora.desktop share/metainfo/org.velmora.velmora.metainfo.xml \
    share/icons/hicolor/48x48/apps/org.velmora.velmora.png share/man/man1/velmora-db.1.gz \
    share/velmora/help/index.html; do
    [ -f "$work/prefix/$file" ] || fail "cmake --install put no $file"
done
for file in lib/velmora/DBConn.ini lib/velmora/data lib/systemd share/doc/velmora; do
    [ -e "$work/prefix/$file" ] || [ -L "$work/prefix/$file" ] && fail "cmake --install put $file, which is the package's"
done

# The validators.
desktop-file-validate "$work/root/usr/share/applications/org.velmora.velmora.desktop" ||
    fail "desktop-file-validate"
appstreamcli validate --no-net "$work/root/usr/share/metainfo/org.velmora.velmora.metainfo.xml" ||
    fail "appstreamcli validate"
if command -v systemd-analyze >/dev/null && [ -d /lib/systemd/system ]; then
    # Checked as installed, so the service's program must be where it says; the targets the units name come
    # from this machine. The manual page is lintian's to check.
    cp /lib/systemd/system/*.target "$work/root/lib/systemd/system/"
    systemd-analyze verify --man=no --root="$work/root" /lib/systemd/system/velmora-backup.timer \
        /lib/systemd/system/velmora-backup.service >"$work/verify.log" 2>&1 || fail "systemd-analyze verify"
    cat "$work/verify.log"
    grep -q . "$work/verify.log" && fail "systemd-analyze verify"
fi
lintian --fail-on error --suppress-tags-from-file /dev/null "$deb" | tee "$work/lintian.log" ||
    fail "lintian reports errors"

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "package checks passed"
