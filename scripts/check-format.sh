#!/usr/bin/env bash
# The C++ files of the tree are as .clang-format makes them: lists the files that differ and
# fails. ./test runs it before the build. With --fix, formats those files in place instead.
# clang-format-14 (Debian 12) is the version the tree is formatted with: another version
# formats some constructs differently.
set -euo pipefail
cd "$(dirname "$0")/.."
format=clang-format-14
mapfile -d '' files < <(find src apps tests bench fuzz \( -name '*.cpp' -o -name '*.h' \) -print0 |
    sort -z)
if [ "${1:-}" = --fix ]; then
    "$format" -i "${files[@]}"
    exit 0
fi
if ! out=$("$format" --dry-run --Werror "${files[@]}" 2>&1); then
    echo "== Not formatted as .clang-format says (scripts/check-format.sh --fix formats them):"
    sed -n 's/^\([^:]*\):[0-9]*:[0-9]*: error: .*/   \1/p' <<<"$out" | uniq
    exit 1
fi
