#!/usr/bin/env bash
# The profile back-end's figures, printed:
#  - signing through an Entrust session against `openssl cms -sign` (SHA-256,
#    streamed) on the same files: wall time, ratio, peak memory of each; the
#    library's memory must not grow with the size;
#  - how long a login takes on a good profile and how quickly bad ones are
#    refused (garbage, truncated, wrong password, read-only, locked by another
#    process, huge, crafted with every key derivation at the iteration cap or
#    past it), measured inside the process around Open;
#  - a PKCS#12 export of both key pairs.
#   bench/epf_bench.sh [MiB ...]      (default: 1 100 1024)
set -euo pipefail
TVL_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$TVL_ROOT"
bash scripts/setup.sh
. scripts/bench-env.sh
# The width the machine runs (the 32-bit DLL where it can; TVL_ARCH picks one).
TVL_PREFIX_NAME=bench-prefix tvl_arch_use "$(tvl_arches one)"
tvl_build >/dev/null
work=$(mktemp -d "$TVL_BUILD/epfbench.XXXXXX")
cleanup() { rm -rf "$work"; tvl_env_stop; }
trap cleanup EXIT
tvl_env_start
winpath() { printf 'Z:%s' "$1" | tr '/' '\\'; }
run() { "$TVL_ROOT/scripts/wine-run.sh" "$@" </dev/null 2>&1 | tr -d '\r'; }
cli=$TVL_BUILD/bin/epfcli.exe
fx=$work/fixtures
python3 tests/fixtures/epf/mkepf.py "$TVL_BUILD/bin/mkepf.exe" "$fx" >/dev/null
cp "$fx/user.epf" "$fx/user.pch" "$work/"
profile=$(winpath "$work/user.epf")

timed() { /usr/bin/time -f '%e %M' -o "$work/time" "$@" >/dev/null 2>&1; cat "$work/time"; }
ratio() { if [ "$(echo "$2 > 0" | bc -l)" = 1 ]; then echo "scale=2; $1 / $2" | bc -l; else echo -; fi; }
field() { sed -n "s/.*$1=\\([0-9-]*\\).*/\\1/p" <<<"$2" | head -1; }

echo "== signing (SHA-256)"
printf '%-8s %10s %10s %7s %14s %16s\n' size lib-s openssl-s ratio lib-peak-MiB openssl-peak-MiB
for m in ${@:-1 100 1024}; do
  f=$work/data
  head -c $((m * 1024 * 1024)) /dev/urandom > "$f"
  out=$(run "$cli" sign "$profile" Prueba1234 SSHA256WITHRSA "$(winpath "$f")" "$(winpath "$f.p7")")
  grep -q '^signed' <<<"$out" || { echo "library failed: $out" >&2; exit 1; }
  ls=$(echo "scale=2; $(field ms "$out") / 1000" | bc -l)
  lp=$(field peak-kb "$out")
  read -r os op < <(timed openssl cms -sign -binary -nodetach -stream -outform DER -md sha256 \
    -signer "$fx/user-sign.pem" -inkey "$fx/user-sign.key.pem" -in "$f" -out "$f.ossl.p7")
  printf '%-8s %10s %10s %7s %14s %16s\n' "${m}MiB" "$ls" "$os" "$(ratio "$ls" "$os")" \
    "$((lp / 1024))" "$((op / 1024))"
  rm -f "$f" "$f".*
done

echo "== logins (time inside Open)"
good=$(wc -c < "$work/user.epf")
head -c 5000 /dev/urandom > "$work/garbage.epf"
head -c $((good / 2)) "$work/user.epf" > "$work/truncated.epf"
cp "$work/user.epf" "$work/readonly.epf"; chmod a-w "$work/readonly.epf"
cp "$work/user.epf" "$work/locked.epf"
cp "$work/user.epf" "$work/huge.epf"; truncate -s 2G "$work/huge.epf"
cp "$fx/legacy.epf" "$work/legacy.epf"
# Crafted: every key derivation at the reader's iteration cap (SHA-512 MAC, the
# costliest), and one past it. Refused with any other password after the MAC
# alone; with the right one every part is derived at the cap.
cap=$(sed -n 's/.*MAX_ITERATIONS = \([0-9]*\);.*/\1/p' platform/pkcs12/CPkcs12Pbe.h)
for c in "cap $cap" "over $((cap + 1))"; do
  read -r name iter <<<"$c"
  openssl pkcs12 -export -iter "$iter" -macalg sha512 -inkey "$fx/single.key.pem" -in "$fx/single-cert.pem" \
    -certfile "$fx/single-cert.pem" -passout pass:Prueba1234 -out "$work/crafted-$name.epf"
  cp "$fx/single.pch" "$work/crafted-$name.pch"
done
"$TVL_ROOT/scripts/wine-run.sh" "$cli" lock "$(winpath "$work/locked.epf")" tvl-epf-bench 20 </dev/null >/dev/null 2>&1 &
lock_pid=$!
sleep 3
printf '%-28s %8s %8s\n' profile result ms
for c in "user Prueba1234" "legacy Prueba1234" "user wrong" "garbage Prueba1234" "truncated Prueba1234" \
         "readonly Prueba1234" "locked Prueba1234" "huge Prueba1234" \
         "crafted-cap wrong" "crafted-cap Prueba1234" "crafted-over wrong"; do
  read -r name pw <<<"$c"
  best=""
  for i in 1 2 3; do
    out=$(run "$cli" open "$(winpath "$work/$name.epf")" "$pw")
    ms=$(field open-ms "$out")
    [ -z "$best" ] || [ "$ms" -lt "$best" ] && best=$ms
  done
  printf '%-28s %8s %8s\n' "$name ($pw)" "$(field result "$out")" "$best"
done
kill "$lock_pid" 2>/dev/null || true
wait "$lock_pid" 2>/dev/null || true

echo "== PKCS#12 export of both key pairs"
out=$(run "$cli" export "$profile" Prueba1234 3 "$(winpath "$work/out.pfx")")
echo "ms=$(field ms "$out") size=$(wc -c < "$work/out.pfx") bytes"
