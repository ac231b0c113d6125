#!/usr/bin/env bash
# Checks that every test RELIABILITY.md names exists in a build, so that its figures always point at checks
# somebody can run: each test program it names is built, each Qt test function it names is one of that program's,
# and each GoogleTest filter it gives selects at least one case.
#
#   scripts/check-reliability.sh BUILD_DIR [RELIABILITY.md]
set -euo pipefail
build=${1:?usage: $0 BUILD_DIR [RELIABILITY.md]}
doc=${2:-$(dirname "$0")/../RELIABILITY.md}
bin=$build/bin
export QT_QPA_PLATFORM=offscreen
failures=0
fail() {
    echo "RELIABILITY.md: $*" >&2
    failures=$((failures + 1))
}

# Test programs named anywhere (`test_x`, `velmora_x_tests`); a gtest flag is no program.
for name in $(grep -oE '\b(test_[a-z0-9_]+|velmora_[a-z0-9_]+_tests)\b' "$doc" | grep -v '^test_filter$' | sort -u); do
    [ -x "$bin/$name" ] || fail "names the test program $name, which the build does not make"
done

# build/bin/PROGRAM followed by Qt test functions or a GoogleTest filter.
while IFS= read -r command; do
    read -r -a words <<<"$command"
    program=${words[0]#build/bin/}
    [ -x "$bin/$program" ] || continue # told above
    for word in "${words[@]:1}"; do
        case "$word" in
        --gtest_filter=*)
            filter=${word#--gtest_filter=}
            filter=${filter//\'/}
            listed=$("$bin/$program" --gtest_list_tests --gtest_filter="$filter" | grep -c '^  ' || true)
            [ "$listed" -gt 0 ] || fail "$program: the filter $filter selects no case"
            ;;
        -*) ;;
        *)
            "$bin/$program" -functions 2>/dev/null | grep -qx "$word()" ||
                fail "$program has no test function $word"
            ;;
        esac
    done
done < <(grep -oE 'build/bin/[a-z0-9_]+( [^`]*)?' "$doc")

if [ "$failures" -gt 0 ]; then
    exit 1
fi
echo "every test RELIABILITY.md names is in $build"
