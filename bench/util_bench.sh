#!/usr/bin/env bash
# Throughput and peak memory of CUtil's file functions (ZipFile, UnzipFile,
# Base64EncodeFile, Base64DecodeFile) on 1 MB, 100 MB and 1 GB files, through
# the utilcli.exe driver under Wine, beside gzip and base64 on the same files.
# Memory must not grow with the file size.
#
# Data: a 1 MiB block, repeated. A quarter of it is random bytes, the rest is
# the text of `seq`: the repeat distance (1 MiB) is far beyond deflate's 32 KiB
# window, so gzip works on every byte as on a real mixed document instead of
# coasting on the repetition; Base64 does not care about content.
#
# Usage: bench/util_bench.sh [sizes in MiB...]   (default: 1 100 1024)
# Env: UTIL_BENCH_DIR scratch folder (default /tmp; the 1 GiB round needs about
# 3.5 GB free at a time), UTIL_BENCH_BUILD build dir. Scratch files are removed.
set -euo pipefail
TVL_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$TVL_ROOT/scripts/bench-env.sh"
# The width the machine runs (the 32-bit DLL where it can; TVL_ARCH picks one).
given_prefix=${TVL_WINEPREFIX:-}
TVL_PREFIX_NAME=wineprefix-utilbench tvl_arch_use "$(tvl_arches one)"
BUILD=${UTIL_BENCH_BUILD:-$TVL_BUILD/utilbench}
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(1 100 1024)

# An optimised build of the driver, apart from the test build.
if [ ! -f "$BUILD/CMakeCache.txt" ]; then
  cmake -S "$TVL_ROOT" -B "$BUILD" -DCMAKE_TOOLCHAIN_FILE="$TVL_TOOLCHAIN" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$BUILD" --target utilcli -j2 >/dev/null
CLI=$BUILD/bin/utilcli.exe

# A prefix of its own, so that a test run elsewhere is not disturbed.
own_prefix=1
if [ -n "$given_prefix" ]; then
  export TVL_WINEPREFIX=$given_prefix
  own_prefix=
fi
work=$(mktemp -d "${UTIL_BENCH_DIR:-/tmp}/tvl-util-bench.XXXXXX")
cleanup() {
  rm -rf "$work"
  tvl_env_stop
  [ -z "$own_prefix" ] || rm -rf "$TVL_WINEPREFIX"
}
trap cleanup EXIT
tvl_env_start

block=$work/block
seq 1 200000 > "$work/seq"
{ head -c 262144 /dev/urandom; head -c 786432 "$work/seq"; } > "$block"
rm -f "$work/seq"

# run OP SRC DST: prints one result row
run() {
  local op=$1 src=$2 dst=$3 mib=$4 t0 t1 log=$work/cli.log
  t0=$(date +%s%N)
  "$TVL_ROOT/scripts/wine-run.sh" "$CLI" "$op" "Z:$src" "Z:$dst" </dev/null >/dev/null 2>"$log" || {
    cat "$log" >&2; echo "utilcli $op failed" >&2; exit 1; }
  t1=$(date +%s%N)
  local ms peak in out n0 n1
  ms=$(tr -d '\r' <"$log" | sed -n 's/^op=[a-z0-9]* ms=\([0-9.]*\)$/\1/p')
  peak=$(tr -d '\r' <"$log" | sed -n 's/^peak_working_set_kb=//p')
  in=$(stat -c %s "$src"); out=$(stat -c %s "$dst")
  # The same work by the native tool, into a file of its own.
  n0=$(date +%s%N)
  case $op in
    zip) gzip -6 -n -c "$src" > "$work/native.out" ;;
    unzip) gzip -d -c "$src" > "$work/native.out" ;;
    b64enc) base64 -w0 "$src" > "$work/native.out" ;;
    b64dec) base64 -d -i "$src" > "$work/native.out" ;;
  esac
  n1=$(date +%s%N)
  rm -f "$work/native.out"
  awk -v op="$op" -v mib="$mib" -v nin="$in" -v nout="$out" -v ms="$ms" \
      -v wall=$(( (t1 - t0) / 1000000 )) -v peak="$peak" -v nat=$(( (n1 - n0) / 1000000 )) 'BEGIN {
    tp = ms > 0 ? nin / 1048576 / (ms / 1000) : 0
    printf "%6d MiB  %-7s %14d %14d %9.1f %9d %9.1f %10d %9d %6.2f\n", mib, op, nin, nout, ms, wall,
      tp, peak, nat, (nat > 0 ? ms / nat : 0) }'
}

echo "load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%10s  %-7s %14s %14s %9s %9s %9s %10s %9s %6s\n' size op "in bytes" "out bytes" "op ms" \
  "wall ms" "MiB/s" "peak KiB" "native" "op/nat"
for mib in "${sizes[@]}"; do
  src=$work/data.bin
  for ((i = 0; i < mib; i++)); do cat "$block"; done > "$src"
  run zip "$src" "$work/data.gz" "$mib"
  run unzip "$work/data.gz" "$work/data.out" "$mib"
  cmp -s "$src" "$work/data.out" || { echo "unzip result differs ($mib MiB)" >&2; exit 1; }
  rm -f "$work/data.gz" "$work/data.out"
  run b64enc "$src" "$work/data.b64" "$mib"
  run b64dec "$work/data.b64" "$work/data.dec" "$mib"
  cmp -s "$src" "$work/data.dec" || { echo "b64dec result differs ($mib MiB)" >&2; exit 1; }
  rm -f "$work/data.b64" "$work/data.dec" "$src"
done
echo "op ms: the function alone (timed inside the driver); wall ms: the Wine process;"
echo "MiB/s: input size / op time; peak KiB: PeakWorkingSetSize of the driver process;"
echo "native: ms of gzip -6, gzip -d, base64 -w0 or base64 -d on the same file; op/nat: op ms / native."
echo "load average at end: $(cut -d' ' -f1-3 /proc/loadavg)"
