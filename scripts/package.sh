#!/usr/bin/env bash
# Builds the Debian package: build-package/opos_VERSION_ARCH.deb. CPack makes it
# from an ordinary release build (cmake/OposPackage.cmake), so the package holds
# exactly what `cmake --install` lays out under /usr.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
BUILD=${BUILD:-build-package}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_LIBDIR=lib \
  -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
cmake --build "$BUILD" -j "$(nproc)" --target opos devsetup vprinter serialso parallelso usbso opos_man_pages opos_changelog
(cd "$BUILD" && cpack -G DEB)
ls "$BUILD"/opos_*.deb
