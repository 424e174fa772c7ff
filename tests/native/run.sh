#!/usr/bin/env bash
# Builds and runs the host-compiled codec tests (build-native/ at the top of the tree).
#   run.sh [ctest args]   build, then run
#   run.sh --build        build only
#   run.sh --run [args]   run only
set -euo pipefail
cd "$(dirname "$0")/../.."
step=all
case "${1:-}" in
  --build | --run) step=${1#--}; shift ;;
esac
if [ $step != run ]; then
  cmake -S tests/native -B build-native >/dev/null
  cmake --build build-native -j2
fi
if [ $step != build ]; then
  ctest --test-dir build-native --timeout 300 --output-on-failure "$@"
fi
