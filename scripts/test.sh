#!/usr/bin/env bash
# Installs what the build needs, builds everything and runs every test: the
# normal build, the libFuzzer targets for a bounded time each (clang), and the
# whole suite again under AddressSanitizer+UndefinedBehaviorSanitizer.
#
#   FUZZ_SECONDS=N scripts/test.sh    (seconds per fuzz target, default 20)
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
cd "$top"
"$top/scripts/install-deps.sh"

jobs="$(nproc)"

run_suite() {
  local dir="$1"; shift
  cmake -S "$top" -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" -j "$jobs" --output-on-failure --timeout 600
}

echo "== normal build"
run_suite "$top/build"

echo "== fuzz smoke runs"
"$top/scripts/fuzz-smoke.sh" "${FUZZ_SECONDS:-20}"

echo "== ASan+UBSan build"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite "$top/build-asan" -DMORVALA_SANITIZE=address -DMORVALA_BUILD_BENCH=OFF
