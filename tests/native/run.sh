#!/usr/bin/env bash
# Builds and runs the host-compiled codec tests (build-native/ at the top of the tree).
set -euo pipefail
cd "$(dirname "$0")/../.."
cmake -S tests/native -B build-native >/dev/null
cmake --build build-native -j2
ctest --test-dir build-native --timeout 300 --output-on-failure "$@"
