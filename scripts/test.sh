#!/usr/bin/env bash
# Builds and runs the whole test suite three times: normal, AddressSanitizer with
# UndefinedBehaviorSanitizer, and ThreadSanitizer. Fails when any run fails.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
JOBS=$(nproc)
status=0
for variant in normal asan tsan; do
  dir=build-test-$variant
  san=""; flags="-O2 -g -DNDEBUG"
  # Sanitizer builds: -O1 and line tables only keep the build short and the traces readable.
  [ "$variant" != normal ] && san=$variant && flags="-O1 -g1 -DNDEBUG"
  echo "=== $variant build ==="
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOPOS_SANITIZER="$san" \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="$flags" -DCMAKE_C_FLAGS_RELWITHDEBINFO="$flags" >/dev/null
  cmake --build "$dir" -j "$JOBS"
  echo "=== $variant tests ==="
  # Each Service Object library carries its own copy of the platform code by
  # design, so the same globals exist once per library: not an ODR violation.
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:detect_odr_violation=0
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
  if ! ctest --test-dir "$dir" -j "$JOBS" --output-on-failure; then
    status=1
  fi
done
echo "=== fuzz (libFuzzer, bounded) ==="
# The fuzz targets need clang's libFuzzer; a short bounded run keeps them from rotting.
cmake -S . -B build-test-fuzz -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-test-fuzz --target fuzz_escpos_parser -j "$JOBS"
if ! build-test-fuzz/fuzz/fuzz_escpos_parser -max_total_time=5 -dict=fuzz/escpos.dict \
    -rss_limit_mb=2048 -artifact_prefix=build-test-fuzz/; then
  status=1
fi
exit $status
