#!/usr/bin/env bash
# Checks the house style: layout with clang-format (fast, always; --fix rewrites it),
# names with clang-tidy's identifier-naming check when --names is given (slow: parses
# every source file; needs a build directory configured with
# -DCMAKE_EXPORT_COMPILE_COMMANDS=ON). Names are mended by hand: the check's own
# renames can rewrite a lambda's implicit capture.
# Usage: scripts/lint.sh [--fix] [--names BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
fix=0; names=""
while [ $# -gt 0 ]; do
  case "$1" in
    --fix) fix=1 ;;
    --names) names="${2:?--names needs a build directory}"; shift ;;
    *) echo "usage: scripts/lint.sh [--fix] [--names BUILD_DIR]" >&2; exit 2 ;;
  esac
  shift
done
mapfile -t sources < <(git ls-files '*.cpp' '*.h' '*.c')
if [ $fix -eq 1 ]; then
  clang-format -i "${sources[@]}"
elif ! clang-format --dry-run -Werror "${sources[@]}" 2>/tmp/lint-format.$$; then
  grep -o '^[^:]*:[0-9]*' /tmp/lint-format.$$ | sort -u | head -20 >&2
  rm -f /tmp/lint-format.$$
  echo "lint: layout differs from .clang-format (scripts/lint.sh --fix mends it)" >&2
  exit 1
fi
rm -f /tmp/lint-format.$$
echo "lint: layout ok (${#sources[@]} files)"
[ -z "$names" ] && exit 0
[ -f "$names/compile_commands.json" ] || { echo "lint: $names/compile_commands.json missing (configure with -DCMAKE_EXPORT_COMPILE_COMMANDS=ON)" >&2; exit 2; }
command -v run-clang-tidy >/dev/null || { echo "lint: run-clang-tidy missing (apt-get install clang-tidy)" >&2; exit 2; }
mapfile -t units < <(git ls-files '*.cpp' | grep -v '^fuzz/')
run-clang-tidy -quiet -p "$names" -j "$(nproc)" "${units[@]/#/$PWD/}" > "$names/lint-names.log" 2>&1 || true
# Headers are seen once per file that includes them, some through the build's include roots.
sed 's/\x1b\[[0-9;]*m//g; s#[^ ]*/include-roots/[a-z_]*/#'"$PWD"'/#' "$names/lint-names.log" |
  grep 'readability-identifier-naming' | sort -u > "$names/lint-names.txt" || true
count=$(wc -l < "$names/lint-names.txt")
head -40 "$names/lint-names.txt" >&2
if [ "$count" -ne 0 ]; then echo "lint: $count names break the convention" >&2; exit 1; fi
echo "lint: names ok"
