#!/usr/bin/env bash
# Formats C++ sources with the root .clang-format: the files given, else every tracked .cpp
# and .h. Anything else given is skipped: clang-format reads every file as C++, so it would
# rewrite Markdown notes and scripts into nonsense.
set -euo pipefail
cd "$(dirname "$0")/.."

files=()
if [ $# -eq 0 ]; then
    mapfile -t files < <(git ls-files '*.cpp' '*.h')
else
    for f in "$@"; do
        case "$f" in
        *.cpp | *.h) files+=("$f") ;;
        *) echo "not C++, left alone: $f" >&2 ;;
        esac
    done
fi
[ ${#files[@]} -eq 0 ] || clang-format -i --style=file "${files[@]}"
