#!/usr/bin/env bash
# Runs the package's tests against the virtual printer of a build.
# Usage: run.sh BUILD_DIR PYTHON [SANITIZER_RUNTIME]
# With a sanitizer build the interpreter is not instrumented, so the runtime
# the library was built with is preloaded; the interpreter keeps its own
# allocations until exit, which are not leaks of the library.
set -euo pipefail
BUILD=$(cd "$1" && pwd); PYTHON=$2; RUNTIME=${3:-}
here=$(cd "$(dirname "$0")" && pwd)
export OPOS_CONTROL_LIBRARY=$BUILD/control/libopos-control.so
export PYTHONPATH=$here/..:$here PYTHONDONTWRITEBYTECODE=1
# Only the interpreter gets the runtime: an uninstrumented shell under a
# preloaded ThreadSanitizer crashes.
preload=()
if [ -n "$RUNTIME" ]; then
  preload=(env "LD_PRELOAD=$RUNTIME")
  export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
fi
exec bash "$here/../../tests/c_api/with_vprinter.sh" "$BUILD" "${preload[@]}" "$PYTHON" -m pytest -q -p no:cacheprovider "$here"
