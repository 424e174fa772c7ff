#!/usr/bin/env bash
# Signing and checking through the library (a Windows session under Wine)
# against cp, OpenSSL and the shell pipeline on the same files, in one run:
#   sign, check          random data: the library's signing and decoding+verifying
#                        against cp (and cp followed by an fsync of the copy, as the
#                        library flushes what it writes), md5sum and openssl cms;
#   pipeline sign/check  mixed data (text and noise): the application object's
#                        SignFile/CheckSignedFile with gzip inside and Base64 outside
#                        against `gzip | openssl cms -sign -stream | base64 -w0` and
#                        `base64 -d | openssl cms -verify | gunzip`;
#   exports              the same through the real DLL: tvlhost.exe loads
#                        tarvosel.dll, opens a session through the login sheet
#                        (worked unattended, row "DIAZ MORA CARLOS") and calls
#                        FirmarFichero and ComprobarFirmaFichero plainly on the
#                        random file and with gzip and Base64 on the mixed one.
# Library figures are measured inside its process (op: the operation alone, no
# Wine start; wall: the whole Wine process, for the exports the host's whole
# run: start, login, the four calls). Each figure is the median of
# TVL_BENCH_REPS runs (default 3); outputs are removed before each run. Peak
# memory: the library's PeakWorkingSetSize (for the exports, of the host's
# process over its four calls), the others' maximum RSS.
# Before every timed run everything written so far is synced, so that no run
# pays for the writing back of another's output. The warm figures leave the
# files in the page cache (with enough memory, nobody waits for the disk); the
# cold ones (unless TVL_BENCH_CACHE=warm) drop the page cache
# (sync, then 3 into /proc/sys/vm/drop_caches, which needs root) before each
# timed run of sign, check, cp, md5sum, openssl and the plain exports, so that
# every tool reads its input from the disk. The exports then run one call per
# host process (start, login, the call: the drop comes before Wine starts, its
# own files are read back before the call). The pipelines, bounded by deflate,
# are measured warm only. Without root the cold columns show "-" and the script
# says why.
#   bench/sign_bench.sh [MiB ...]      (default: 1 100 1024)
# It runs once for every width the machine runs (TVL_ARCH picks one).
# SIGN_BENCH_CLI measures the sessioncli.exe of another build.
set -euo pipefail
TVL_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$TVL_ROOT"
bash scripts/setup.sh
. scripts/bench-env.sh
# Every width the machine runs, one table each, the 32-bit one first.
if [ -z "${SIGN_BENCH_WIDTH:-}" ]; then
  for width in $(tvl_arches all); do
    case $width in x86) echo "== 32-bit DLL (x86)" ;; x64) echo "== 64-bit DLL (x64)" ;; esac
    SIGN_BENCH_WIDTH=$width bash "$0" "$@"
    echo
  done
  exit 0
fi
TVL_PREFIX_NAME=bench-prefix tvl_arch_use "$SIGN_BENCH_WIDTH"
tvl_build_targets certinstall sessioncli tarvosel tvlhost tvlkeepalive >/dev/null
reps=${TVL_BENCH_REPS:-3}
cache=${TVL_BENCH_CACHE:-both}
case $cache in warm | both) ;; *) echo "TVL_BENCH_CACHE: both or warm" >&2; exit 2 ;; esac
cold_note=
if [ "$cache" != warm ] && { [ "$(id -u)" != 0 ] || ! [ -w /proc/sys/vm/drop_caches ]; }; then
  cold_note="cold figures left out: dropping the page cache needs root (/proc/sys/vm/drop_caches)"
  cache=warm
fi
work=$(mktemp -d "$TVL_BUILD/signbench.XXXXXX")
cleanup() { rm -rf "$work"; tvl_env_stop; }
trap cleanup EXIT
tvl_env_start
pki=$TVL_ROOT/tests/fixtures/pki
winpath() { printf 'Z:%s' "$1" | tr '/' '\\'; }
run() { "$TVL_ROOT/scripts/wine-run.sh" "$@" </dev/null 2>&1 | tr -d '\r'; }
run "$TVL_BUILD/bin/certinstall.exe" install "$(winpath "$pki/install.manifest")" >/dev/null
cli=${SIGN_BENCH_CLI:-$TVL_BUILD/bin/sessioncli.exe}
# The host as a deployment has it: the DLL and tarvosel.ini beside it.
host=$work/host
mkdir -p "$host"
cp "$TVL_BUILD/bin/tvlhost.exe" "$TVL_BUILD/bin/tarvosel.dll" "$host/"
printf '[Configuracion tarvosel]\r\nLog=0\r\nIntpreepro=0\r\n' > "$host/tarvosel.ini"
signer=(-signer "$pki/certs/dni-sign.pem" -inkey "$pki/keys/dni-sign.key.pem")

