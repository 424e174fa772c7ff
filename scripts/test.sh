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

# What a failed CTest phase shows: its count, the tests that failed and why
# the run does not accept it, or the end of the log when CTest could not run.
ctest_report() {
  if [ -n "$phase_note" ]; then
    printf '    %s\n' "$phase_note" >&2
    [ -z "$phase_failed" ] || printf '    failed: %s\n' "$phase_failed" >&2
  else
    tvl_phase_tail
  fi
  [ -z "$phase_problems" ] || printf '%s' "$phase_problems" | sed 's/^/    /' >&2
}

# What one CTest run did, a line per test: "passed NAME", "failed NAME",
# "skipped NAME" or "exitdied NAME" (the test printed gtest's PASSED and no
# FAILED, and its process then died: no timeout, no output check that failed).
ctest_results() {  # junit-file ctest-output
  python3 - "$@" <<'PY'
import re, sys, xml.etree.ElementTree as ET
junit, log = sys.argv[1], sys.argv[2]
why = {}
for line in open(log, encoding="utf-8", errors="replace"):
    m = re.search(r"Test +#\d+: (\S+) [ .]*\*\*\*(\w+)", line)
    if m:
        why[m.group(1)] = m.group(2)
raw = open(junit, "rb").read().decode("utf-8", "replace")
raw = re.sub("[\x00-\x08\x0b\x0c\x0e-\x1f]", "", raw)
for case in ET.fromstring(raw).iter("testcase"):
    name, status = case.get("name"), case.get("status")
    out = case.findtext("system-out") or ""
    failure = case.find("failure")
    if status == "run":
        print("passed", name)
    elif status == "disabled" or (status == "notrun" and (
            case.find("skipped") is not None
            and case.find("skipped").get("message", "").startswith("SKIP_"))):
        print("skipped", name)
    elif (why.get(name) in ("Failed", "Exception") and failure is not None
          and not failure.get("message")
          and re.search(r"^\[  PASSED  \] [1-9]\d* tests?\.", out, re.M)
          and "[  FAILED  ]" not in out):
        print("exitdied", name)
    elif (why.get(name) in ("Failed", "Exception") and failure is not None
          and not failure.get("message") and not out.strip()):
        # not a word from the program: Wine did not start it
        print("exitdied", name)
    else:
        print("failed", name)
PY
}

# Totals of the run, for its last lines.
run_passed=0 run_failed=0 run_phases=0
run_second=() run_skipped=()

