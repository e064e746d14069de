#!/usr/bin/env bash
# The whole test suite under AddressSanitizer and UBSan (windows included), in its own build
# folder: scripts/sanitize.sh [CTEST ARGS...]   (TESMO_BUILD overrides build-asan).
# Any sanitizer report fails the test that made it.
export TESMO_BUILD="${TESMO_BUILD:-$(cd "$(dirname "$0")/.." && pwd)/build-asan}"
source "$(dirname "$0")/common.sh"
install_missing
# Debug keeps the stacks readable and the build quick; the sanitizers do the checking.
TESMO_BUILD_TYPE="${TESMO_BUILD_TYPE:-Debug}" build_all -DTESMO_SANITIZE=ON -DTESMO_BUILD_GUI=ON \
    -DTESMO_BUILD_BENCH=OFF
cd "$TESMO_BUILD"
# Children of the tests (tesmoctl, the sample site) report to stderr and fail as well.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$(nproc)" --timeout 1200 "$@"
