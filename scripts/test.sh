#!/usr/bin/env bash
# Builds and runs the whole test suite three times: normal, AddressSanitizer with
# UndefinedBehaviorSanitizer, and ThreadSanitizer. Fails when any run fails.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
JOBS=$(nproc)
# ccache, where installed, makes repeated runs cheap; a fresh machine builds without it.
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
status=0
passed=0
failed=0
echo "=== style ==="
# Layout only (seconds); names are checked by scripts/lint.sh --names, which parses every file.
if bash scripts/lint.sh; then passed=$((passed + 1)); else failed=$((failed + 1)); status=1; fi
for variant in normal asan tsan; do
  dir=build-test-$variant
  san=""; flags="-O2 -g -DNDEBUG"
  # Sanitizer builds: -O1 and line tables only keep the build short and the traces readable.
  [ "$variant" != normal ] && san=$variant && flags="-O1 -g1 -DNDEBUG"
  echo "=== $variant build ==="
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOPOS_SANITIZER="$san" \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="$flags" -DCMAKE_C_FLAGS_RELWITHDEBINFO="$flags" "${launcher[@]}" >/dev/null
  cmake --build "$dir" -j "$JOBS"
  echo "=== $variant tests ==="
  # Each Service Object library carries its own copy of the platform code by
  # design, so the same globals exist once per library: not an ODR violation.
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:detect_odr_violation=0
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
  set +e
  ctest --test-dir "$dir" -j "$JOBS" --output-on-failure 2>&1 | tee "$dir/ctest.log"
  rc=${PIPESTATUS[0]}
  set -e
  # "N% tests passed, F tests failed out of T"
  read -r f t < <(sed -n 's/.*tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\1 \2/p' "$dir/ctest.log" | tail -1)
  if [ "$rc" -ne 0 ] || [ -z "${t:-}" ]; then status=1; fi
  passed=$((passed + ${t:-0} - ${f:-0}))
  failed=$((failed + ${f:-0}))
done
echo "=== install: staged tree and Debian package ==="
# From the normal build: the staged tree alone, the package, and (as root in CI)
# installing and purging it; each check counts as a test.
set +e
bash scripts/install-test.sh build-test-normal 2>&1 | tee build-test-normal/install.log
rc=${PIPESTATUS[0]}
set -e
read -r ip if_ < <(sed -n 's/^install: \([0-9]*\) passed, \([0-9]*\) failed$/\1 \2/p' build-test-normal/install.log)  || true
if [ "$rc" -ne 0 ] || [ -z "${ip:-}" ]; then status=1; fi
passed=$((passed + ${ip:-0}))
failed=$((failed + ${if_:-1}))
echo "=== windows: MinGW-w64 cross build under Wine ==="
# The same scripts through the DLLs under Wine and through the Linux build must
# print the same bytes and JSON lines; skipped (and said so) where the toolchain
# or Wine cannot be installed.
set +e
BUILD=build-test-normal WIN_BUILD=build-test-win bash scripts/windows-leg.sh 2>&1 | tee build-test-normal/windows.log
rc=${PIPESTATUS[0]}
set -e
read -r wp wf < <(sed -n 's/^windows: \([0-9]*\) passed, \([0-9]*\) failed$/\1 \2/p' build-test-normal/windows.log) || true
if [ "$rc" -ne 0 ]; then status=1; [ "${wf:-0}" -eq 0 ] && wf=1; fi
passed=$((passed + ${wp:-0}))
failed=$((failed + ${wf:-0}))
echo "=== fuzz (libFuzzer, bounded) ==="
# A few seconds per target keeps them from rotting; each counts as one test.
mkdir -p build-test-fuzz
set +e
OPOS_FUZZ_NODEPS=1 OPOS_FUZZ_BUILD=build-test-fuzz bash scripts/fuzz.sh 4 2>&1 | tee build-test-fuzz/fuzz-table.log
rc=${PIPESTATUS[0]}
set -e
# Table lines: "name executions exec/s crashes".
read -r fp ff < <(awk 'NF >= 4 && $2 ~ /^[0-9?]+$/ && $4 ~ /^[0-9]+$/ { if ($4 == 0) p++; else f++ }
                      END { print p + 0, f + 0 }' build-test-fuzz/fuzz-table.log)
if [ "$rc" -ne 0 ] && [ "$ff" -eq 0 ]; then ff=1; fi  # the build or a run failed before its line
passed=$((passed + fp))
failed=$((failed + ff))
[ "$rc" -ne 0 ] && status=1
echo "tests (style, normal, asan, tsan, install, windows, fuzz):"
echo "$passed passed, $failed failed"
exit $status
