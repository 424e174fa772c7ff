#!/usr/bin/env bash
# Builds the library and runs every test: the Windows tests under Wine (CTest),
# the smart-card tests against a real pcscd with virtual cards, and the native
# codec tests. Installs what it needs first.
set -euo pipefail
TVL_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$TVL_ROOT"
bash scripts/setup.sh
. scripts/bench-env.sh

tvl_build
PCSC_BENCH=tests/smartcard/bench/pcsc-bench.sh
# Only a run that took the bench stops it: another checkout's bench is not ours.
bench_taken=
cleanup() {
  [ -n "$bench_taken" ] && "$PCSC_BENCH" stop >/dev/null 2>&1 || true
  tvl_env_stop
}
trap cleanup EXIT
tvl_env_start
# One PC/SC bench per machine (pcscd's socket, the readers' ports): runs of
# several checkouts take turns. TVL_NO_PCSC=1 runs without it (card tests skip).
if [ -x "$PCSC_BENCH" ] && [ -z "${TVL_NO_PCSC:-}" ]; then
  exec 9>/tmp/tvl-pcsc-bench.lock
  flock 9
  bench_taken=1
  "$PCSC_BENCH" start 9>&-
  export TVL_PCSC_REQUIRED=1
fi

status=0
# Wine itself now and then dies at process exit after a passing test: one rerun.
ctest --test-dir "$TVL_BUILD" -j4 --timeout 180 --repeat until-pass:2 --output-on-failure "$@" || status=$?
if [ -x tests/native/run.sh ]; then
  tests/native/run.sh || status=$?
fi
exit $status
