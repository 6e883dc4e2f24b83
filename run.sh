#!/usr/bin/env bash
# Installs what is missing, builds Quillmint and starts it.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
quillmint_install_deps
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUILLMINT_TESTS=OFF -DQUILLMINT_BENCH=OFF
cmake --build build-release --target quillmint
exec build-release/src/quillmint "$@"
