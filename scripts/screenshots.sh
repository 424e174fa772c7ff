#!/usr/bin/env bash
# Regenerates the README's pictures of the library's dialogs under Xvfb:
# docs/screenshots/NAME.png for each dialog that tools/screenshots/tvlshots
# shows (the login sheet over the test PKI, with its profile page, the profile
# login dialog, the certificate properties, the insert-card dialog, the session
# information dialog for a Windows certificate and for a profile, the
# notification-area icon with its tip). Extra arguments name the dialogs to
# redo.
set -euo pipefail
TVL_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$TVL_ROOT"
bash scripts/setup.sh
. scripts/bench-env.sh
# The width the machine runs (the 32-bit DLL where it can; TVL_ARCH picks one).
TVL_PREFIX_NAME=shots-prefix tvl_arch_use "$(tvl_arches one)"
if [ ! -f "$TVL_BUILD/CMakeCache.txt" ]; then
  cmake -S "$TVL_ROOT" -B "$TVL_BUILD" -DCMAKE_TOOLCHAIN_FILE="$TVL_TOOLCHAIN" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$TVL_BUILD" -j2 --target tvlshots certinstall tvlkeepalive mkepf
trap tvl_env_stop EXIT
tvl_env_start

run() { "$TVL_ROOT/scripts/wine-run.sh" "$@"; }
winpath() { printf 'Z:%s' "$1" | tr '/' '\\'; }
shots=$TVL_BUILD/shots
docs=$TVL_ROOT/docs/screenshots
rm -rf "$shots"
mkdir -p "$shots" "$docs"
# The user's certificates: the whole test PKI (TEST KEYS), as the tests see it.
run "$TVL_BUILD/bin/certinstall.exe" install \
  "$(winpath "$TVL_ROOT/tests/fixtures/pki/install.manifest")" </dev/null >"$shots/certinstall.out" 2>&1
# The profile session's material: the test profile and address-book entries.
python3 "$TVL_ROOT/tests/fixtures/epf/mkepf.py" "$TVL_BUILD/bin/mkepf.exe" "$shots/epf-material" \
  >"$shots/mkepf.out" 2>&1
mkdir -p "$shots/epf"
cp "$shots"/epf-material/user.* "$shots"/epf-material/ab-*.pem "$shots/epf/"
run "$TVL_BUILD/bin/tvlshots.exe" "$(winpath "$shots")" "$(winpath "$TVL_ROOT/tests/fixtures/pki")" \
  "$@" </dev/null
for bmp in "$shots"/*.bmp; do
  name=$(basename "$bmp" .bmp)
  # No dates or other metadata: the same picture gives the same file.
  convert "$bmp" -strip -define png:exclude-chunks=date,time "$docs/$name.png"
  echo "docs/screenshots/$name.png"
done
