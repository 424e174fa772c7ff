#!/usr/bin/env bash
# Signing and decoding through the library (Windows session under Wine) against
# OpenSSL on the same files in the same run: wall time, the ratio library/OpenSSL,
# and the peak memory of each. The library's memory must not grow with the size.
#   bench/sign_bench.sh [MiB ...]      (default: 1 100 1024)
set -euo pipefail
TVL_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$TVL_ROOT"
bash scripts/setup.sh
export TVL_BUILD=${TVL_BUILD:-$TVL_ROOT/build}
export TVL_WINEPREFIX=${TVL_WINEPREFIX:-$TVL_BUILD/bench-prefix}
. scripts/bench-env.sh
tvl_build_targets certinstall sessioncli tvlkeepalive >/dev/null
work=$(mktemp -d "$TVL_BUILD/signbench.XXXXXX")
cleanup() { rm -rf "$work"; tvl_env_stop; }
trap cleanup EXIT
tvl_env_start
pki=$TVL_ROOT/tests/fixtures/pki
winpath() { printf 'Z:%s' "$1" | tr '/' '\\'; }
run() { "$TVL_ROOT/scripts/wine-run.sh" "$@" </dev/null 2>&1 | tr -d '\r'; }
run "$TVL_BUILD/bin/certinstall.exe" install "$(winpath "$pki/install.manifest")" >/dev/null
cli=$TVL_BUILD/bin/sessioncli.exe
cat "$pki/authorities/1039.pem" "$pki/authorities/1041.pem" > "$work/ca.pem"

# Seconds and peak KiB of a native command.
timed() { /usr/bin/time -f '%e %M' -o "$work/time" "$@" >/dev/null 2>&1; cat "$work/time"; }
# Seconds (wall, with Wine's start) and the process's own peak working set.
lib() {
  local start end out
  start=$(date +%s.%N)
  out=$(run "$cli" "$@")
  end=$(date +%s.%N)
  grep -q '^ms=' <<<"$out" || { echo "library failed: $out" >&2; exit 1; }
  printf '%.2f %s\n' "$(echo "$end - $start" | bc -l)" "$(sed -n 's/.*peak-kb=\([0-9]*\).*/\1/p' <<<"$out")"
}
ratio() { echo "scale=2; $1 / $2" | bc -l; }

printf '%-8s %-6s %10s %10s %7s %14s %14s\n' size op lib-s openssl-s ratio lib-peak-MiB openssl-peak-MiB
for mib in "${@:-1 100 1024}"; do
  for m in $mib; do
    f=$work/data
    head -c $((m * 1024 * 1024)) /dev/urandom > "$f"
    read -r ls lp < <(lib sign file dni-sign dni-auth MD5WITHRSA "$(winpath "$f")" "$(winpath "$f.lib.p7")")
    read -r os op < <(timed openssl cms -sign -binary -nodetach -stream -outform DER -md md5 \
      -signer "$pki/certs/dni-sign.pem" -inkey "$pki/keys/dni-sign.key.pem" -in "$f" -out "$f.ossl.p7")
    printf '%-8s %-6s %10s %10s %7s %14s %14s\n' "${m}MiB" sign "$ls" "$os" "$(ratio "$ls" "$os")" \
      "$((lp / 1024))" "$((op / 1024))"
    read -r ld lp < <(lib check "$(winpath "$f.ossl.p7")" "$(winpath "$f.lib.out")")
    read -r od op < <(timed openssl cms -verify -inform DER -binary -CAfile "$work/ca.pem" \
      -in "$f.ossl.p7" -out "$f.ossl.out")
    printf '%-8s %-6s %10s %10s %7s %14s %14s\n' "${m}MiB" verify "$ld" "$od" "$(ratio "$ld" "$od")" \
      "$((lp / 1024))" "$((op / 1024))"
    cmp -s "$f" "$f.lib.out" || { echo "decoded content differs" >&2; exit 1; }
    rm -f "$f" "$f".*
  done
done