# "ms peak-KiB" of a native command (its output files removed first by the caller).
native() {
  local t0 t1
  t0=$(date +%s%N)
  /usr/bin/time -f '%M' -o "$work/time" "$@" >/dev/null 2>&1
  t1=$(date +%s%N)
  printf '%d %s\n' $(( (t1 - t0) / 1000000 )) "$(cat "$work/time")"
}
# "op-ms wall-ms peak-KiB" of a sessioncli command.
lib() {
  local t0 t1 out
  t0=$(date +%s%N)
  out=$(run "$cli" "$@")
  t1=$(date +%s%N)
  grep -q 'op-ms=' <<<"$out" || { echo "library failed: $out" >&2; exit 1; }
  printf '%s %d %s\n' "$(sed -n 's/.*op-ms=\([0-9]*\).*/\1/p' <<<"$out")" \
    $(( (t1 - t0) / 1000000 )) "$(sed -n 's/.*peak-kb=\([0-9]*\).*/\1/p' <<<"$out")"
}
# "sign-ms check-ms psign-ms pcheck-ms wall-ms peak-KiB" of one host run through
# the exports: the plain pair on $f, the gzip+Base64 pair on $m.
exports() {
  local t0 t1 out
  rm -f "$f.dll.p7" "$f.dll.out" "$m.dll.b64" "$m.dll.out"
  t0=$(date +%s%N)
  out=$(cd "$host" && run "$host/tvlhost.exe" --times --unattended "DIAZ MORA CARLOS" init \
    temp "$(winpath "$host")" login \
    sign "$(winpath "$f")" "$(winpath "$f.dll.p7")" \
    check "$(winpath "$f.dll.p7")" "$(winpath "$f.dll.out")" \
    sign "$(winpath "$m")" "$(winpath "$m.dll.b64")" --base64 --gzip \
    check "$(winpath "$m.dll.b64")" "$(winpath "$m.dll.out")" --base64 --gzip logout fin || true)
  t1=$(date +%s%N)
  if [ "$(grep -c '^FirmarFichero -> 0 \|^ComprobarFirmaFichero -> 0 ' <<<"$out")" != 4 ] ||
    ! cmp -s "$f" "$f.dll.out" || ! cmp -s "$m" "$m.dll.out"; then
    echo "exports failed: $out" >&2
    exit 1
  fi
  printf '%s %d %s\n' "$(sed -n 's/^  op-ms=\([0-9]*\).*/\1/p' <<<"$out" | tr '\n' ' ')" \
    $(( (t1 - t0) / 1000000 )) "$(sed -n 's/^peak-kb=\([0-9]*\).*/\1/p' <<<"$out")"
}
# Before each timed run: nothing left to write back; cold, nothing in the cache.
settle() {
  sync
  if [ "$prep" = cold ]; then echo 3 > /proc/sys/vm/drop_caches; fi
}
prep=warm
# "op-ms" of one export in a host run of its own (start, login, the call).
export_one() { # sign|check IN OUT
  local out
  rm -f "$3"
  out=$(cd "$host" && run "$host/tvlhost.exe" --times --unattended "DIAZ MORA CARLOS" init \
    temp "$(winpath "$host")" login "$1" "$(winpath "$2")" "$(winpath "$3")" logout fin || true)
  grep -q '^FirmarFichero -> 0 \|^ComprobarFirmaFichero -> 0 ' <<<"$out" ||
    { echo "exports failed: $out" >&2; exit 1; }
  sed -n 's/^  op-ms=\([0-9]*\).*/\1/p' <<<"$out"
}
# Median of each column over the runs of a command given as a function name.
median() {
  local fn=$1 i
  shift
  for ((i = 0; i < reps; i++)); do settle; "$fn" "$@"; done | awk '
    { for (c = 1; c <= NF; c++) v[c, NR] = $c; n = NR; cols = NF }
    END {
      for (c = 1; c <= cols; c++) {
        for (i = 1; i <= n; i++) a[i] = v[c, i]
        for (i = 2; i <= n; i++) for (j = i; j > 1 && a[j] < a[j - 1]; j--) { t = a[j]; a[j] = a[j - 1]; a[j - 1] = t }
        printf "%s%s", (c > 1 ? " " : ""), a[int((n + 1) / 2)]
      }
      printf "\n"
    }'
}
# The warm median's columns, then the cold median's first column ("-" when the
# cold figures are left out).
both() {
  local warm cold=-
  warm=$(prep=warm median "$@")
  if [ "$cache" = both ]; then cold=$(prep=cold median "$@" | cut -d' ' -f1); fi
  printf '%s %s\n' "$warm" "$cold"
}

