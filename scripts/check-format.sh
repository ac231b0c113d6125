#!/usr/bin/env bash
# Checks that every C++ file of the tree is as .clang-format (clang-format 14, Debian 12's) writes it; names the
# files that are not.
# To format them: scripts/check-format.sh --fix
set -euo pipefail
cd "$(dirname "$0")/.."
mode=(--dry-run -Werror)
[ "${1:-}" = --fix ] && mode=(-i)
mapfile -d '' files < <(find . \( -path './build*' -o -path './.git' \) -prune -o \
    -type f \( -name '*.cpp' -o -name '*.h' \) -print0)
if ! clang-format --style=file "${mode[@]}" "${files[@]}" 2>/tmp/velmora-format.$$; then
    grep -o '^[^:]*\.\(cpp\|h\)' /tmp/velmora-format.$$ | sort -u | sed 's/^/not formatted: /' >&2
    rm -f /tmp/velmora-format.$$
    echo "run scripts/check-format.sh --fix" >&2
    exit 1
fi
rm -f /tmp/velmora-format.$$
echo "${#files[@]} files formatted as .clang-format says"
