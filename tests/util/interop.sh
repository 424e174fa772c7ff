#!/usr/bin/env bash
# Interop of CUtil's file functions with gzip, gunzip and base64, through utilcli.exe.
# Usage: interop.sh path/to/utilcli.exe
set -euo pipefail
cli=$1
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
run=$here/../../scripts/wine-run.sh
work=$(mktemp -d "${TMPDIR:-/tmp}"/tvl-util-interop.XXXXXX)
trap 'rm -rf "$work"' EXIT
win() { echo "Z:$1"; }

names=()
for n in 0 1 4095 4096 4097 1048576; do
  head -c "$n" /dev/urandom > "$work/in_$n"
  names+=("$n")
done
# Compressible text too, so that deflate uses matches and not only literals.
seq 1 200000 > "$work/in_text"
names+=(text)

args=()
for n in "${names[@]}"; do
  f=$work/in_$n
  gzip -c -n "$f" > "$work/tool_$n.gz"
  base64 -w 76 "$f" > "$work/tool_$n.b64"
  args+=(zip "$(win "$f")" "$(win "$work/lib_$n.gz")"
         unzip "$(win "$work/tool_$n.gz")" "$(win "$work/lib_$n.out")"
         b64enc "$(win "$f")" "$(win "$work/lib_$n.b64")"
         b64dec "$(win "$work/tool_$n.b64")" "$(win "$work/lib_$n.dec")")
done
# Several gzip members in one file decompress to the concatenation.
cat "$work/tool_4097.gz" "$work/tool_text.gz" > "$work/multi.gz"
cat "$work/in_4097" "$work/in_text" > "$work/multi.expected"
args+=(unzip "$(win "$work/multi.gz")" "$(win "$work/lib_multi.out")")

"$run" "$cli" "${args[@]}" </dev/null 2>"$work/cli.log" >/dev/null || {
  cat "$work/cli.log" >&2; echo "utilcli failed" >&2; exit 1; }

fail=0
check() { # description, command...
  local what=$1; shift
  if "$@"; then echo "ok   $what"; else echo "FAIL $what"; fail=1; fi
}
for n in "${names[@]}"; do
  f=$work/in_$n
  check "gunzip reads ZipFile output ($n)" bash -c "gunzip -c '$work/lib_$n.gz' | cmp -s - '$f'"
  check "gzip -t accepts ZipFile output ($n)" gzip -t "$work/lib_$n.gz"
  check "UnzipFile reads gzip output ($n)" cmp -s "$work/lib_$n.out" "$f"
  check "Base64EncodeFile equals base64 -w0 ($n)" bash -c "base64 -w0 '$f' | cmp -s - '$work/lib_$n.b64'"
  check "Base64DecodeFile reads base64 -w76 ($n)" cmp -s "$work/lib_$n.dec" "$f"
done
check "UnzipFile joins gzip members" cmp -s "$work/lib_multi.out" "$work/multi.expected"
exit $fail