# The runs, each starting from no output.
lib_sign() { rm -f "$f.lib.p7"; lib sign file dni-sign dni-auth MD5WITHRSA "$(winpath "$f")" "$(winpath "$f.lib.p7")"; }
lib_check() { rm -f "$f.lib.out"; lib check "$(winpath "$f.lib.p7")" "$(winpath "$f.lib.out")"; }
cp_run() { rm -f "$f.cp"; native cp "$1" "$f.cp"; }
cp_sync_run() { rm -f "$f.cp"; native sh -c 'cp "$1" "$2" && sync "$2"' sh "$1" "$f.cp"; }
md5_run() { native md5sum "$1"; }
ossl_sign() {
  rm -f "$f.ossl.p7"
  native openssl cms -sign -binary -nodetach -stream -outform DER -md md5 "${signer[@]}" \
    -in "$f" -out "$f.ossl.p7"
}
ossl_check() { rm -f "$f.ossl.out"; native openssl cms -verify -inform DER -binary -noverify -in "$f.lib.p7" -out "$f.ossl.out"; }
lib_psign() { rm -f "$m.lib.b64"; lib pipeline-sign dni-sign dni-auth "$(winpath "$m")" "$(winpath "$m.lib.b64")" 1 1; }
lib_pcheck() { rm -f "$m.lib.out"; lib pipeline-check dni-sign dni-auth "$(winpath "$m.lib.b64")" "$(winpath "$m.lib.out")" 1 1; }
sh_psign() {
  rm -f "$m.sh.b64"
  native sh -c 'gzip -c "$1" | openssl cms -sign -binary -nodetach -stream -outform DER -md md5 \
    -signer "$2" -inkey "$3" | base64 -w0 > "$4"' sh "$m" "$pki/certs/dni-sign.pem" \
    "$pki/keys/dni-sign.key.pem" "$m.sh.b64"
}
sh_pcheck() {
  rm -f "$m.sh.out"
  native sh -c 'base64 -d "$1" | openssl cms -verify -inform DER -binary -noverify | gunzip > "$2"' \
    sh "$m.sh.b64" "$m.sh.out"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "-" || b == "-" || b <= 0) printf "-"; else printf "%.2f", a / b }'; }
row() { # size what lib-op lib-wall lib-peak other-name other-ms other-peak [cold-lib-op cold-other-ms]
  local clo=${9:--} cms=${10:--}
  printf '%-8s %-16s %9s %9s %7s  %-14s %8s %6s %6s %9s %8s %6s\n' "$1" "$2" "$3" "$4" "$(($5 / 1024))" \
    "$6" "$7" "$(ratio "$3" "$7")" "$(($8 / 1024))" "$clo" "$cms" "$(ratio "$clo" "$cms")"
}

echo "load average at start: $(cut -d' ' -f1-3 /proc/loadavg); runs per figure: $reps (median)"
[ -z "$cold_note" ] || echo "$cold_note"
printf '%-8s %-16s %9s %9s %7s  %-14s %8s %6s %6s %9s %8s %6s\n' size work lib-op-ms lib-wall lib-MiB \
  against ms op/it it-MiB cold-op-ms cold-ms op/it
