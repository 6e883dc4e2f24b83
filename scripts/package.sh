#!/usr/bin/env bash
# Builds a release of Quillmint and its Debian package:
# build-release/quillmint_<version>_<arch>.deb (install it with
# `sudo apt install ./build-release/quillmint_*.deb`).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
quillmint_install_deps
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUILLMINT_TESTS=OFF -DQUILLMINT_BENCH=OFF
cmake --build build-release --target quillmint
cd build-release
cpack -G DEB
