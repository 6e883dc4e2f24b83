#!/usr/bin/env bash
# Saves a picture of every window, with demonstration content from the tests'
# fixtures (servers on 127.0.0.1 only), to docs/screenshots/ for the README
# and the metainfo. Rerun it when windows change. It builds the test tree as
# ./test.sh does and runs the screenshot tool as the `screenshots` test, under
# the offscreen platform with the tests' environment, so no display is needed.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
quillmint_install_deps
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUILLMINT_SANITIZE=ON
cmake --build build-asan --target quillmint_screenshots
rm -rf build-asan/tests/screenshots
ctest --test-dir build-asan -R '^screenshots$' --output-on-failure
mkdir -p docs/screenshots
cp build-asan/tests/screenshots/*.png docs/screenshots/
ls -l docs/screenshots
