#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz and runs one of them,
# or each in turn, for the given number of seconds, starting from its seed
# corpus in fuzz/corpus/<target>/. New inputs go to build-fuzz/corpus/<target>/,
# findings to build-fuzz/findings/<target>/.
#   fuzz/run.sh TARGET SECONDS     TARGET: profile, connectionstring, dialect, rights, operatorpassword
#   fuzz/run.sh all SECONDS
set -euo pipefail
cd "$(dirname "$0")/.."

targets=(profile connectionstring dialect rights operatorpassword)
if [[ $# -ne 2 || ! $2 =~ ^[0-9]+$ ]]; then
    echo "usage: fuzz/run.sh TARGET|all SECONDS (targets: ${targets[*]})" >&2
    exit 2
fi
if [[ $1 == all ]]; then
    selected=("${targets[@]}")
elif [[ " ${targets[*]} " == *" $1 "* ]]; then
    selected=("$1")
else
    echo "fuzz/run.sh: unknown target '$1' (targets: ${targets[*]})" >&2
    exit 2
fi
seconds=$2

build=build-fuzz
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DVELMORA_FUZZ=ON -DBUILD_TESTING=OFF -DVELMORA_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target "${selected[@]/#/fuzz_}"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export QT_QPA_PLATFORM=offscreen
status=0
for target in "${selected[@]}"; do
    corpus="$build/corpus/$target"
    findings="$build/findings/$target"
    mkdir -p "$corpus" "$findings"
    log="$build/fuzz_$target.log"
    echo "== fuzz_$target for ${seconds}s (log: $log)"
    if "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 -max_len=8192 -timeout=10 \
        -artifact_prefix="$findings/" "$corpus" "fuzz/corpus/$target" >"$log" 2>&1; then
        echo "   no finding"
    else
        echo "   FINDING: see $log and $findings/"
        status=1
    fi
    grep -E 'stat::number_of_executed_units|stat::peak_rss_mb' "$log" | sed 's/^/   /' || true
done
exit $status
