#!/usr/bin/env bash
# Soak of the application object: Initialize/Finalize cycles in one process,
# with thread and handle counts before and after (they must match).
#   bench/app_soak.sh [CYCLES]     (default 200)
set -euo pipefail
TVL_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$TVL_ROOT"
bash scripts/setup.sh
export TVL_BUILD=${TVL_BUILD:-$TVL_ROOT/build}
export TVL_WINEPREFIX=${TVL_WINEPREFIX:-$TVL_BUILD/bench-prefix}
. scripts/bench-env.sh
tvl_build --target appsoak >/dev/null 2>&1 || cmake --build "$TVL_BUILD" --target appsoak -j2
trap tvl_env_stop EXIT
tvl_env_start
"$TVL_ROOT/scripts/wine-run.sh" "$TVL_BUILD/bin/app/appsoak.exe" "${1:-200}" </dev/null
