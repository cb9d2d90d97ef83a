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
  san=""; [ "$variant" != normal ] && san=$variant
  echo "=== $variant build ==="
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOPOS_SANITIZER="$san" >/dev/null
  cmake --build "$dir" -j "$JOBS"
  echo "=== $variant tests ==="
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
  if ! ctest --test-dir "$dir" -j "$JOBS" --output-on-failure; then
    status=1
  fi
done
exit $status
