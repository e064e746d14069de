#!/usr/bin/env bash
# Runs each fuzz target in turn for SECONDS seconds (at low priority, one at a time).
#   fuzz/run.sh SECONDS [TARGET...]      default: every target
# Installs what is missing (clang, libFuzzer), then builds the targets in $TESMO_FUZZ_BUILD
# (default build-fuzz, clang). Each target grows its own working corpus from the seeds in
# fuzz/corpus/<target>; findings go to <build>/fuzz-artifacts/<target>/ and the log of each run
# to <build>/fuzz-logs/<target>.log.
# Exits non-zero when any target found something.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/.." && pwd)"
source "$root/scripts/common.sh"
build="${TESMO_FUZZ_BUILD:-$root/build-fuzz}"
seconds="${1:?usage: fuzz/run.sh SECONDS [TARGET...]}"
shift
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for f in "$here"/fuzz_*.cpp; do
        [ "$(basename "$f")" = fuzz_support.cpp ] || targets+=("$(basename "$f" .cpp)")
    done
fi

install_missing "${TESMO_FUZZ_PACKAGES[@]}"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang -DTESMO_BUILD_FUZZ=ON \
    -DTESMO_BUILD_GUI=OFF -DTESMO_BUILD_TESTS=OFF -DTESMO_BUILD_BENCH=OFF >/dev/null
nice -n 19 cmake --build "$build" -j 2 --target "${targets[@]}"

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
status=0
for t in "${targets[@]}"; do
    work="$build/fuzz-corpus/$t"
    artifacts="$build/fuzz-artifacts/$t"
    log="$build/fuzz-logs/$t.log"
    mkdir -p "$work" "$artifacts" "$(dirname "$log")"
    dict=()
    [ -f "$here/dict/$t.dict" ] && dict=("-dict=$here/dict/$t.dict")
    echo "== $t for ${seconds}s"
    if nice -n 19 "$build/bin/$t" "$work" "$here/corpus/$t" "${dict[@]}" \
        -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -max_len=65536 \
        -artifact_prefix="$artifacts/" -print_final_stats=1 >"$log" 2>&1; then
        echo "   $(grep -E '^stat::number_of_executed_units' "$log" | awk '{print $2}') executions," \
            "$(grep -E '^stat::peak_rss_mb' "$log" | awk '{print $2}') MB peak, no finding"
    else
        status=1
        echo "   FINDING: see $log and $artifacts/"
        grep -E '^(==[0-9]+==ERROR|SUMMARY|.*runtime error)' "$log" | head -5 || true
    fi
done
exit $status
