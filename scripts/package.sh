#!/usr/bin/env bash
# Builds the Debian package build/quelm_VERSION_ARCH.deb in the release
# build folder that scripts/test.sh uses (only what changed is rebuilt).
# Install it with: sudo apt-get install ./build/quelm_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh package
# The programs learn the folder they are installed into (/usr/bin), where
# they keep their configuration in each user's folder instead of beside them.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
cmake --build build -j "$(nproc)" --target quelm quelm-cli quelm-reader-sim quelm_install_data
rm -f build/quelm_*.deb
(cd build && cpack -G DEB >/dev/null)
ls build/quelm_*.deb
