#!/usr/bin/env bash
# Builds the library and runs every test: the Windows tests under Wine (CTest),
# the smart-card tests against a real pcscd with virtual cards, and the native
# codec tests. Installs what it needs first. One line per phase on the
# terminal; the tools' own output goes to build/logs/test.log (TVL_VERBOSE=1
# shows it as well). Extra arguments go to the Wine CTest run.
set -euo pipefail
TVL_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$TVL_ROOT"
. scripts/bench-env.sh

# The failed tests, or the end of the log when CTest could not run them.
ctest_report() {
  local part
  part=$(tail -c +$((TVL_PHASE_OFFSET + 1)) "$TVL_LOG")
  if grep -q '^The following tests FAILED:' <<<"$part"; then
    sed -n '/^The following tests FAILED:/,$p' <<<"$part" | sed 's/^/    /' >&2
  else
    tvl_phase_tail
  fi
}

# A CTest run as a phase: "N passed" at the end of its line.
ctest_phase() {  # text ctest-args...
  local text=$1 rc=0 passed
  shift
  tvl_phase_begin "$text"
  tvl_run ctest "$@" >>"$TVL_LOG" 2>&1 </dev/null || rc=$?
  passed=$(tail -c +$((TVL_PHASE_OFFSET + 1)) "$TVL_LOG" |
    sed -nE 's/^100% tests passed, 0 tests failed out of ([0-9]+)$/\1 passed/p')
  TVL_PHASE_REPORT=ctest_report
  tvl_phase_end $rc "$passed"
}

finish() {
  local rc=$?
  tvl_finish $rc
  rc=$?
  if [ $rc -eq 0 ]; then
    tvl_log "all tests passed in $(tvl_total_time); log: $(tvl_shown "$TVL_LOG")"
  else
    tvl_log "FAILED after $(tvl_total_time); log: $(tvl_shown "$TVL_LOG")"
  fi
  exit $rc
}

tvl_log_open test
tvl_trap_exit finish
tvl_setup_phase
arches=$(tvl_arches all)
tvl_log "widths: ${arches// / and } ($(tvl_arch_reason))"
status=0

# Where 32-bit programs cannot run, the 32-bit DLL (the product) is still
# built and its file checked: machine, exports, imports.
if [ -z "$TVL_ARCH_ASKED" ] && ! tvl_x86_runs; then
  tvl_arch_use x86
  what="building the 32-bit DLL in $(tvl_shown "$TVL_BUILD")/ (not run here)"
  [ -f "$TVL_BUILD/CMakeCache.txt" ] || what="configuring and $what"
  tvl_phase "$what" tvl_build_targets tarvosel
  tvl_phase "checking the 32-bit DLL without running it (PE machine i386, decorated exports, system imports only)" \
    bash tests/api/export_table.sh "$TVL_BUILD/bin/tarvosel.dll" || status=1
fi

pcsc_done=
for arch in $arches; do
  tvl_arch_use "$arch"
  what="building the library and the tests ($arch) in $(tvl_shown "$TVL_BUILD")/"
  [ -f "$TVL_BUILD/CMakeCache.txt" ] || what="configuring and $what"
  tvl_phase "$what" tvl_build
  tvl_env_phase
  if [ -z "$pcsc_done" ]; then
    pcsc_done=1
    if [ -x "$TVL_PCSC_BENCH" ] && [ -z "${TVL_NO_PCSC:-}" ]; then
      tvl_pcsc_phase
      export TVL_PCSC_REQUIRED=1
    else
      tvl_log "no card bench (TVL_NO_PCSC is set): the card tests skip"
    fi
  fi
  n=$(ctest --test-dir "$TVL_BUILD" -N "$@" | sed -n 's/^Total Tests: //p')
  [ "$n" = 1 ] && tests="1 test" || tests="${n:-the} tests"
  # Wine itself now and then dies at process exit after a passing test: one rerun.
  ctest_phase "running $tests under Wine ($arch, ctest -j4)" --test-dir "$TVL_BUILD" -j4 \
    --timeout 180 --repeat until-pass:2 --output-on-failure "$@" || status=1
  tvl_phase "stopping Wine ($arch)" tvl_wine_stop || status=1
done
if [ -n "${TVL_NO_NATIVE:-}" ]; then
  tvl_log "native codec tests not run (TVL_NO_NATIVE is set)"
elif [ -x tests/native/run.sh ]; then
  tvl_phase "building the native codec tests in build-native/" tests/native/run.sh --build &&
    n=$(ctest --test-dir build-native -N | sed -n 's/^Total Tests: //p') &&
    ctest_phase "running ${n:-the} native codec tests" --test-dir build-native --timeout 300 \
      --output-on-failure || status=1
fi
exit $status