# A CTest run as a phase: "N passed" at the end of its line, then the tests
# that passed only on a second run and the skipped ones, by name. Only where
# Wine runs the tests (wine as the first argument) does a test that passed and
# then died at exit get its one rerun: a native test that dies after passing
# is a sanitizer's report.
ctest_phase() {  # text wine|native ctest-args...
  local text=$1 where=$2 rc=0 junit kind name part again=()
  local -a passed=() failed=() skipped=() died=() second=() must=()
  shift 2
  phase_problems=
  junit=$(dirname "$TVL_LOG")/ctest-$run_phases.xml
  run_phases=$((run_phases + 1))
  tvl_phase_begin "$text"
  rm -f "$junit"
  tvl_run ctest --output-junit "$junit" "$@" >>"$TVL_LOG" 2>&1 </dev/null || rc=$?
  part=$(mktemp)
  tail -c +$((TVL_PHASE_OFFSET + 1)) "$TVL_LOG" >"$part"
  if [ -s "$junit" ]; then
    while read -r kind name; do
      case $kind in
        passed) passed+=("$name") ;;
        skipped) skipped+=("$name") ;;
        exitdied) [ "$where" = wine ] && died+=("$name") || failed+=("$name") ;;
        *) failed+=("$name") ;;
      esac
    done < <(ctest_results "$junit" "$part")
  fi
  if [ ${#died[@]} -gt 0 ]; then
    # Wine now and then dies at process exit after a passing test, or starts
    # nothing at all: one rerun of those tests alone, each named in the result.
    printf '\n==== once more, the tests that passed and then died at exit or that Wine did not start: %s\n' "${died[*]}" >>"$TVL_LOG"
    rm -f "$junit.again"
    tvl_run ctest --output-junit "$junit.again" "$@" \
      -R "^($(printf '%s\n' "${died[@]}" | sed 's/[^A-Za-z0-9_/-]/\\&/g' | paste -sd'|'))\$" \
      >>"$TVL_LOG" 2>&1 </dev/null || true
    tail -c +$((TVL_PHASE_OFFSET + 1)) "$TVL_LOG" >"$part"
    [ -s "$junit.again" ] && mapfile -t again < <(ctest_results "$junit.again" "$part")
    for name in "${died[@]}"; do
      if printf '%s\n' "${again[@]}" | grep -qxF "passed $name"; then
        second+=("$name")
        passed+=("$name")
      else
        failed+=("$name")
      fi
    done
    [ ${#failed[@]} -gt 0 ] || rc=0
  fi
  rm -f "$part"
  if [ -n "${TVL_PCSC_REQUIRED:-}" ] && [ ${#skipped[@]} -gt 0 ]; then
    mapfile -t must < <(ctest "$@" -N -L '^pcsc$' | sed -nE 's/^ *Test +#[0-9]+: (.*)$/\1/p')
    for name in "${skipped[@]}"; do
      if printf '%s\n' "${must[@]}" | grep -qxF "$name"; then
        phase_problems+="$name skipped although the card bench is up"$'\n'
        rc=1
      fi
    done
  fi
  if [ ! -s "$junit" ]; then
    rc=1
  elif [ ${#passed[@]} -eq 0 ] && [ ${#failed[@]} -eq 0 ]; then
    phase_problems+="no test ran"$'\n'
    rc=1
  fi
  run_passed=$((run_passed + ${#passed[@]}))
  run_failed=$((run_failed + ${#failed[@]}))
  run_second+=("${second[@]}")
  run_skipped+=("${skipped[@]}")
  phase_note=
  [ ! -s "$junit" ] ||
    phase_note=$(tests_summary ${#passed[@]} "${#failed[@]}" "${second[*]}" "${skipped[*]}")
  phase_failed=$(sed 's/ /, /g' <<<"${failed[*]}")
  TVL_PHASE_REPORT=ctest_report
  tvl_phase_end $rc "$phase_note"
}

# "316 passed, 2 of them on a second run: A, B; 3 skipped (C, D, E)"
tests_summary() {  # passed failed "second-run names" "skipped names"
  local text="$1 passed" sep=", " second=($3) skipped=($4)
  if [ ${#second[@]} -gt 0 ]; then
    text+=", ${#second[@]} of them on a second run: $(sed 's/ /, /g' <<<"${second[*]}")"
    sep="; "
  fi
  [ "$2" -eq 0 ] || text+="$sep$2 failed"
  if [ ${#skipped[@]} -gt 0 ]; then
    text+="$sep${#skipped[@]} skipped ($(sed 's/ /, /g' <<<"${skipped[*]}"))"
  fi
  printf '%s' "$text"
}

finish() {
  local rc=$? last
  tvl_finish $rc
  rc=$?
  if [ "$run_phases" -gt 0 ]; then
    tvl_log "$(tests_summary $run_passed 0 "${run_second[*]}" "${run_skipped[*]}")"
  fi
  if [ $rc -eq 0 ]; then
    tvl_log "all tests passed in $(tvl_total_time); log: $(tvl_shown "$TVL_LOG")"
  else
    tvl_log "FAILED after $(tvl_total_time); log: $(tvl_shown "$TVL_LOG")"
  fi
  # The plain count CI reads, alone on the last line.
  if [ "$run_phases" -gt 0 ]; then
    last="$run_passed passed, $run_failed failed"
    [ ${#run_skipped[@]} -eq 0 ] || last+=", ${#run_skipped[@]} skipped"
    printf '%s\n' "$last" >&2
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
  # Listing runs every new test program under Wine once (the cases' names):
  # in a fresh clone a program has come back with nothing. Said, and once more.
  if ! n=$(ctest --test-dir "$TVL_BUILD" -N "$@" 2>>"$TVL_LOG" | sed -n 's/^Total Tests: //p'); then
    tvl_log "listing the tests under Wine failed (the log has why): listing them again"
    n=$(ctest --test-dir "$TVL_BUILD" -N "$@" 2>>"$TVL_LOG" | sed -n 's/^Total Tests: //p') || n=
  fi
  [ "$n" = 1 ] && tests="1 test" || tests="${n:-the} tests"
  ctest_phase "running $tests under Wine ($arch, ctest -j4)" wine --test-dir "$TVL_BUILD" -j4 \
    --timeout 180 --output-on-failure "$@" || status=1
  tvl_phase "stopping Wine ($arch)" tvl_wine_stop || status=1
done
if [ -n "${TVL_NO_NATIVE:-}" ]; then
  tvl_log "native codec tests not run (TVL_NO_NATIVE is set)"
elif [ -x tests/native/run.sh ]; then
  tvl_phase "building the native codec tests in build-native/" tests/native/run.sh --build &&
    n=$(ctest --test-dir build-native -N | sed -n 's/^Total Tests: //p') &&
    ctest_phase "running ${n:-the} native codec tests" native --test-dir build-native --timeout 300 \
      --output-on-failure || status=1
fi
exit $status
