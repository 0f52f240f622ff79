#!/usr/bin/env bash
# Builds the benchmarks in Release (build-bench), runs every member beside its
# floor with repetitions, and prints "member | median | floor | ratio".
#   scripts/bench.sh [--quick] [extra Google Benchmark flags]
# --quick: short runs (3 repetitions of 0.05 s) for checking that it works.
# Raw JSON goes to build-bench/bench-results/; the resident-memory and
# descriptor check (steady_state) runs last.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="$top/build-bench"
reps=10
min_time=0.3
calls=1000000
if [[ "${1:-}" == "--quick" ]]; then
  reps=3; min_time=0.05; calls=100000; shift
fi

cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORVALA_BUILD_BENCH=ON >/dev/null
cmake --build "$build" --target registry_bench rpc_bench steady_state -j "$(nproc)" >/dev/null

out="$build/bench-results"
mkdir -p "$out"
common=(--benchmark_repetitions="$reps" --benchmark_min_time="$min_time"
        --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true)

echo "machine: $(nproc) vCPUs, $(lscpu | sed -n 's/^Model name: *//p'), load: $(cut -d' ' -f1-3 /proc/loadavg)"
"$build/bin/registry_bench" "${common[@]}" --benchmark_out="$out/registry.json" \
  --benchmark_out_format=json "$@" >"$out/registry.txt"
"$build/bin/rpc_bench" "${common[@]}" --benchmark_out="$out/rpc.json" \
  --benchmark_out_format=json "$@" >"$out/rpc.txt"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
echo
python3 "$top/bench/report.py" "$out/registry.json" "$out/rpc.json"
echo
"$build/bin/steady_state" "$calls"
