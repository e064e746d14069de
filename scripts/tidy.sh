#!/usr/bin/env bash
# clang-tidy with the checks of .clang-tidy over src/ and apps/, through the compile commands
# of the build (build/compile_commands.json). Lists the findings and fails when there is one.
# Not part of ./test: it takes about five minutes on two cores.
#
#   scripts/tidy.sh [REGEX]      only the files whose path matches REGEX (default: src/ apps/)
set -euo pipefail
source "$(dirname "$0")/common.sh"
install_missing "${TESMO_TIDY_PACKAGES[@]}"
# The generated files (build settings, moc output) must exist before clang-tidy reads a source.
build_all
files="${1:-^$TESMO_ROOT/(src|apps)/}"
log="$TESMO_BUILD/tidy.log"
# g++'s warning flags that clang does not know are no finding.
run-clang-tidy-14 -p "$TESMO_BUILD" -j "$(nproc)" -quiet \
    -extra-arg=-Wno-unknown-warning-option "$files" >"$log" 2>&1 || true
if grep -qE '(warning|error):' "$log"; then
    grep -E '(warning|error):' "$log" | sed -E 's/\x1b\[[0-9;]*m//g' | sort -u
    echo "== clang-tidy findings above (whole output: $log)"
    exit 1
fi
echo "== clang-tidy: no finding"
