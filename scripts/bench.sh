#!/usr/bin/env bash
# Builds the benchmarks in Release (build-bench), runs every member beside its
# floor with repetitions, and prints "member | median | floor | ratio".
#   scripts/bench.sh [--quick] [--wait-quiet MINUTES] [extra Google Benchmark flags]
# --quick: short runs (3 repetitions of 0.05 s) for checking that it works.
# --wait-quiet: before running, wait up to MINUTES for a 1-minute load
#   average below 1.5 (figures taken on a busy machine measure the others).
# Raw JSON goes to build-bench/bench-results/; the resident-memory and
# descriptor check (steady_state) runs last.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="$top/build-bench"
reps=10
min_time=0.3
calls=1000000
wait_minutes=0
while [[ $# -gt 0 ]]; do
  case "$1" in
    --quick) reps=3; min_time=0.05; calls=100000; shift ;;
    --wait-quiet) wait_minutes="$2"; shift 2 ;;
    *) break ;;
  esac
done

cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORVALA_BUILD_BENCH=ON >/dev/null
cmake --build "$build" --target registry_bench rpc_bench steady_state -j "$(nproc)" >/dev/null

if (( wait_minutes > 0 )); then
  deadline=$(( $(date +%s) + wait_minutes * 60 ))
  until awk '{ exit !($1 < 1.5) }' /proc/loadavg || (( $(date +%s) >= deadline )); do
    echo "waiting for a quiet machine: load $(cut -d' ' -f1-3 /proc/loadavg)"
    sleep 60
  done
fi

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
