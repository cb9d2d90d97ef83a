#!/usr/bin/env bash
# Builds the libFuzzer targets (clang) and runs each for SECONDS (default 60),
# starting from its seed corpus (fuzz/corpus/NAME) and dictionary (fuzz/NAME.dict)
# when there is one. Prints executions, executions per second and crashes per
# target; fails when any target crashed or did not run. New inputs go to a
# temporary folder, so the seed corpus stays as committed.
#   OPOS_FUZZ_BUILD  build folder (default build-fuzz)
#   OPOS_FUZZ_NODEPS set: do not run install-deps.sh (the test command has)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
dir=${OPOS_FUZZ_BUILD:-build-fuzz}
[ -n "${OPOS_FUZZ_NODEPS:-}" ] || bash scripts/install-deps.sh
cmake -S . -B "$dir" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$dir" --target fuzz_all -j "$(nproc)"
export ASAN_OPTIONS=detect_leaks=1:detect_odr_violation=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
printf '%-18s %12s %9s %8s\n' target executions exec/s crashes
for name in $(grep -E '^[a-z_]+$' fuzz/targets.txt); do
  work=$(mktemp -d)
  log="$dir/fuzz-$name.log"
  args=(-max_total_time="$seconds" -rss_limit_mb=2048 -print_final_stats=1
        -artifact_prefix="$dir/fuzz-$name-")
  [ -f "fuzz/$name.dict" ] && args+=(-dict="fuzz/$name.dict")
  rm -f "$dir/fuzz-$name-"*
  set +e
  "$dir/fuzz/fuzz_$name" "${args[@]}" "$work" "fuzz/corpus/$name" >"$log" 2>&1
  rc=$?
  set -e
  rm -rf "$work"
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
  crashes=$(find "$dir" -maxdepth 1 -name "fuzz-$name-*" | wc -l)
  if [ "$rc" -ne 0 ] && [ "$crashes" -eq 0 ]; then crashes=1; fi
  note=""
  [ "${rate:-0}" -lt 1000 ] && note="  (below 1000 exec/s)"
  printf '%-18s %12s %9s %8s%s\n' "$name" "${execs:-?}" "${rate:-?}" "$crashes" "$note"
  if [ "$crashes" -ne 0 ]; then
    status=1
    grep -m 1 -A 30 -E 'ERROR: |runtime error|deadly signal' "$log" || tail -n 30 "$log"
  fi
done
exit $status
