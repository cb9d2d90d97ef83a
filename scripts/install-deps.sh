#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need.
set -euo pipefail
PKGS=(build-essential cmake ninja-build pkg-config libsqlite3-dev sqlite3
      python3 python3-pytest python3-setuptools python3-venv
      libgtest-dev libgmock-dev googletest libbenchmark-dev
      clang libclang-rt-14-dev libpng-dev libzint-dev libfreetype-dev fonts-dejavu-core
      qt6-base-dev libgl-dev libxkbcommon-dev
      clang-format help2man lintian acl)
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  # A mirror hiccup should not fail the whole run: try a few times.
  for attempt in 1 2 3; do
    if $SUDO apt-get update -qq &&
       DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"; then
      exit 0
    fi
    echo "apt-get failed (attempt $attempt), retrying" >&2
    sleep $((attempt * 10))
  done
  echo "could not install: ${missing[*]}" >&2
  exit 1
fi
