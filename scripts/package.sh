#!/usr/bin/env bash
# Builds the Debian package of Velmora and prints its path as the last line.
#
#   scripts/package.sh [BUILD_DIR [OUT_DIR]]
#
# BUILD_DIR (default: build) is configured and built first when it holds no build yet; a sanitizer build makes no
# package. The package lands in OUT_DIR (default: BUILD_DIR/package). Its version is the project's: the tag
# vX.Y.Z[...] that names the commit when one does, otherwise the version in CMakeLists.txt. Never a count of
# commits, which a shallow clone gets wrong (apt would take its package for a downgrade).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build}
out=${2:-$build/package}
umask 022

if [ ! -f "$build/CMakeCache.txt" ]; then
    scripts/build.sh "$build"
fi
if grep -q '^VELMORA_SANITIZE:BOOL=ON' "$build/CMakeCache.txt"; then
    echo "$0: $build is a sanitizer build; a package is made from a normal build" >&2
    exit 1
fi
cmake --build "$build" --parallel "$(nproc)" >&2

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
if tag=$(git -C "$root" describe --tags --exact-match --match 'v[0-9]*' HEAD 2>/dev/null); then
    version=${tag#v}
fi

mkdir -p "$out"
out=$(cd "$out" && pwd)
rm -f "$out"/velmora_*.deb
(cd "$build" && cpack -G DEB -R "$version" -B "$out" >&2)
package=$(ls "$out"/velmora_"$version"_*.deb)
echo "$package"
