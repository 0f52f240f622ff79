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
# Line tables only (-g1): full debug information more than doubles the
# compile time on two cores, and line numbers are all a failure report needs.
normal_flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG"
              "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG")
sanitizer_flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG"
                 "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG")

run_suite() {
  local dir="$1"; shift
  cmake -S "$top" -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" -j "$jobs" --output-on-failure --timeout 600
}

echo "== normal build"
run_suite "$top/build" "${normal_flags[@]}"

echo "== fuzz smoke runs"
"$top/scripts/fuzz-smoke.sh" "${FUZZ_SECONDS:-20}"

echo "== ASan+UBSan build"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite "$top/build-asan" "${sanitizer_flags[@]}" -DMORVALA_SANITIZE=address -DMORVALA_BUILD_BENCH=OFF
