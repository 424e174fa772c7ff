#!/usr/bin/env bash
# Builds the PKCS#7 reader fuzz target (clang, libFuzzer, ASan, UBSan) and runs
# it for a bounded time: scripts/fuzz.sh [seconds] (default 60).
# Seeds: messages made with the openssl CLI plus tests/native/cases/*.ber;
# the growing corpus stays in build-fuzz/corpus. Crashes land in
# build-fuzz/artifacts/ and belong in tests/native/cases/ as regressions, copied
# as they are under a name ending in .ber.
set -euo pipefail
cd "$(dirname "$0")/.."
secs="${1:-60}"
out=build-fuzz
mkdir -p "$out/corpus" "$out/seeds" "$out/artifacts"

bin="$out/pkcs7_reader_fuzz"
srcs=(tests/fuzz/pkcs7_reader_fuzz.cpp cert/pkcs7/*.cpp asn1/*.cpp)
if [ ! -x "$bin" ] || [ -n "$(find "${srcs[@]}" cert/pkcs7/*.h asn1/*.h -newer "$bin" 2>/dev/null)" ]; then
  echo "Building $bin"
  clang++ -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I. "${srcs[@]}" -o "$bin"
fi

if [ -z "$(ls -A "$out/seeds")" ]; then
  tmp="$(mktemp -d)"
  trap 'rm -rf "$tmp"' EXIT
  head -c 300 /dev/urandom > "$tmp/content"
  for n in 1 2; do
    openssl req -x509 -newkey rsa:1024 -nodes -keyout "$tmp/k$n" -out "$tmp/c$n" \
      -subj "/CN=Fuzz Seed $n" -days 30 >/dev/null 2>&1
  done
  sign() { openssl cms -sign -binary -nodetach -outform DER -in "$tmp/content" "$@" >/dev/null 2>&1; }
  s1=(-signer "$tmp/c1" -inkey "$tmp/k1")
  s2=(-signer "$tmp/c2" -inkey "$tmp/k2")
  i=0
  for args in "-md md5" "-md md5 -stream" "-md sha1" "-md sha256 -noattr" "-md sha256 -stream"; do
    i=$((i + 1))
    # shellcheck disable=SC2086
    sign $args "${s1[@]}" -out "$tmp/m$i"
    # The first byte picks the block size the target feeds with.
    { printf '\x07'; cat "$tmp/m$i"; } > "$out/seeds/openssl_$i"
  done
  sign -md md5 -stream "${s1[@]}" "${s2[@]}" -out "$tmp/two"
  { printf '\x01'; cat "$tmp/two"; } > "$out/seeds/openssl_two_signers"
fi
# The cases are inputs of this target as they are (block-size byte first).
for f in tests/native/cases/*.ber; do
  [ -e "$f" ] || continue
  cp "$f" "$out/seeds/case_$(basename "$f")"
done

echo "Fuzzing for ${secs}s"
set +e
"$bin" -max_total_time="$secs" -max_len=16384 -malloc_limit_mb=16 -rss_limit_mb=1024 \
  -timeout=10 -print_final_stats=1 -artifact_prefix="$out/artifacts/" \
  "$out/corpus" "$out/seeds" >"$out/last-run.log" 2>&1
status=$?
set -e
grep -E 'INITED|DONE|ERROR|SUMMARY|Done [0-9]+ runs|stat::(number_of_executed_units|peak_rss_mb)' \
  "$out/last-run.log" || true
ls "$out/artifacts" | sed 's/^/artifact: /'
exit "$status"
