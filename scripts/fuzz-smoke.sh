#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan+UBSan) into build-fuzz and runs
# each one from its seed corpus for a bounded time. Exits non-zero when a
# target fails to build or finds anything (crash, sanitizer report, failed
# check, leak, timeout); the reproducer is left in build-fuzz/findings/.
#
#   scripts/fuzz-smoke.sh [seconds per target]   (default 35)
#
# The corpora grown by the run stay in build-fuzz/corpus/<target>; the seeds
# in fuzz/corpus/<target> are only read.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="$top/build-fuzz"
seconds="${1:-${FUZZ_SECONDS:-35}}"
jobs="$(nproc)"

CC=clang CXX=clang++ cmake -S "$top" -B "$build" -G Ninja \
  -DMORVALA_BUILD_FUZZ=ON -DMORVALA_SANITIZE=address -DMORVALA_BUILD_BENCH=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG" \
  "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG" >/dev/null
cmake --build "$build" --target fuzz_all -j "$jobs"

targets=()
for seeds in "$top"/fuzz/corpus/*/; do
  name="$(basename "$seeds")"
  [ -x "$build/bin/fuzz_$name" ] && targets+=("$name")
done
if [ ${#targets[@]} -eq 0 ]; then
  echo "fuzz-smoke: no fuzz target was built" >&2
  exit 1
fi

mkdir -p "$build/findings"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:allocator_may_return_null=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
passed=0
failed=0
for name in "${targets[@]}"; do
  corpus="$build/corpus/$name"
  mkdir -p "$corpus"
  log="$build/findings/$name.log"
  start=$SECONDS
  if "$build/bin/fuzz_$name" "$corpus" "$top/fuzz/corpus/$name" \
       -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=8192 \
       -artifact_prefix="$build/findings/$name-" -print_final_stats=1 >"$log" 2>&1; then
    runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)"
    echo "fuzz_$name: ok, ${runs:-?} runs in $((SECONDS - start)) s, corpus $(ls "$corpus" | wc -l) files"
    passed=$((passed + 1))
  else
    echo "fuzz_$name: FINDING (log: $log)"
    grep -m 20 -E "ERROR|check failed|SUMMARY|Test unit written" "$log" || tail -20 "$log"
    failed=$((failed + 1))
  fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
