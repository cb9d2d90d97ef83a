#!/usr/bin/env bash
# Runs the latency and throughput benchmarks of a normal build and prints one
# table. Usage: scripts/bench.sh [BUILD_DIR]   (default build-normal; built first)
# The figures are wall-clock: on a machine shared with other work, run it twice.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-normal}
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target bench_port_latency bench_devsetup_list bench_event_delivery bench_idle_cpu \
  bench_device_open vprinter serialso >/dev/null

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
# CSV output wants the same counters in every run: one benchmark at a time.
for f in StatusReportToEvent ProcessIdJobs PrinterClassWrite SerialRateLimitedWrite; do
  "$build/bench/bench_port_latency" --benchmark_filter="BM_$f" --benchmark_format=csv >>"$out/port.csv" 2>>"$out/port.err"
done
"$build/bench/bench_devsetup_list" --benchmark_format=csv >"$out/list.csv" 2>"$out/list.err"
"$build/bench/bench_device_open" --benchmark_format=csv >"$out/open.csv" 2>"$out/open.err"
for f in EventThroughput EventLatency PostLatency; do
  "$build/bench/bench_event_delivery" --benchmark_filter="BM_$f" --benchmark_format=csv >>"$out/events.csv" 2>>"$out/events.err"
done
"$build/bench/bench_idle_cpu" 10 >"$out/idle.txt" 2>&1 || true

# get FILE BENCHMARK COLUMN: one cell of Google Benchmark's CSV output.
get() {
  awk -F, -v name="$2" -v col="$3" '
    /^name,/ { for (i = 1; i <= NF; i++) { h = $i; gsub(/"/, "", h); idx[h] = i }; next }
    { n = $1; gsub(/"/, "", n); if (n == name && (col in idx)) { v = $(idx[col]); gsub(/"/, "", v); print v; exit } }
  ' "$1"
}
num() { [ -n "$1" ] && printf "%.${2:-1}f" "$1" || printf "n/a"; }

row() { printf "%-52s %s\n" "$1" "$2"; }
echo "measure                                              figure"
echo "---------------------------------------------------- ------------------------------------------"
s=BM_StatusReportToEvent/iterations:40/real_time
row "status report -> StatusUpdate (paper out)" \
  "p50 $(num "$(get "$out/port.csv" $s p50_ms)") ms, p90 $(num "$(get "$out/port.csv" $s p90_ms)") ms, p99 $(num "$(get "$out/port.csv" $s p99_ms)") ms"
row "  paper back (keeps the 500 ms settle after an error)" \
  "p50 $(num "$(get "$out/port.csv" $s settled_p50_ms)") ms"
row "back-to-back process-ID jobs (2 KB each)" \
  "$(num "$(get "$out/port.csv" BM_ProcessIdJobs/iterations:20/real_time jobs_per_s)" 2) jobs/s"
for size in 1024 102400 1048576; do
  s="BM_PrinterClassWrite/$size/0/iterations:5/real_time"
  row "parallel port write $size B, WritePacing 0 vs raw" \
    "$(num "$(get "$out/port.csv" "$s" port_ms)" 2) ms vs $(num "$(get "$out/port.csv" "$s" raw_ms)" 2) ms = $(num "$(get "$out/port.csv" "$s" ratio)" 2)x"
done
s="BM_PrinterClassWrite/1024/1/iterations:5/real_time"
row "parallel port write 1024 B, default pacing vs raw" \
  "$(num "$(get "$out/port.csv" "$s" port_ms)" 2) ms vs $(num "$(get "$out/port.csv" "$s" raw_ms)" 2) ms = $(num "$(get "$out/port.csv" "$s" ratio)" 1)x"
s=BM_SerialRateLimitedWrite/iterations:3/real_time
row "serial port 16 KB write at 115,200 bit/s vs wire time" \
  "$(num "$(get "$out/port.csv" $s print_ms)" 0) ms vs $(num "$(get "$out/port.csv" $s wire_ms)" 0) ms = $(num "$(get "$out/port.csv" $s ratio)" 3)x"
for n in 10 100 1000; do
  row "devsetup list, $n devices" "$(num "$(get "$out/list.csv" "BM_DevsetupList/$n/real_time" real_time)" 2) ms (CPU $(num "$(get "$out/list.csv" "BM_DevsetupList/$n/real_time" cpu_time)" 2) ms)"
done
for d in Printer Drawer; do
  row "Open of a $(echo $d | tr A-Z a-z) (registry, library load, configuration)" \
    "median $(num "$(get "$out/open.csv" BM_OpenClose$d/iterations:300/real_time open_median_us)" 0) us"
done
rate=$(get "$out/events.csv" BM_EventThroughput/1000/real_time items_per_second)
row "event delivery, worker -> opening thread" "$(num "$rate" 0) events/s"
row "event delivery latency" \
  "median $(num "$(get "$out/events.csv" BM_EventLatency/iterations:500/real_time median_us)" 1) us (a bare message post: $(num "$(get "$out/events.csv" BM_PostLatency/iterations:500/real_time median_us)" 1) us)"
idle=$(sed -n 's/.*= \([0-9.]*\) % of one core.*/\1/p' "$out/idle.txt")
row "idle CPU, claimed+enabled printer and drawer (serial)" "$(num "$idle" 3) % of one core"
echo "(load average $(cut -d' ' -f1-3 /proc/loadavg) at the end; wall-clock figures grow with other work on the machine)"
for f in port list open events; do
  grep -v -e '^[0-9-]*T[0-9:+]*$' -e '^Running ' -e '^Run on ' -e '^Load Average' -e 'WARNING' -e '^CPU Caches' \
    -e '^  L[0-9]' "$out/$f.err" | sed "s/^/($f) /" || true
done