block=$work/block
seq 1 200000 > "$work/seq"
{ head -c 262144 /dev/urandom; head -c 786432 "$work/seq"; } > "$block"
rm -f "$work/seq"
for mib in "${@:-1 100 1024}"; do
  for s in $mib; do
    f=$work/data
    m=$work/mixed
    head -c $((s * 1024 * 1024)) /dev/urandom > "$f"
    for ((i = 0; i < s; i++)); do cat "$block"; done > "$m"

    read -r lo lw lp clo < <(both lib_sign)
    read -r cms cmp_ ccms < <(both cp_run "$f")
    read -r sms smp csms < <(both cp_sync_run "$f")
    read -r mms mmp cmms < <(both md5_run "$f")
    read -r oms omp coms < <(both ossl_sign)
    row "${s}MiB" sign "$lo" "$lw" "$lp" cp "$cms" "$cmp_" "$clo" "$ccms"
    row "" "" "$lo" "$lw" "$lp" "cp+fsync" "$sms" "$smp" "$clo" "$csms"
    row "" "" "$lo" "$lw" "$lp" md5sum "$mms" "$mmp" "$clo" "$cmms"
    row "" "" "$lo" "$lw" "$lp" "openssl cms" "$oms" "$omp" "$clo" "$coms"
    read -r lo lw lp clo < <(both lib_check)
    cmp -s "$f" "$f.lib.out" || { echo "decoded content differs" >&2; exit 1; }
    read -r cms cmp_ ccms < <(both cp_run "$f.lib.p7")
    read -r oms omp coms < <(both ossl_check)
    row "" check "$lo" "$lw" "$lp" cp "$cms" "$cmp_" "$clo" "$ccms"
    row "" "" "$lo" "$lw" "$lp" "openssl cms" "$oms" "$omp" "$clo" "$coms"
    rm -f "$f".*
    read -r scms scmp sccms < <(both cp_run "$f")

    read -r lo lw lp < <(median lib_psign)
    read -r psms psmp < <(median sh_psign)
    row "" "pipeline sign" "$lo" "$lw" "$lp" "shell pipeline" "$psms" "$psmp"
    read -r lo lw lp < <(median lib_pcheck)
    cmp -s "$m" "$m.lib.out" || { echo "pipeline content differs" >&2; exit 1; }
    read -r pms pmp < <(median sh_pcheck)
    cmp -s "$m" "$m.sh.out" || { echo "shell pipeline content differs" >&2; exit 1; }
    row "" "pipeline check" "$lo" "$lw" "$lp" "shell pipeline" "$pms" "$pmp"
    read -r es ec ps pc ew ep < <(median exports)
    ces=- cec=-
    if [ "$cache" = both ]; then
      ces=$(prep=cold median export_one sign "$f" "$f.dll.p7")
      cec=$(prep=cold median export_one check "$f.dll.p7" "$f.dll.out")
      [ -n "$ces" ] && [ -n "$cec" ] && cmp -s "$f" "$f.dll.out" ||
        { echo "exports, one call per run, failed" >&2; exit 1; }
    fi
    row "" "FirmarFichero" "$es" "$ew" "$ep" "cp" "$scms" "$scmp" "$ces" "$sccms"
    row "" "Comprobar..." "$ec" "$ew" "$ep" "cp" "$scms" "$scmp" "$cec" "$sccms"
    row "" "Firmar gz+b64" "$ps" "$ew" "$ep" "shell pipeline" "$psms" "$psmp"
    row "" "Comprobar gz+b64" "$pc" "$ew" "$ep" "shell pipeline" "$pms" "$pmp"
    rm -f "$f" "$f".* "$m" "$m".*
  done
done
echo "load average at end: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "op/it: the library's in-process time over the other's; sign and check on random data,"
echo "the pipelines (gzip inside, Base64 outside) on mixed data (a quarter noise, the rest text)."
echo "sign/check/pipeline: the application object in sessioncli.exe; FirmarFichero/Comprobar...:"
echo "the exports of tarvosel.dll called by tvlhost.exe after an unattended login (wall and MiB:"
echo "the host's whole run); their cp is that of the random file, as for sign."
echo "cold-op-ms, cold-ms: the same after dropping the page cache before each run (the exports"
echo "then one call per host run); the md5sum rows give the hash bound, the cp rows the disk's."
