#!/usr/bin/env bash
# Checks that the data layer's folders include each other one way only:
#
#   data/*.h  <-  engines  <-  provider  <-  dataset  <-  module
#
# A file may include headers of its own folder and of the folders to its left, never of one to its right, so
# that an engine can be built and tested without datasets, and the data module sits on top of everything.
#
#   scripts/check-data-direction.sh [DATA_DIR]
#   scripts/check-data-direction.sh --self-test   (shows that an include against the direction is caught)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

if [ "${1:-}" = --self-test ]; then
    copy=$(mktemp -d)
    trap 'rm -rf "$copy"' EXIT
    cp -r "$here/../data" "$copy/data"
    "$here/check-data-direction.sh" "$copy/data" >/dev/null || { echo "the tree itself breaks the direction" >&2; exit 1; }
    for wrong in 'engines/Backup.cpp:data/module/Operators.h' 'provider/Provider.cpp:data/dataset/Dataset.h' \
                 'Backend.cpp:data/engines/PgBackend.h' 'dataset/Field.cpp:data/module/DMod.h'; do
        file=$copy/data/${wrong%%:*}
        cp "$file" "$file.kept"
        printf '#include "%s"\n' "${wrong#*:}" >>"$file"
        if "$here/check-data-direction.sh" "$copy/data" >/dev/null 2>&1; then
            echo "an include of ${wrong#*:} in ${wrong%%:*} went unnoticed" >&2
            exit 1
        fi
        mv "$file.kept" "$file"
    done
    echo "includes against the direction are caught"
    exit 0
fi

data=${1:-$here/../data}
rank() {
    case "$1" in
    top) echo 0 ;;
    engines) echo 1 ;;
    provider) echo 2 ;;
    dataset) echo 3 ;;
    module) echo 4 ;;
    *) echo "" ;;
    esac
}

failures=0
while IFS= read -r -d '' file; do
    relative=${file#"$data"/}
    folder=top
    [[ $relative == */* ]] && folder=${relative%%/*}
    own=$(rank "$folder")
    if [ -z "$own" ]; then
        echo "data/$relative: the folder $folder has no place in the direction" >&2
        failures=$((failures + 1))
        continue
    fi
    while IFS= read -r header; do
        rest=${header#data/}
        target=top
        [[ $rest == */* ]] && target=${rest%%/*}
        theirs=$(rank "$target")
        if [ -z "$theirs" ] || [ "$theirs" -gt "$own" ]; then
            echo "data/$relative includes $header, against the direction" >&2
            failures=$((failures + 1))
        fi
    done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\(data\/[^"]*\)".*/\1/p' "$file")
done < <(find "$data" -type f \( -name '*.h' -o -name '*.cpp' \) -print0)

if [ "$failures" -gt 0 ]; then
    echo "$failures include(s) against data/'s direction (top <- engines <- provider <- dataset <- module)" >&2
    exit 1
fi
echo "data/ includes one way"
