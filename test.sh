#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs every test headless.
# Extra arguments go to ctest (for example: ./test.sh -R TextOps).
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
quillmint_install_deps
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUILLMINT_SANITIZE=ON
cmake --build build-asan
cd build-asan
ctest --output-on-failure --timeout 600 "$@"
